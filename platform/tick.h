// The system's 32-bit millisecond tick counter. It comes from the installed
// time source (platform/time_source.h), which tests replace.
#pragma once

#include <cstdint>

namespace chronavel::platform {

// Milliseconds since an arbitrary start, modulo 2^32, from the installed
// time source.
uint32_t GetTickCount();

// The system's own counter (GetTickCount on Windows, the monotonic clock
// elsewhere), never replaced.
uint32_t SystemTickCount();

// True when 'now' has reached or passed 'due', wrap-safe: the difference
// taken modulo 2^32 and read as a signed 32-bit number is 0 or more.
constexpr bool TickReached(uint32_t now, uint32_t due)
{
    return static_cast<int32_t>(now - due) >= 0;
}

} // namespace chronavel::platform

// The system's 32-bit millisecond tick counter, and a way for tests to
// replace it (to start just short of the 2^32 wrap, or to step it by hand).
#pragma once

#include <cstdint>
#include <functional>

namespace chronavel::platform {

// Milliseconds since an arbitrary start, modulo 2^32.
uint32_t GetTickCount();

// The system's own counter (GetTickCount on Windows, the monotonic clock
// elsewhere), never replaced.
uint32_t SystemTickCount();

// Replace the tick source; an empty function restores the real one.
void SetTickSource(std::function<uint32_t()> source);

// True when 'now' has reached or passed 'due', wrap-safe: the difference
// taken modulo 2^32 and read as a signed 32-bit number is 0 or more.
constexpr bool TickReached(uint32_t now, uint32_t due)
{
    return static_cast<int32_t>(now - due) >= 0;
}

} // namespace chronavel::platform

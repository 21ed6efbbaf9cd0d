// Wall-clock helpers for the clocks' time: "local milliseconds" are
// milliseconds since 1970-01-01 00:00 of the local calendar, i.e. the host's
// local time read as if it were UTC. Clock times and host times compare
// directly in this scale, whatever the time zone.
#pragma once

#include "sim/sim.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace chronavel::sim {

int64_t LocalMs(std::chrono::system_clock::time_point t);

// The host's local time at a moment of the steady clock (past or future).
int64_t LocalMsAt(std::chrono::steady_clock::time_point t);

ClockTime ToClockTime(int64_t local_ms);

// False when a field is out of range (day 31 of April, month 13, ...).
bool FromClockTime(const ClockTime& t, int64_t* local_ms);

// Day of the week as on the wire: 2 = Monday .. 8 = Sunday.
int WireDayOfWeek(int64_t local_ms);

// "2024-05-01T12:30:05.123456" for the log.
std::string FormatLocal(int64_t local_us);
int64_t LocalUsAt(std::chrono::steady_clock::time_point t);

inline uint8_t ToBcd(int v)
{
    return static_cast<uint8_t>((v / 10) * 16 + v % 10);
}

// -1 when either nibble is not a decimal digit.
inline int FromBcd(uint8_t b)
{
    if ((b >> 4) > 9 || (b & 0x0F) > 9)
        return -1;
    return (b >> 4) * 10 + (b & 0x0F);
}

} // namespace chronavel::sim

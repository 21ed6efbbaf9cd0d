// Timing a frame on the wire: how long its bytes take and which second
// boundary it can end on. The clocks themselves come from the installed time
// source (platform/time_source.h).
#pragma once

#include "platform/time_source.h"

#include <chrono>
#include <cstddef>

namespace chronavel {

using WallTime = platform::WallTime;
using MonoTime = platform::MonoTime;
using LineDuration = std::chrono::nanoseconds;

// Time on the wire for a number of bytes: 10 bits a byte (start, 8 data,
// stop). Speed 0 or less (unknown): no time.
LineDuration WireTime(size_t bytes, int speed);

// Write leads: the least time between deciding to write and starting it.
constexpr LineDuration kWriteLead = std::chrono::milliseconds(1);

// The second a frame should end on when its write could start at now: the
// first whole second that leaves at least lead + wire, so a frame too long
// for what is left of this second goes one second later.
WallTime FrameEndSecond(WallTime now, LineDuration wire, LineDuration lead = kWriteLead);

// The whole second nearest to t.
WallTime NearestSecond(WallTime t);

} // namespace chronavel

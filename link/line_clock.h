// The clocks a time-setting frame is timed by: the PC's wall clock (what a
// clock is set to), a monotonic clock (how long to wait) and the sleep.
// Tests install their own, so the timing is checked without real waits.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace chronavel {

using WallTime = std::chrono::system_clock::time_point;
using MonoTime = std::chrono::steady_clock::time_point;
using LineDuration = std::chrono::nanoseconds;

struct LineClocks {
    std::function<WallTime()> Wall;
    std::function<MonoTime()> Mono;
    // Sleeps at most d. Empty: the exchange thread's own wait, which a stop
    // request ends at once.
    std::function<void(LineDuration)> Sleep;
};

// Empty members restore the system's clocks and the thread's own wait.
void SetLineClocks(LineClocks clocks);
// A snapshot with every member set (Sleep may stay empty).
LineClocks CurrentLineClocks();

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

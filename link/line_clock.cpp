#include "link/line_clock.h"

#include <mutex>

namespace chronavel {

namespace {

std::mutex clocks_lock;
LineClocks installed; // guarded by clocks_lock

} // namespace

void SetLineClocks(LineClocks clocks)
{
    std::lock_guard<std::mutex> hold(clocks_lock);
    installed = std::move(clocks);
}

LineClocks CurrentLineClocks()
{
    LineClocks c;
    {
        std::lock_guard<std::mutex> hold(clocks_lock);
        c = installed;
    }
    if (!c.Wall)
        c.Wall = [] { return std::chrono::system_clock::now(); };
    if (!c.Mono)
        c.Mono = [] { return std::chrono::steady_clock::now(); };
    return c;
}

LineDuration WireTime(size_t bytes, int speed)
{
    if (speed <= 0)
        return LineDuration::zero();
    // In nanoseconds, exact to the nanosecond for every standard speed.
    const long long bits = static_cast<long long>(bytes) * 10;
    return LineDuration(bits * 1000000000LL / speed);
}

WallTime FrameEndSecond(WallTime now, LineDuration wire, LineDuration lead)
{
    const auto earliest_end = now + std::chrono::duration_cast<WallTime::duration>(wire + lead);
    return std::chrono::ceil<std::chrono::seconds>(earliest_end);
}

WallTime NearestSecond(WallTime t)
{
    return std::chrono::round<std::chrono::seconds>(t);
}

} // namespace chronavel

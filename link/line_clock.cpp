#include "link/line_clock.h"

namespace chronavel {

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

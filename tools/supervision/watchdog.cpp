#include "tools/supervision/watchdog.h"

#include <utility>

namespace chronavel::ctl {

Watchdog::Watchdog(std::optional<std::chrono::microseconds> interval, std::function<void()> ping)
    : interval_(interval), ping_(std::move(ping))
{
}

bool Watchdog::Feed(Clock::time_point now, std::optional<uint64_t> exchange_passes)
{
    if (!interval_)
        return false;
    if (last_ping_ && now - *last_ping_ < *interval_ / 2)
        return false;
    // The same count as at the last ping: the exchange has not moved for at
    // least half an interval.
    if (exchange_passes && last_passes_ && *exchange_passes == *last_passes_)
        return false;
    last_ping_ = now;
    last_passes_ = exchange_passes;
    ping_();
    return true;
}

} // namespace chronavel::ctl

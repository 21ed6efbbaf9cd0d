#include "platform/clock_sync.h"

#include <mutex>

namespace chronavel::platform {

namespace {
std::mutex source_lock;
std::function<ClockSync()> source; // guarded by source_lock
} // namespace

ClockSync QueryClockSync()
{
    {
        std::lock_guard<std::mutex> hold(source_lock);
        if (source)
            return source();
    }
    return SystemClockSync();
}

void SetClockSyncSource(std::function<ClockSync()> fn)
{
    std::lock_guard<std::mutex> hold(source_lock);
    source = std::move(fn);
}

} // namespace chronavel::platform

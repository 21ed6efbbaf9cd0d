#include "platform/time_source.h"

#include <time.h>

namespace chronavel::platform {

// The boot-time clock runs on through a suspend, the monotonic one does not.
std::chrono::nanoseconds SystemSuspendedTime()
{
    timespec boot{};
    timespec mono{};
    if (clock_gettime(CLOCK_BOOTTIME, &boot) != 0 || clock_gettime(CLOCK_MONOTONIC, &mono) != 0)
        return std::chrono::nanoseconds::zero();
    return std::chrono::seconds(boot.tv_sec - mono.tv_sec) +
           std::chrono::nanoseconds(boot.tv_nsec - mono.tv_nsec);
}

} // namespace chronavel::platform

#include "platform/service_notify.h"

namespace chronavel::platform {

// No service manager listens for these lines on Windows.
bool NotifyServiceManager(const std::string&)
{
    return false;
}

// Nor does one watch it.
std::optional<std::chrono::microseconds> ServiceWatchdogInterval()
{
    return std::nullopt;
}

} // namespace chronavel::platform

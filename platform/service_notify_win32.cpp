#include "platform/service_notify.h"

namespace chronavel::platform {

// No service manager listens for these lines on Windows.
bool NotifyServiceManager(const std::string&)
{
    return false;
}

} // namespace chronavel::platform

// The port's process-wide places (reset with the rest of the core's state,
// app/core_state.h).
#include "port/port.h"

namespace chronavel {

PortHandleVar PortHandle;

std::atomic<int>& PortIoWaiters()
{
    static std::atomic<int> waiters{0};
    return waiters;
}

std::recursive_mutex& PortIoLock()
{
    static std::recursive_mutex lock;
    return lock;
}

} // namespace chronavel

#include "port/port.h"

namespace chronavel {

PortHandleVar PortHandle;

std::recursive_timed_mutex& PortIoLock()
{
    static std::recursive_timed_mutex lock;
    return lock;
}

} // namespace chronavel

#include "port/port.h"

namespace chronavel {

PortHandleVar PortHandle;

std::recursive_mutex& PortIoLock()
{
    static std::recursive_mutex lock;
    return lock;
}

} // namespace chronavel

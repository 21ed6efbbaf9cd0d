#include "port/port_state.h"

#include "port/decode.h"
#include "port/display.h"
#include "port/port.h"
#include "port/port_list.h"
#include "port/sync.h"

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

void ResetPortState()
{
    PortHandle.Set(nullptr);
    PortIoWaiters().store(0);
    PortNames.fill(std::string());
    NoAnswer.store(0);
    ResetDecodeState();
    ResetDisplayState();
}

} // namespace chronavel

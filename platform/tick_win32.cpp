#include "platform/api_win32.h"
#include "platform/tick.h"

namespace chronavel::platform {

uint32_t SystemTickCount()
{
    return ::GetTickCount();
}

} // namespace chronavel::platform

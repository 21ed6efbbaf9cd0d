#include "platform/tick.h"

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

namespace chronavel::platform {

uint32_t SystemTickCount()
{
    return ::GetTickCount();
}

} // namespace chronavel::platform

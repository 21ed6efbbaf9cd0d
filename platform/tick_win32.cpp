#include "platform/tick.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX // libstdc++ may have defined it already
#define NOMINMAX
#endif
#include <windows.h>

namespace chronavel::platform {

uint32_t SystemTickCount()
{
    return ::GetTickCount();
}

} // namespace chronavel::platform

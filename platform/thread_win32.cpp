#include "platform/thread.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX // libstdc++ may have defined it already
#define NOMINMAX
#endif
#include <windows.h>

namespace chronavel::platform {

void LowerThreadPriority()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

} // namespace chronavel::platform

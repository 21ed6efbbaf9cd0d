#include "platform/api_win32.h"
#include "platform/thread.h"

namespace chronavel::platform {

void LowerThreadPriority()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

} // namespace chronavel::platform

#include "platform/thread.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace chronavel::platform {

void LowerThreadPriority()
{
    // On Linux a thread's nice value is its own: one more is one step down.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int nice_now = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, nice_now + 1);
}

} // namespace chronavel::platform

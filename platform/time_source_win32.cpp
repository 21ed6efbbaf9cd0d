#include "platform/time_source.h"

namespace chronavel::platform {

// Not asked of the system yet: a resume then shows as a step of the wall
// clock, which brings the same synchronisation.
std::chrono::nanoseconds SystemSuspendedTime()
{
    return std::chrono::nanoseconds::zero();
}

} // namespace chronavel::platform

// Scheduling of the calling thread.
#pragma once

namespace chronavel::platform {

// Puts the calling thread one step below normal priority, so the window
// thread is served first. Failure (no permission) leaves it as it is.
void LowerThreadPriority();

} // namespace chronavel::platform

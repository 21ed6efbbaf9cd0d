#include "tools/tool_state.h"

#include "app/core_state.h"
#include "tools/line.h"
#include "tools/tool_host.h"
#include "tools/tracker.h"

namespace chronavel::ctl {

void ResetToolState()
{
    ResetCoreState(); // first: it stops the exchange thread the tracker hears
    StopRequested.store(false);
    StopSignal.store(0);
    CensusRequested.store(false);
    ResetTracker();
    SendOutputTo(nullptr);
}

} // namespace chronavel::ctl

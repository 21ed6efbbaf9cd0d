#include "tools/line/tool_state.h"

#include "app/core_state.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/line/tracker.h"

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

#include "link/link_state.h"

#include "link/exchange.h"
#include "link/frame_trace.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "link/switch_master.h"

namespace chronavel {

void ResetLinkState()
{
    // The thread first: nothing may write the state below while it is reset.
    ResetExchangeState();
    ResetRequestState();
    ResetReception();
    SetLineStopHook(nullptr);
    ResetMasterFlags();
    SetSwitchMasterSleep(nullptr);
    RemoveAllFrameObservers();
}

} // namespace chronavel

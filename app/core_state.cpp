#include "app/core_state.h"

#include "app/ini_file_chronavel.h"
#include "app/line_overview.h"
#include "app/master_search.h"
#include "app/time_sync.h"
#include "config/register_values.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "link/switch_master.h"
#include "port/decode.h"
#include "port/display.h"
#include "port/port.h"
#include "port/port_list.h"
#include "port/sync.h"

namespace chronavel {

void ResetCoreState()
{
    // The thread first: nothing may write the state below while it is reset.
    ResetExchangeState();
    ResetRequestState();
    ResetReception();
    SetLineStopHook(nullptr);
    ResetMasterFlags();
    SetSwitchMasterSleep(nullptr);
    NoAnswer.store(0);
    PortHandle.Set(nullptr);
    PortNames.fill(std::string());
    ResetClockSettings();
    ResetAnswered();
    RememberCensus({});
    Overview().Clear();
    ResetDecodeState();
    ResetDisplayState();
    ResetSettings();
}

} // namespace chronavel

#include "app/core_state.h"

#include "app/ini_file_chronavel.h"
#include "app/line_overview.h"
#include "app/master_search.h"
#include "config/register_values.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frame_trace.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "link/switch_master.h"
#include "link/timed_write.h"
#include "port/decode.h"
#include "port/display.h"
#include "port/port.h"
#include "port/port_list.h"

#include <algorithm>
#include <array>
#include <string>

namespace chronavel {

namespace {

void ForgetPort()
{
    PortHandle.Set(nullptr); // the device itself is not closed
}

void NoPortWaiters()
{
    PortIoWaiters().store(0);
}

void ForgetPortNames()
{
    PortNames.fill(std::string());
}

void NoLineStopHook()
{
    SetLineStopHook(nullptr);
}

void RealSwitchMasterSleep()
{
    SetSwitchMasterSleep(nullptr);
}

void ForgetCensus()
{
    RememberCensus({});
}

void ClearOverview()
{
    Overview().Clear();
}

constexpr std::array kPieces = {
    StatePiece{"link", "ExchangeThread", &ResetExchangeState},
    StatePiece{"link", "the reply decoder hook", &ResetExchangeState},
    StatePiece{"link", "the current ring and pending list", &ResetRequestState},
    StatePiece{"link", "the failure handler", &ResetRequestState},
    StatePiece{"link", "MasterActive", &ResetRequestState},
    StatePiece{"link", "the frame ends", &ResetRequestState},
    StatePiece{"link", "Reception's counters", &ResetReception},
    StatePiece{"link", "Reception's bytes and their copy", &ResetReception},
    StatePiece{"link", "the read-error notice", &ResetReception},
    StatePiece{"link", "the frame written last", &ResetReception},
    StatePiece{"link", "the line's stop hook", &NoLineStopHook},
    StatePiece{"link", "the stored master flags", &ResetMasterFlags},
    StatePiece{"link", "SwitchMaster's sleep", &RealSwitchMasterSleep},
    StatePiece{"link", "the frame observers", &RemoveAllFrameObservers},

    StatePiece{"port", "PortHandle", &ForgetPort},
    StatePiece{"port", "PortIoWaiters()", &NoPortWaiters},
    StatePiece{"port", "PortNames", &ForgetPortNames},
    StatePiece{"port", "MasterAddress", &ResetDecodeState},
    StatePiece{"port", "the text block", &ResetDecodeState},
    StatePiece{"port", "the display texts", &ResetDisplayState},
    StatePiece{"port", "DisplayTick", &ResetDisplayState},
    StatePiece{"port", "the display sink", &ResetDisplayState},

    StatePiece{"config", "ClockSettings", &ResetClockSettings},
    StatePiece{"config", "Registers", &ResetClockSettings},
    StatePiece{"config", "each clock's answered registers", &ResetAnswered},

    StatePiece{"app", "Connection", &ResetSettings},
    StatePiece{"app", "the settings file object", &ResetSettings},
    StatePiece{"app", "the census remembered", &ForgetCensus},
    StatePiece{"app", "the line overview", &ClearOverview},
};

} // namespace

std::span<const StatePiece> CoreStatePieces()
{
    return kPieces;
}

void ResetCoreState()
{
    for (auto piece = kPieces.begin(); piece != kPieces.end(); ++piece) {
        const auto first = std::find_if(
            kPieces.begin(), piece, [&](const StatePiece& p) { return p.Reset == piece->Reset; });
        if (first == piece)
            piece->Reset();
    }
}

} // namespace chronavel

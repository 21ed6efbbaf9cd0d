#include "app/core_state.h"

#include "app/ini_file_chronavel.h"
#include "app/line_overview.h"
#include "app/master_search.h"
#include "config/config_state.h"
#include "link/link_state.h"
#include "port/port_state.h"

namespace chronavel {

void ResetAppState()
{
    ResetSettings();
    RememberCensus({});
    Overview().Clear();
}

void ResetCoreState()
{
    // The link first: it stops the exchange thread, so nothing writes the
    // state below while it is reset.
    ResetLinkState();
    ResetPortState();
    ResetConfigState();
    ResetAppState();
}

} // namespace chronavel

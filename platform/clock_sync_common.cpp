#include "platform/clock_sync.h"

#include <algorithm>
#include <cctype>

namespace chronavel::platform {

// A clock some time service steers is synchronised, whichever service it
// is. Otherwise only a Windows time service that can never synchronise (set
// to NoSync, or disabled) says "unsynchronised": one that merely is not
// running now is started by its triggers and its weekly task, and syncs
// then, which nothing here can see. Without the service (Wine, a stripped
// system) nothing can be said.
ClockSync ClockSyncFromWindowsTime(const WindowsTimeFacts& facts)
{
    ClockSync s;
    if (facts.Steered) {
        s.State = ClockSyncState::kSynchronised;
        return s;
    }
    if (!facts.ServiceKnown)
        return s;
    std::string type = facts.Type;
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (type == "nosync" || facts.ServiceDisabled)
        s.State = ClockSyncState::kUnsynchronised;
    return s;
}

} // namespace chronavel::platform

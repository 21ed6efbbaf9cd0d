#include "platform/clock_sync.h"

#include <sys/timex.h>

namespace chronavel::platform {

// The kernel's NTP state, read without changing anything (no privilege
// needed). It is unsynchronised until a time service (ntpd, chrony,
// systemd-timesyncd) has disciplined it, and again once that service has
// not updated it for a while (the maximum error then passes its 16 s cap).
ClockSync SystemClockSync()
{
    timex tx{};
    tx.modes = 0;
    const int rc = ntp_adjtime(&tx);
    if (rc < 0)
        return {};
    ClockSync s;
    s.State = (rc == TIME_ERROR || (tx.status & STA_UNSYNC) != 0) ? ClockSyncState::kUnsynchronised
                                                                  : ClockSyncState::kSynchronised;
    s.MaxErrorUs = tx.maxerror;
    return s;
}

} // namespace chronavel::platform

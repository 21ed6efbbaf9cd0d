// The PC's clock as the tool sees it: the state a test may put in a file
// (CHRONAVEL_CLOCK_SYNC_FILE), and the warning before its time is spread.
#pragma once

#include "platform/clock_sync.h"

#include <optional>
#include <string>

namespace chronavel::ctl {

// "synchronised", "unsynchronised" or "unknown", then optionally the
// maximum error in microseconds; nullopt for anything else.
std::optional<platform::ClockSync> ParseClockSyncText(const std::string& text);

// When CHRONAVEL_CLOCK_SYNC_FILE names a file, the PC clock's state is read
// from it at every query (an unreadable or malformed file reads as
// unknown), so tests can set it and change it while the tool runs.
void InstallClockSyncOverride();

// The warning printed when the PC's clock is not synchronised.
std::string UnsynchronisedWarning(const platform::ClockSync& s);

} // namespace chronavel::ctl

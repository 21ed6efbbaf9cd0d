// What `chronavelctl daemon` was asked to do.
#pragma once

#include "tools/web/http_address.h"

#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

struct DaemonOptions {
    int PeriodSeconds = 3600;
    int RetrySeconds = 10;
    bool ShowDisplay = false;
    int Count = 0;                    // stop after this many syncs (0: never); for tests
    bool Supervise = false;           // watch the clocks on the line (census, polls, sweep)
    std::string StateFile;            // JSON state written here when supervising
    std::vector<std::string> OnAlarm; // a program and its arguments run for each alarm change
    int AlarmSpacingSeconds = 60;     // at most one run of it per alarm in this time
    std::string SettingsFile;         // a config export the listed clocks are watched against
    bool RequireSynced = false;       // no sync while the PC's clock is unsynchronised
    // The web face for the building's monitoring (with Supervise).
    std::optional<HttpAddress> Http;
    // Its TLS and passwords (with Http), read again when the file changes.
    std::string WebConfigFile;
};

} // namespace chronavel::ctl

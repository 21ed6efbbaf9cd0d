#include "tools/source_state.h"

#include "app/time_source.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace chronavel::ctl {

using platform::ClockSync;
using platform::ClockSyncState;

std::optional<ClockSync> ParseClockSyncText(const std::string& text)
{
    std::istringstream in(text);
    std::string word;
    if (!(in >> word))
        return std::nullopt;
    ClockSync s;
    if (word == "synchronised")
        s.State = ClockSyncState::kSynchronised;
    else if (word == "unsynchronised")
        s.State = ClockSyncState::kUnsynchronised;
    else if (word != "unknown")
        return std::nullopt;
    long long us = 0;
    if (in >> us) {
        if (us < 0)
            return std::nullopt;
        s.MaxErrorUs = us;
    } else if (!in.eof()) {
        return std::nullopt;
    }
    std::string rest;
    if (in >> rest)
        return std::nullopt;
    return s;
}

void InstallClockSyncOverride()
{
    const char* path = std::getenv("CHRONAVEL_CLOCK_SYNC_FILE");
    if (path == nullptr || *path == '\0')
        return;
    platform::SetClockSyncSource([file = std::string(path)] {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return ParseClockSyncText(text.str()).value_or(ClockSync{});
    });
}

std::string UnsynchronisedWarning(const ClockSync& s)
{
    const std::string bound = s.MaxErrorUs
                                  ? " (maximum error " + ErrorBoundText(*s.MaxErrorUs, false) + ")"
                                  : std::string();
    return "warning: the PC's clock is not synchronised to a time reference" + bound +
           "; the clocks get its time all the same";
}

} // namespace chronavel::ctl

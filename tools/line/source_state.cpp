#include "tools/line/source_state.h"

#include "app/time_source.h"
#include "platform/time_source.h"
#include "platform/utf8_path.h"

#include <cstdlib>
#include <fstream>
#include <memory>
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
    // The system's clocks, with the synchronisation state read from the file.
    class FileSyncSource : public platform::SystemTimeSource {
    public:
        explicit FileSyncSource(std::string file) : file_(std::move(file)) {}
        ClockSync Sync() override
        {
            std::ifstream in(platform::PathFromUtf8(file_));
            std::stringstream text;
            text << in.rdbuf();
            return ParseClockSyncText(text.str()).value_or(ClockSync{});
        }

    private:
        std::string file_;
    };
    platform::SetTimeSource(std::make_shared<FileSyncSource>(path));
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

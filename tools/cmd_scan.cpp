// chronavelctl scan: the master search.
#include "app/master_search.h"
#include "platform/console.h"
#include "tools/commands.h"
#include "tools/line.h"
#include "tools/tool_host.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace chronavel::ctl {

int RunScan(const LineOptions& options)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    const bool tty = platform::StderrIsTerminal();
    // A vanished port ends the search: probing the rest of the addresses
    // would only repeat the line errors.
    std::atomic<bool> stop{false};
    const uint8_t found = SearchMaster(
        options.Speed,
        [tty, &line, &stop](uint8_t candidate) {
            if (StopRequested.load() || line.Lost())
                stop.store(true);
            if (tty)
                std::fprintf(stderr, "\rsearching: address %3d of %d", candidate,
                             kLastSearchAddress);
        },
        &stop);
    if (tty)
        std::fprintf(stderr, "\r%40s\r", "");
    if (line.Lost())
        return PortVanished(options);
    if (found != 0) {
        Print(Hex2(found));
        return kExitOk;
    }
    Print("no master found");
    return kExitNoAnswer;
}

} // namespace chronavel::ctl

// chronavelctl scan: the master search.
#include "app/master_search.h"
#include "tools/commands.h"
#include "tools/line.h"
#include "tools/tool_host.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace chronavel::ctl {

int RunScan(const LineOptions& options)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    const bool tty = isatty(STDERR_FILENO) == 1;
    const uint8_t found = SearchMaster(
        options.Speed,
        [tty](uint8_t candidate) {
            if (tty)
                std::fprintf(stderr, "\rsearching: address %3d of %d", candidate,
                             kLastSearchAddress);
        },
        &StopRequested);
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

// chronavelctl watch: the master's emulated display after each status block.
#include "link/frames.h"
#include "tools/cli/commands.h"
#include "tools/cli/line_args.h"
#include "tools/line/display_output.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/line/tracker.h"

#include <chrono>
#include <memory>
#include <thread>

namespace chronavel::ctl {

int RunWatch(const LineOptions& options, const WatchOptions& watch)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    std::atomic<int> printed{0};
    DisplayWatch display([&](const DisplayTexts& texts) {
        // Blocks past the count still arrive while the tool winds down.
        if (watch.Count > 0 && printed.load() >= watch.Count)
            return;
        Print(watch.Json ? DisplayJson(texts).dump() : DisplayLine(texts));
        printed.fetch_add(1);
    });
    InstallTracker(kBroadcast);
    line.StartExchange();
    while (!StopRequested.load()) {
        if (watch.Count > 0 && printed.load() >= watch.Count)
            break;
        if (line.Lost()) {
            line.Close();
            return PortVanished(options);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    line.Close();
    return kExitOk;
}

Verb AddWatch(CLI::App& app)
{
    struct Args {
        LineArgs line;
        std::string count;
        bool json = false;
    };
    auto a = std::make_shared<Args>();
    auto* sub = app.add_subcommand("watch", "Show the master's emulated display");
    AddPort(*sub, a->line);
    sub->add_option("--count", a->count, "Stop after N status blocks");
    sub->add_flag("--json", a->json, "One JSON object per status block");
    return {.Sub = sub, .Run = [a](DaemonMode) {
                WatchOptions w;
                w.Json = a->json;
                if (!a->count.empty())
                    w.Count = PositiveCount(a->count, "--count");
                return RunWatch(MakeLine(a->line), w);
            }};
}

} // namespace chronavel::ctl

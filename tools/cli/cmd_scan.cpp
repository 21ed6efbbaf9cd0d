// chronavelctl scan: the master search, and with --all the census of the
// line.
#include "app/master_search.h"
#include "platform/console.h"
#include "tools/cli/commands.h"
#include "tools/cli/line_args.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace chronavel::ctl {

namespace {

// The progress on a terminal, and the stop: a vanished port or Ctrl+C ends
// the probing, since the rest of the addresses would only repeat the line
// errors.
SearchProgress Progress(const Line& line, std::atomic<bool>& stop, const char* what)
{
    const bool tty = platform::StderrIsTerminal();
    return [tty, &line, &stop, what](uint8_t candidate) {
        if (StopRequested.load() || line.Lost())
            stop.store(true);
        if (tty)
            std::fprintf(stderr, "\r%s: address %3d of %d", what, candidate, kLastSearchAddress);
    };
}

void EndProgress()
{
    if (platform::StderrIsTerminal())
        std::fprintf(stderr, "\r%40s\r", "");
}

int RunCensus(const LineOptions& options, const ScanOptions& scan, Line& line)
{
    std::atomic<bool> stop{false};
    const auto found = TakeCensus(options.Speed, Progress(line, stop, "census"), &stop);
    EndProgress();
    if (line.Lost())
        return PortVanished(options);
    if (StopRequested.load())
        return kExitNoAnswer;
    if (scan.Json) {
        auto list = nlohmann::json::array();
        for (const CensusEntry& c : found)
            list.push_back({{"addr", c.Addr}, {"master", c.Master}});
        Print(list.dump());
    } else if (found.empty()) {
        Print("no clock answered");
    } else {
        for (const CensusEntry& c : found)
            Print(Hex2(c.Addr) + (c.Master ? " master" : ""));
    }
    return found.empty() ? kExitNoAnswer : kExitOk;
}

} // namespace

int RunScan(const LineOptions& options, const ScanOptions& scan)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    if (scan.All)
        return RunCensus(options, scan, line);
    std::atomic<bool> stop{false};
    const uint8_t found = SearchMaster(options.Speed, Progress(line, stop, "searching"), &stop);
    EndProgress();
    if (line.Lost())
        return PortVanished(options);
    if (found != 0) {
        Print(Hex2(found));
        return kExitOk;
    }
    Print("no master found");
    return kExitNoAnswer;
}

Verb AddScan(CLI::App& app)
{
    struct Args {
        LineArgs line;
        ScanOptions scan;
    };
    auto a = std::make_shared<Args>();
    auto* sub = app.add_subcommand("scan", "Search addresses 1..254 for the master clock");
    AddPort(*sub, a->line);
    auto* all = sub->add_flag("--all", a->scan.All,
                              "Census: every clock that answers, and which is master");
    sub->add_flag("--json", a->scan.Json, "With --all: a JSON array of {addr, master}")->needs(all);
    return {.Sub = sub, .Run = [a](DaemonMode) { return RunScan(MakeLine(a->line), a->scan); }};
}

} // namespace chronavel::ctl

// chronavelctl daemon: the clocks kept in time, one synchronisation at start
// and one per period, through a port that may come and go.
#include "app/time_sync.h"
#include "tools/commands.h"
#include "tools/display_output.h"
#include "tools/line.h"
#include "tools/tool_host.h"
#include "tools/tracker.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

namespace chronavel::ctl {

namespace {

using Clock = std::chrono::steady_clock;

std::string Stamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// Sleeps until the time, or less when a stop is asked for.
void SleepUntil(Clock::time_point until)
{
    while (!StopRequested.load() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

enum class SyncResult { kAnswered, kNoAnswer, kPortLost, kStopped };

SyncResult SyncOnce(Line& line, uint8_t addr)
{
    const TrackerCounts before = Counts();
    if (!Sinkhr_date(addr))
        return SyncResult::kNoAnswer; // a full ring: the line is stuck
    switch (WaitForTotal(before.Total() + 1, line)) {
    case WaitEnd::kInterrupted:
        return SyncResult::kStopped;
    case WaitEnd::kPortLost:
        return SyncResult::kPortLost;
    case WaitEnd::kDone:
        break;
    }
    return Counts().Failed > before.Failed ? SyncResult::kNoAnswer : SyncResult::kAnswered;
}

} // namespace

int RunDaemon(const LineOptions& options, const DaemonOptions& daemon)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    InstallTracker(options.Addr);

    std::unique_ptr<DisplayWatch> display;
    if (daemon.ShowDisplay)
        display = std::make_unique<DisplayWatch>(
            [](const DisplayTexts& texts) { Say("display: " + DisplayLine(texts)); });

    const auto period = std::chrono::seconds(daemon.PeriodSeconds);
    const auto retry = std::chrono::seconds(daemon.RetrySeconds);
    const std::string port = options.Port;
    bool down = false; // said once that the port is away
    int syncs = 0;
    Clock::time_point next_sync = Clock::now();

    Say(Stamp() + " keeping clock " + AddrText(options.Addr) + " on " + port + " in time, every " +
        std::to_string(daemon.PeriodSeconds) + " s");
    while (!StopRequested.load()) {
        if (!line.IsOpen()) {
            if (line.Open(down) != kExitOk) {
                if (!down)
                    Say(Stamp() + " port " + port + " cannot be opened; trying again every " +
                        std::to_string(daemon.RetrySeconds) + " s");
                down = true;
                SleepUntil(Clock::now() + retry);
                continue;
            }
            if (down)
                Say(Stamp() + " port " + port + " is back");
            down = false;
            line.StartExchange();
        }
        if (Clock::now() >= next_sync) {
            const auto started = Clock::now();
            const SyncResult r = SyncOnce(line, options.Addr);
            if (r == SyncResult::kStopped)
                break;
            if (r != SyncResult::kPortLost) {
                Say(Stamp() + " sync " + AddrText(options.Addr) + ": " +
                    (r == SyncResult::kAnswered ? "answered" : "no answer"));
                ++syncs;
                next_sync = started + period;
                if (daemon.Count > 0 && syncs >= daemon.Count)
                    break;
            }
        }
        if (line.Lost()) {
            Say(Stamp() + " port " + port + " has gone away; trying again every " +
                std::to_string(daemon.RetrySeconds) + " s");
            line.Close();
            down = true;
            // A sync that the loss cut short is made up as soon as the port
            // is back; one that was done stays on its period.
            SleepUntil(Clock::now() + retry);
            continue;
        }
        SleepUntil(std::min(next_sync, Clock::now() + std::chrono::milliseconds(200)));
    }
    line.Close();
    Say(Stamp() + " stopped");
    return kExitOk;
}

} // namespace chronavel::ctl

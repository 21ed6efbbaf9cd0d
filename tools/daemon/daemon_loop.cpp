#include "tools/daemon/daemon_loop.h"

#include "app/time_events.h"
#include "app/time_source.h"
#include "app/time_sync.h"
#include "link/exchange.h"
#include "platform/service_notify.h"
#include "tools/daemon/daemon_log.h"
#include "tools/daemon/daemon_options.h"
#include "tools/daemon/requests.h"
#include "tools/daemon/supervisor.h"
#include "tools/line/display_output.h"
#include "tools/line/exit_codes.h"
#include "tools/line/line.h"
#include "tools/line/line_options.h"
#include "tools/line/source_state.h"
#include "tools/line/tool_host.h"
#include "tools/line/tracker.h"
#include "tools/settings/config_file.h"
#include "tools/supervision/watchdog.h"
#include "tools/text/args.h"
#include "tools/text/text.h"
#include "tools/web/http_server.h"
#include "tools/web/http_status.h"
#include "tools/web/web_config.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace chronavel::ctl {

namespace {

using Clock = std::chrono::steady_clock;

// How often a web face that could not listen is tried again.
constexpr std::chrono::seconds kListenRetry{30};

// The loop's feeding of the watchdog; it runs wherever the loop waits.
using Feed = std::function<void()>;

// Sleeps until the time, or less when a stop is asked for.
void SleepUntil(Clock::time_point until, const Feed& feed)
{
    while (!StopRequested.load() && Clock::now() < until) {
        feed();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// The running exchange thread's pass count; nullopt while the port is away.
std::optional<uint64_t> ExchangePasses(const Line& line)
{
    if (!line.IsOpen())
        return std::nullopt;
    const auto thread = ExchangeThread.Get();
    return thread ? thread->Passes() : 0;
}

using SyncResult = DaemonLoop::SyncResult;

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
    case WaitEnd::kGivenUp: // not asked for: the failure is counted below
        break;
    }
    return Counts().Failed > before.Failed ? SyncResult::kNoAnswer : SyncResult::kAnswered;
}

} // namespace

DaemonLoop::DaemonLoop(const LineOptions& options, const DaemonOptions& daemon, Line& line,
                       std::optional<ConfigFile> settings)
    : options_(options), daemon_(daemon), line_(line),
      display_(daemon.ShowDisplay ? std::make_unique<DisplayWatch>([](const DisplayTexts& texts) {
          Say("display: " + DisplayLine(texts));
      })
                                  : nullptr),
      supervisor_(std::make_unique<Supervisor>(options, daemon)), period_(daemon.PeriodSeconds),
      retry_(daemon.RetrySeconds), port_(ValidUtf8(options.Port)), next_sync_(Clock::now()),
      next_listen_(Clock::now()), watchdog_(platform::ServiceWatchdogInterval(),
                                            [] { platform::NotifyServiceManager("WATCHDOG=1"); }),
      feed_([this] {
          watchdog_.Feed(Clock::now(), ExchangePasses(line_));
          supervisor_->Tend();
      })
{
    if (settings)
        supervisor_->UseSettings(std::move(*settings));
    else
        supervisor_->UseNoSettings();
    if (daemon.Http) {
        board_ = std::make_shared<StatusBoard>();
        supervisor_->ShareOn(board_);
        Listen();
    }
}

DaemonLoop::~DaemonLoop() = default;

void DaemonLoop::Listen()
{
    if (!daemon_.Http || server_ || Clock::now() < next_listen_)
        return;
    std::string error;
    WebConfig web;
    if (!daemon_.WebConfigFile.empty()) {
        web_stamp_ = WebConfigStamp(daemon_.WebConfigFile, web);
        if (std::string why = LoadWebConfig(daemon_.WebConfigFile, web); !why.empty())
            error = "--web-config: " + why;
        else
            web_stamp_ = WebConfigStamp(daemon_.WebConfigFile, web);
    }
    if (error.empty())
        server_ = StatusServer::Start(*daemon_.Http, board_, HttpLimits{},
                                      daemon_.WebConfigFile.empty() ? nullptr : &web, &error);
    if (!server_) {
        if (supervisor_->HttpFailed(error))
            Log("web face: " + error +
                "; the clocks are kept in time all the same, trying again every " +
                std::to_string(kListenRetry.count()) + " s");
        next_listen_ = Clock::now() + kListenRetry;
        return;
    }
    supervisor_->HttpListening(server_->Port());
    web_fault_.clear();
    const std::string& name = daemon_.Http->Host;
    Log(std::string("serving ") + (web.Tls() ? "https" : "http") + "://" +
        (name.find(':') != std::string::npos ? "[" + name + "]" : name) + ":" +
        std::to_string(server_->Port()) + "/ (/metrics, /status.json)");
}

void DaemonLoop::ReloadWeb()
{
    const bool asked = ReloadRequested.exchange(false);
    if (!server_ || daemon_.WebConfigFile.empty())
        return;
    const auto now = Clock::now();
    if (!asked && now < next_web_check_)
        return;
    next_web_check_ = now + std::chrono::seconds(1);
    WebConfig web;
    std::string why = LoadWebConfig(daemon_.WebConfigFile, web);
    const std::string stamp = WebConfigStamp(daemon_.WebConfigFile, web);
    if (!asked && stamp == web_stamp_)
        return;
    web_stamp_ = stamp;
    if (why.empty())
        server_->Reconfigure(&web, &why);
    if (!why.empty()) {
        why = "--web-config: " + why;
        if (asked || why != web_fault_)
            Log("web face: " + why + "; the last good configuration is kept");
        web_fault_ = why;
        return;
    }
    web_fault_.clear();
    Log("web face: --web-config read again (" + std::string(web.Tls() ? "TLS" : "no TLS") + ", " +
        std::to_string(web.Users.size()) + " user" + (web.Users.size() == 1 ? "" : "s") + ")");
}

// The loop's state for the web face, given before each wait.
void DaemonLoop::ShareLoop()
{
    const auto wall =
        std::time(nullptr) +
        std::chrono::duration_cast<std::chrono::seconds>(next_sync_ - Clock::now()).count();
    supervisor_->SetLoop(line_.IsOpen() && !line_.Lost(), wall);
}

// Ready once the first round is done (the port opened or found missing, the
// first census and sync made).
void DaemonLoop::MarkReady()
{
    if (!ready_)
        platform::NotifyServiceManager("READY=1");
    ready_ = true;
}

void DaemonLoop::CheckSource()
{
    if (const platform::ClockSync now = platform::QueryClockSync(); now.State != source_.State) {
        Log("PC clock: " + TimeSourceWords(now) + ", was " + TimeSourceKey(source_.State));
        // The clocks missed a sync for it: they get one now.
        if (skipped_ && SyncMayProceed(now.State, daemon_.RequireSynced)) {
            next_sync_ = Clock::now();
            skipped_ = false;
        }
        source_ = now;
        supervisor_->SetSource(source_);
        if (supervisor_->On() && !supervisor_->JudgeAlarms())
            supervisor_->Publish();
    } else {
        source_ = now;
        supervisor_->SetSource(source_);
    }
}

void DaemonLoop::WaitForPort()
{
    down_ = true;
    MarkReady();
    ShareLoop();
    SleepUntil(Clock::now() + retry_, feed_);
}

DaemonLoop::SyncResult DaemonLoop::SyncAndSay(const std::string& why)
{
    const SyncResult r = SyncOnce(line_, options_.Addr);
    if (r == SyncResult::kStopped || r == SyncResult::kPortLost)
        return r;
    // Counted and shown alike whatever called for it, so the state file
    // and the metrics see every sync.
    const bool answered = r == SyncResult::kAnswered;
    const std::string outcome =
        supervisor_->On() ? supervisor_->Judge(answered) : (answered ? "answered" : "no answer");
    Log("sync " + AddrText(options_.Addr) + (why.empty() ? "" : " (" + why + ")") + ": " + outcome);
    if (answered)
        event_due_.reset();
    return r;
}

void DaemonLoop::TakeRequests()
{
    if (CensusRequested.exchange(false)) {
        Log("SIGHUP: a census of the line is asked for");
        supervisor_->WantCensus("SIGHUP");
    }
    if (daemon_.StateFile.empty() || Clock::now() < next_requests_)
        return;
    next_requests_ = Clock::now() + std::chrono::seconds(1);
    std::vector<std::string> errors;
    for (const DaemonRequest& r : ctl::TakeRequests(daemon_.StateFile, &errors))
        supervisor_->Take(r);
    for (const std::string& e : errors)
        Log("request ignored: " + e);
}

bool DaemonLoop::PeriodSync()
{
    const auto due = next_sync_;
    if (!SyncMayProceed(source_.State, daemon_.RequireSynced)) {
        Log("sync " + AddrText(options_.Addr) + ": skipped, the PC's clock is not synchronised");
        skipped_ = true;
        supervisor_->Skipped();
    } else {
        const SyncResult r = SyncAndSay("");
        if (r == SyncResult::kStopped)
            return false;
        if (r == SyncResult::kPortLost)
            return true; // made up as soon as the port is back
        skipped_ = false;
    }
    if (!synced_once_)
        supervisor_->WantCensus("after the first sync");
    synced_once_ = true;
    ++syncs_;
    next_sync_ = skipped_ ? Clock::now() + period_
                          : NextFrameAfterSync(due, Clock::now(), period_,
                                               supervisor_->LongestTask(Clock::now()));
    if (daemon_.Count > 0 && syncs_ >= daemon_.Count) {
        // A counted run still leaves a census behind it.
        while (supervisor_->CensusPending() && !StopRequested.load() && !line_.Lost()) {
            feed_();
            supervisor_->CensusStep(line_);
        }
        return false;
    }
    return true;
}

bool DaemonLoop::RunTask(LineTask task)
{
    switch (task) {
    case LineTask::kTimeFrame:
        return PeriodSync();
    case LineTask::kEventSync: {
        const std::string why = *event_due_;
        if (!SyncMayProceed(source_.State, daemon_.RequireSynced)) {
            Log(why + "; no sync, the PC's clock is not synchronised");
            event_due_.reset();
            return true;
        }
        const SyncResult r = SyncAndSay(why);
        if (r == SyncResult::kStopped)
            return false;
        // Unanswered, the period's next sync is the next try.
        if (r != SyncResult::kPortLost)
            event_tried_ = true;
        return true;
    }
    case LineTask::kPoll:
    case LineTask::kSweep:
        supervisor_->Poll(line_);
        return true;
    case LineTask::kCensus:
        supervisor_->CensusStep(line_);
        return true;
    case LineTask::kDriftRead:
        supervisor_->DriftRead(line_);
        return true;
    case LineTask::kNone:
        break;
    }
    return true;
}

int DaemonLoop::Run()
{
    Log("keeping clock " + AddrText(options_.Addr) + " on " + port_ + " in time, every " +
        std::to_string(daemon_.PeriodSeconds) + " s" +
        (daemon_.Supervise ? ", watching the clocks on the line" : "") +
        (daemon_.RequireSynced ? ", while the PC's clock is synchronised" : ""));
    // The PC's clock, said at start (the one warning when unsynchronised)
    // and again at every change between synchronised and not.
    source_ = platform::QueryClockSync();
    Log(source_.State == platform::ClockSyncState::kUnsynchronised
            ? UnsynchronisedWarning(source_)
            : "PC clock: " + TimeSourceWords(source_));
    supervisor_->SetSource(source_);
    // What is known from the first second (the port, the period, the PC's
    // clock), so the state file and the web face are there before the first
    // census, and the face never answers "no state yet".
    if (supervisor_->On())
        supervisor_->Publish();
    events_.Check();
    while (!StopRequested.load()) {
        Listen();
        ReloadWeb();
        CheckSource();
        TakeRequests();
        if (!line_.IsOpen()) {
            if (line_.Open(down_) != kExitOk) {
                if (!down_)
                    Log("port " + port_ + " cannot be opened; trying again every " +
                        std::to_string(daemon_.RetrySeconds) + " s");
                WaitForPort();
                continue;
            }
            if (down_)
                Log("port " + port_ + " is back");
            down_ = false;
            event_tried_ = false;
            line_.StartExchange();
            ShareLoop(); // the port's alarm clears now, not after the census
        }
        if (const std::optional<TimeEvent> event = events_.Check()) {
            // The event stays due until a sync after it has been answered:
            // one seen while the port is away (a resume, the adapter not
            // back yet) is made up once it is.
            event_due_ = TimeEventWords(*event);
            event_tried_ = false;
            if (Clock::now() >= next_sync_ && !line_.Lost())
                Log(*event_due_); // the sync due now serves it
            else if (line_.Lost())
                Log(*event_due_ + "; the sync follows once the port is back");
        }
        if (line_.Lost()) {
            Log("port " + port_ + " has gone away; trying again every " +
                std::to_string(daemon_.RetrySeconds) + " s");
            line_.Close();
            supervisor_->PortLost();
            // A sync that the loss cut short is made up as soon as the port
            // is back; one that was done stays on its period.
            WaitForPort();
            continue;
        }
        const auto now = Clock::now();
        ScheduleInput in;
        in.Now = now;
        in.FrameDue = next_sync_;
        in.EventDue = event_due_ && !event_tried_;
        if (synced_once_) {
            in.Poll = supervisor_->PollSlot(now);
            in.Census = supervisor_->CensusSlot(now);
            in.DriftRead = supervisor_->DriftSlot();
            in.Sweep = supervisor_->SweepSlot(now);
        }
        const ScheduleChoice choice = NextTask(in);
        if (choice.Task != LineTask::kNone) {
            feed_();
            if (!RunTask(choice.Task))
                break;
            continue;
        }
        MarkReady();
        ShareLoop();
        line_.SayEchoOnce();
        SleepUntil(std::min(choice.WakeAt.value_or(next_sync_),
                            Clock::now() + std::chrono::milliseconds(200)),
                   feed_);
    }
    StatusServer::Stop(std::move(server_), std::chrono::milliseconds(300));
    line_.Close();
    platform::NotifyServiceManager("STOPPING=1");
    Log("stopped");
    return kExitOk;
}

} // namespace chronavel::ctl

#include "tools/daemon_loop.h"

#include "app/master_search.h"
#include "app/time_events.h"
#include "app/time_source.h"
#include "app/time_sync.h"
#include "config/registers.h"
#include "config/write_settings.h"
#include "link/exchange.h"
#include "link/timed_write.h"
#include "platform/atomic_file.h"
#include "platform/local_time.h"
#include "platform/service_notify.h"
#include "tools/alarm_runner.h"
#include "tools/alarms.h"
#include "tools/commands.h"
#include "tools/config_file.h"
#include "tools/display_output.h"
#include "tools/http_server.h"
#include "tools/http_status.h"
#include "tools/line.h"
#include "tools/source_state.h"
#include "tools/supervision.h"
#include "tools/tool_host.h"
#include "tools/tracker.h"
#include "tools/watchdog.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace chronavel::ctl {

namespace {

using Clock = std::chrono::steady_clock;

// How often a web face that could not listen is tried again.
constexpr std::chrono::seconds kListenRetry{30};

std::string Stamp()
{
    const std::time_t now = std::time(nullptr);
    const std::tm tm = platform::LocalCalendar(now);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

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

// The census and what follows from it: the log lines, the state file, the
// service manager's status line.
class Supervisor {
public:
    Supervisor(const LineOptions& line, const DaemonOptions& daemon)
        : line_(line), daemon_(daemon), shown_port_(ValidUtf8(line.Port)), alarms_(shown_port_),
          last_answered_(std::time(nullptr))
    {
        if (!daemon.Supervise)
            return;
        // The history beside the state file outlives a restart; alarms it
        // left open stay raised until judged again.
        if (!daemon.StateFile.empty()) {
            alarm_log_.emplace(daemon.StateFile + ".alarms.jsonl");
            alarms_.Restore(alarm_log_->Load(kAlarmHistory));
        }
        if (!daemon.OnAlarm.empty())
            runner_ = std::make_unique<AlarmRunner>(
                daemon.OnAlarm, shown_port_, [](const std::string& l) { Say(Stamp() + " " + l); },
                std::chrono::seconds(daemon.AlarmSpacingSeconds));
    }

    bool On() const { return daemon_.Supervise; }

    // Takes the census on the open line; false when it was cut short (stop,
    // port lost), and nothing is concluded from it.
    bool Census(Line& line, const Feed& feed)
    {
        const auto started = Clock::now();
        std::atomic<bool> stop{false};
        census_at_ = 0;
        Share();
        const auto found = TakeCensus(
            line_.Speed,
            [&](uint8_t addr) {
                feed();
                if (StopRequested.load() || line.Lost())
                    stop.store(true);
                // The web face shows the progress, a step of 16 at a time
                // (not back again for the clocks asked twice at the end).
                if (addr % 16 == 0 && addr > census_at_.value_or(0)) {
                    census_at_ = addr;
                    Share();
                }
            },
            &stop, state_.Known(), &delays_);
        census_at_.reset();
        if (stop.load()) {
            Share();
            return false;
        }
        census_taken_ = true;
        last_duration_ = Clock::now() - started;
        census_seconds_ = std::chrono::duration<double>(last_duration_).count();
        for (const std::string& l : state_.TakeCensus(found, std::time(nullptr)))
            Say(Stamp() + " " + l);
        JudgeAlarms();
        Publish();
        return true;
    }

    bool CensusTaken() const { return census_taken_; }

    // --settings: the listed clocks' settings are read between syncs, one
    // clock a slot (the period, or shorter so that a round takes an hour at
    // most), and compared with the file; a clock that differs raises
    // settings_drift. Nothing is ever written.
    void UseSettings(ConfigFile file)
    {
        for (auto& [addr, values] : file.Clocks) {
            values.Forget(kRegClockAddr); // the key is where the clock is reached
            if (!values.Known().empty())
                drift_wanted_[addr] = values;
        }
        const auto clocks = static_cast<long>(std::max<size_t>(1, drift_wanted_.size()));
        drift_slot_ = std::min<Clock::duration>(std::chrono::seconds(daemon_.PeriodSeconds),
                                                std::chrono::seconds(3600 / clocks));
    }

    // Reads on while there is room before deadline (the next census or time
    // frame): register by register, so a read never runs into it; a clock
    // half read goes on in the next gap.
    void CheckDrift(const Line& line, Clock::time_point deadline, const Feed& feed)
    {
        if (drift_wanted_.empty())
            return;
        if (drift_regs_.empty()) {
            if (Clock::now() < drift_next_)
                return;
            auto it = drift_wanted_.upper_bound(drift_addr_);
            if (it == drift_wanted_.end())
                it = drift_wanted_.begin();
            drift_addr_ = it->first;
            drift_regs_ = it->second.Known();
            drift_read_ = {};
            drift_next_ = Clock::now() + drift_slot_;
        }
        while (!drift_regs_.empty()) {
            if (Clock::now() + kDriftReadRoom > deadline || StopRequested.load() || line.Lost())
                return;
            feed();
            const uint8_t reg = drift_regs_.back();
            const RegisterValues got = line.ReadRegisters(drift_addr_, {reg}, kDriftReadLimit);
            if (!got.Has(reg)) {
                // Silent or busy: nothing is concluded; its turn comes again.
                drift_regs_.clear();
                return;
            }
            drift_read_.Set(reg, got.At(reg));
            drift_regs_.pop_back();
        }
        std::vector<std::string> differing;
        for (const SettingDifference& d : CompareSettings(drift_read_, drift_wanted_[drift_addr_]))
            differing.push_back(d.Name + " " + d.Clock + ", в файле " + d.File);
        drift_[drift_addr_] = differing;
        const auto events = alarms_.Drift(drift_addr_, differing, std::time(nullptr));
        Handle(events);
        Publish();
    }

    // Reaps, and kills what overran, among the --on-alarm programs; called
    // wherever the loop waits.
    void Tend()
    {
        if (runner_)
            runner_->Poll(Clock::now());
    }

    // How long before a sync the census starts: the last one's length and a
    // little more.
    Clock::duration Lead() const { return last_duration_ + std::chrono::seconds(2); }

    // The outcome line of a sync. A broadcast is answered by one clock at
    // most, so it is judged by the census instead: it reached the clocks
    // that answered it.
    std::string Judge(bool answered)
    {
        const std::time_t now = std::time(nullptr);
        if (line_.Addr == 0xFF && !census_taken_)
            return "sent; the census of the line follows"; // nothing to judge it by yet
        state_.Synced(line_.Addr, answered, now);
        const int n = state_.Answering();
        // A broadcast reached the clocks answering the census, if any.
        const bool reached = line_.Addr != 0xFF ? answered : n > 0;
        ++(reached ? tally_.Answered : tally_.Unanswered);
        if (reached)
            last_answered_ = now;
        JudgeAlarms();
        Publish();
        if (line_.Addr != 0xFF)
            return answered ? "answered" : "no answer";
        if (n == 0)
            return "no clock answering the census";
        std::string text = "sent to " + std::to_string(n) + " clock" + (n == 1 ? "" : "s") +
                           " answering the census";
        const auto silent = state_.Silent();
        if (!silent.empty()) {
            text += "; silent:";
            for (uint8_t a : silent)
                text += " " + Hex2(a);
        }
        return text;
    }

    // The PC's clock as the time source; in the state file and the status
    // line from the next Publish on.
    void SetSource(const platform::ClockSync& source) { source_ = source; }

    // A sync skipped for the PC's clock.
    void Skipped()
    {
        ++tally_.Skipped;
        Share();
    }

    // The web face's snapshots go to this board from now on.
    void ShareOn(std::shared_ptr<StatusBoard> board) { board_ = std::move(board); }

    // The web face could not listen; true when that is news (the first
    // failure, or another reason than the last).
    bool HttpFailed(const std::string& error)
    {
        ++http_failures_;
        const bool news = http_error_ != error;
        http_error_ = error;
        http_ = {{"listening", false}, {"error", error}, {"failures", http_failures_}};
        Publish();
        return news;
    }
    void HttpListening(int port)
    {
        http_error_.clear();
        http_ = {{"listening", true}, {"port", port}, {"failures", http_failures_}};
        Publish();
    }

    // The loop's own state for the web face: whether the port is open, when
    // the next sync is due. Shared when it changes. Given at each pass of
    // the loop, so the alarms that follow time are judged here too.
    void SetLoop(bool port_open, std::time_t next_sync)
    {
        const bool changed = !port_seen_ || port_open != port_open_ || next_sync != next_sync_;
        port_seen_ = true;
        port_open_ = port_open;
        next_sync_ = next_sync;
        if (!JudgeAlarms() && changed)
            Share();
    }

    void Publish()
    {
        const int n = state_.Answering();
        const bool unsynced = source_.State == platform::ClockSyncState::kUnsynchronised;
        platform::NotifyServiceManager("STATUS=" + std::to_string(n) + " clock" +
                                       (n == 1 ? "" : "s") + " answering on " + shown_port_ +
                                       (unsynced ? "; the PC's clock is not synchronised" : ""));
        if (daemon_.StateFile.empty() && !board_)
            return;
        nlohmann::json state = state_.Json(shown_port_, std::time(nullptr));
        state["source"] = {{"state", TimeSourceKey(source_.State)},
                           {"max_error_us", source_.MaxErrorUs ? nlohmann::json(*source_.MaxErrorUs)
                                                               : nlohmann::json(nullptr)}};
        if (!http_.is_null())
            state["http"] = http_;
        state["alarms"] = alarms_.Json()["active"];
        last_state_ = state;
        Share();
        if (daemon_.StateFile.empty())
            return;
        const std::string error = platform::WriteFileAtomically(
            daemon_.StateFile,
            state.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
        // Said once per spell of failures, not at every census.
        if (!error.empty() && !state_error_)
            Say(Stamp() + " state file not written: " + error);
        else if (error.empty() && state_error_)
            Say(Stamp() + " state file written again");
        state_error_ = !error.empty();
    }

    // The alarms judged on what is known now; each change said, kept in
    // the history and handed to --on-alarm. True when something changed
    // (and was published).
    bool JudgeAlarms()
    {
        if (!On())
            return false;
        const std::time_t now = std::time(nullptr);
        LineFacts facts;
        facts.PortOpen = !port_seen_ || port_open_; // unknown until the loop says
        facts.Clocks = census_taken_ ? &state_.Clocks() : nullptr;
        facts.LastAnsweredSync = last_answered_;
        facts.CycleSeconds = std::max<std::time_t>(
            daemon_.PeriodSeconds, static_cast<std::time_t>(census_seconds_.value_or(0)) + 5);
        facts.Source = source_.State;
        const auto events = alarms_.Judge(facts, now);
        Handle(events);
        if (events.empty())
            return false;
        Publish();
        return true;
    }

private:
    // Each raise and clear said, kept in the history, handed to --on-alarm.
    void Handle(const std::vector<AlarmEvent>& events)
    {
        for (const AlarmEvent& e : events) {
            Say(Stamp() + " " + AlarmLogText(e));
            if (alarm_log_) {
                const std::string error = alarm_log_->Append(shown_port_, e);
                if (!error.empty() && !alarm_log_error_)
                    Say(Stamp() + " alarm history not written: " + error);
                alarm_log_error_ = !error.empty();
            }
            if (runner_)
                runner_->Event(e, Clock::now());
        }
    }

    // A new snapshot for the web face; the board's lock is held only to swap
    // a pointer.
    void Share()
    {
        if (!board_)
            return;
        auto s = std::make_shared<StatusSnapshot>();
        s->Port = shown_port_;
        s->PeriodSeconds = daemon_.PeriodSeconds;
        if (next_sync_ != 0)
            s->NextSync = next_sync_;
        s->PortOpen = port_open_;
        s->CensusSeconds = census_seconds_;
        s->Syncs = tally_;
        s->Source = source_;
        s->Clocks = state_.Clocks();
        s->State = last_state_;
        s->HttpListenFailures = http_failures_;
        s->CensusAt = census_at_;
        s->ActiveAlarms = alarms_.Active();
        s->Alarms = alarms_.Json();
        s->FrameEnds = FrameEnds();
        s->DriftWatched = !drift_wanted_.empty();
        s->Drift = drift_;
        board_->Set(std::move(s));
    }

    const LineOptions& line_;
    const DaemonOptions& daemon_;
    const std::string shown_port_; // valid UTF-8 for the state file, page and metrics
    Supervision state_;
    platform::ClockSync source_;
    Clock::duration last_duration_{};
    bool state_error_ = false;
    std::shared_ptr<StatusBoard> board_;
    SyncTally tally_;
    std::optional<double> census_seconds_;
    bool port_open_ = false;
    std::time_t next_sync_ = 0;
    nlohmann::json last_state_ = nlohmann::json::object();
    nlohmann::json http_;    // the web face, once --http asked for one
    std::string http_error_; // why it last failed to listen, "" while it listens
    int http_failures_ = 0;
    std::optional<int> census_at_; // while a census runs: the address it has reached
    bool census_taken_ = false;
    ReplyDelays delays_; // the line's answer delays, from one census to the next
    Alarms alarms_;
    std::time_t last_answered_; // the last sync that reached a clock, or the start
    std::optional<AlarmLog> alarm_log_;
    bool alarm_log_error_ = false;
    std::unique_ptr<AlarmRunner> runner_;
    bool port_seen_ = false; // the loop has said whether the port is open
    // --settings
    static constexpr auto kDriftReadRoom = std::chrono::seconds(3);
    static constexpr int kDriftReadLimit = 3;
    std::map<uint8_t, RegisterValues> drift_wanted_;
    Clock::duration drift_slot_{};
    Clock::time_point drift_next_{};
    uint8_t drift_addr_ = 0;                            // the clock being read, or last read
    std::vector<uint8_t> drift_regs_;                   // its registers still to read
    RegisterValues drift_read_;                         // and those read
    std::map<uint8_t, std::vector<std::string>> drift_; // per clock checked: what differs
};

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
    server_ = StatusServer::Start(*daemon_.Http, board_, HttpLimits{}, &error);
    if (!server_) {
        if (supervisor_->HttpFailed(error))
            Say(Stamp() + " web face: " + error +
                "; the clocks are kept in time all the same, trying again every " +
                std::to_string(kListenRetry.count()) + " s");
        next_listen_ = Clock::now() + kListenRetry;
        return;
    }
    supervisor_->HttpListening(server_->Port());
    const std::string& name = daemon_.Http->Host;
    Say(Stamp() + " serving http://" +
        (name.find(':') != std::string::npos ? "[" + name + "]" : name) + ":" +
        std::to_string(server_->Port()) + "/ (/metrics, /status.json)");
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
        Say(Stamp() + " PC clock: " + TimeSourceWords(now) + ", was " +
            TimeSourceKey(source_.State));
        // The clocks missed a sync for it: they get one now.
        if (skipped_ && SyncMayProceed(now.State, daemon_.RequireSynced)) {
            next_sync_ = Clock::now();
            census_done_ = false;
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
    Say(Stamp() + " sync " + AddrText(options_.Addr) + (why.empty() ? "" : " (" + why + ")") +
        ": " + outcome);
    if (answered)
        event_due_.reset();
    return r;
}

int DaemonLoop::Run()
{
    Say(Stamp() + " keeping clock " + AddrText(options_.Addr) + " on " + port_ +
        " in time, every " + std::to_string(daemon_.PeriodSeconds) + " s" +
        (daemon_.Supervise ? ", with a census of the line before each sync" : "") +
        (daemon_.RequireSynced ? ", while the PC's clock is synchronised" : ""));
    // The PC's clock, said at start (the one warning when unsynchronised)
    // and again at every change between synchronised and not.
    source_ = platform::QueryClockSync();
    Say(Stamp() + " " +
        (source_.State == platform::ClockSyncState::kUnsynchronised
             ? UnsynchronisedWarning(source_)
             : "PC clock: " + TimeSourceWords(source_)));
    supervisor_->SetSource(source_);
    // What is known from the first second (the port, the period, the PC's
    // clock), so the state file and the web face are there before the first
    // census, and the face never answers "no state yet".
    if (supervisor_->On())
        supervisor_->Publish();
    events_.Check();
    while (!StopRequested.load()) {
        Listen();
        CheckSource();
        if (!line_.IsOpen()) {
            if (line_.Open(down_) != kExitOk) {
                if (!down_)
                    Say(Stamp() + " port " + port_ + " cannot be opened; trying again every " +
                        std::to_string(daemon_.RetrySeconds) + " s");
                WaitForPort();
                continue;
            }
            if (down_)
                Say(Stamp() + " port " + port_ + " is back");
            down_ = false;
            event_tried_ = false;
            line_.StartExchange();
            ShareLoop(); // the port's alarm clears now, not after the census
        }
        // The first sync goes out at start; the census follows before the
        // next one.
        if (supervisor_->On() && synced_once_ && !census_done_ && !line_.Lost() &&
            Clock::now() + supervisor_->Lead() >= next_sync_)
            census_done_ = supervisor_->Census(line_, feed_);
        if (StopRequested.load())
            break;
        if (const std::optional<TimeEvent> event = events_.Check()) {
            // The event stays due until a sync after it has been answered:
            // one seen while the port is away (a resume, the adapter not
            // back yet) is made up once it is.
            event_due_ = TimeEventWords(*event);
            event_tried_ = false;
            if (Clock::now() >= next_sync_ && !line_.Lost())
                Say(Stamp() + " " + *event_due_); // the sync due now serves it
            else if (line_.Lost() || !line_.IsOpen())
                Say(Stamp() + " " + *event_due_ + "; the sync follows once the port is back");
        }
        if (event_due_ && !event_tried_ && line_.IsOpen() && !line_.Lost() &&
            Clock::now() < next_sync_) {
            const std::string why = *event_due_;
            if (!SyncMayProceed(source_.State, daemon_.RequireSynced)) {
                Say(Stamp() + " " + why + "; no sync, the PC's clock is not synchronised");
                event_due_.reset();
            } else {
                const SyncResult r = SyncAndSay(why);
                if (r == SyncResult::kStopped)
                    break;
                // Unanswered, the period's next sync is the next try.
                if (r != SyncResult::kPortLost)
                    event_tried_ = true;
            }
        }
        if (Clock::now() >= next_sync_ && !line_.Lost() &&
            !SyncMayProceed(source_.State, daemon_.RequireSynced)) {
            Say(Stamp() + " sync " + AddrText(options_.Addr) +
                ": skipped, the PC's clock is not synchronised");
            skipped_ = true;
            synced_once_ = true;
            supervisor_->Skipped();
            census_done_ = false;
            ++syncs_;
            next_sync_ = Clock::now() + period_;
            if (daemon_.Count > 0 && syncs_ >= daemon_.Count)
                break;
        }
        if (Clock::now() >= next_sync_ && !line_.Lost()) {
            const auto started = Clock::now();
            const SyncResult r = SyncAndSay("");
            if (r == SyncResult::kStopped)
                break;
            if (r != SyncResult::kPortLost) {
                synced_once_ = true;
                census_done_ = false;
                skipped_ = false;
                ++syncs_;
                next_sync_ = started + period_;
                if (daemon_.Count > 0 && syncs_ >= daemon_.Count) {
                    // A counted run still leaves a census behind it.
                    if (supervisor_->On() && !supervisor_->CensusTaken() && !line_.Lost())
                        supervisor_->Census(line_, feed_);
                    break;
                }
            }
        }
        if (line_.Lost()) {
            Say(Stamp() + " port " + port_ + " has gone away; trying again every " +
                std::to_string(daemon_.RetrySeconds) + " s");
            line_.Close();
            census_done_ = false;
            // A sync that the loss cut short is made up as soon as the port
            // is back; one that was done stays on its period.
            WaitForPort();
            continue;
        }
        // Between time frames, never into one: up to the next census's start.
        if (supervisor_->On() && !line_.Lost())
            supervisor_->CheckDrift(line_, next_sync_ - supervisor_->Lead(), feed_);
        MarkReady();
        ShareLoop();
        line_.SayEchoOnce();
        SleepUntil(std::min(next_sync_, Clock::now() + std::chrono::milliseconds(200)), feed_);
    }
    StatusServer::Stop(std::move(server_), std::chrono::milliseconds(300));
    line_.Close();
    platform::NotifyServiceManager("STOPPING=1");
    Say(Stamp() + " stopped");
    return kExitOk;
}

} // namespace chronavel::ctl

#include "tools/daemon/supervisor.h"

#include "app/time_source.h"
#include "link/hex.h"
#include "platform/utf8_path.h"
#include "tools/daemon/daemon_log.h"
#include "tools/line/line.h"
#include "tools/line/source_state.h"
#include "tools/text/text.h"

#include <chrono>
#include <fstream>

namespace chronavel::ctl {

namespace {

std::time_t WallNow()
{
    return std::time(nullptr);
}

// A log line per change the watch or the census made.
void LogAll(const std::vector<std::string>& lines)
{
    for (const std::string& l : lines)
        Log(l);
}

} // namespace

Supervisor::Supervisor(const LineOptions& line, const DaemonOptions& daemon)
    : line_(line), daemon_(daemon), shown_port_(ValidUtf8(line.Port)), watch_(line.Speed),
      publisher_(daemon.StateFile, shown_port_), alarms_(shown_port_), last_answered_(WallNow())
{
    if (!daemon.Supervise)
        return;
    // The history beside the state file outlives a restart; alarms it left
    // open stay raised until judged again.
    if (!daemon.StateFile.empty()) {
        alarm_log_.emplace(daemon.StateFile + ".alarms.jsonl");
        alarms_.Restore(alarm_log_->Load(kAlarmHistory));
        Remember();
    }
    if (!daemon.OnAlarm.empty())
        runner_ = std::make_unique<AlarmRunner>(
            daemon.OnAlarm, shown_port_, [](const std::string& l) { Log(l); },
            std::chrono::seconds(daemon.AlarmSpacingSeconds));
}

Supervisor::~Supervisor() = default;

// The clocks of the last run (its state file, and those its alarms called
// silent), watched from the start: a clock that went dark while the daemon
// was down is still found missing, and one that is back clears its alarm.
void Supervisor::Remember()
{
    std::ifstream in(platform::PathFromUtf8(daemon_.StateFile));
    if (in) {
        const nlohmann::json state = nlohmann::json::parse(in, nullptr, false);
        if (state.is_object() && state.contains("clocks") && state["clocks"].is_array())
            for (const nlohmann::json& c : state["clocks"]) {
                if (!c.is_object() || !c.contains("addr") || !c["addr"].is_number_unsigned())
                    continue;
                const auto addr = c["addr"].get<unsigned>();
                if (addr < kFirstSearchAddress || addr > kLastSearchAddress)
                    continue;
                const bool master = c.value("master", false) == true;
                const bool answering = c.value("answering", true) == true;
                state_.Remember(static_cast<uint8_t>(addr), master, answering);
            }
    }
    for (const auto& [id, e] : alarms_.Active())
        if (id.Kind == AlarmKind::kClockSilent && id.Addr)
            state_.Remember(*id.Addr, false, false);
    const TaskTime now = TaskClock::now();
    for (const auto& [addr, rec] : state_.Clocks())
        watch_.Know(addr, rec.Master, now, rec.Answering);
}

TaskSlot Supervisor::PollSlot(TaskTime now) const
{
    if (!On() || !census_last_)
        return {};
    const std::optional<WatchProbe> p = watch_.Due(now);
    if (p && p->Ask == WatchAsk::kSweep)
        return {}; // the sweep's own slot
    const TaskTime due = p ? now : watch_.NextDue();
    const bool patient = p && p->Ask == WatchAsk::kAgain;
    return {due, ProbeBound(line_.Speed, WatchPatience(line_.Speed, patient))};
}

TaskSlot Supervisor::SweepSlot(TaskTime now) const
{
    // No sweep while a census asks every address anyway.
    if (!On() || !census_last_ || census_)
        return {};
    const std::optional<WatchProbe> p = watch_.Due(now);
    if (!p || p->Ask != WatchAsk::kSweep)
        return {};
    return {now, ProbeBound(line_.Speed, WatchPatience(line_.Speed, false))};
}

TaskSlot Supervisor::CensusSlot(TaskTime now) const
{
    if (!On())
        return {};
    if (census_)
        return {now, census_->StepBound()};
    // A census not yet begun: its first step's bound, without making one
    // at every pass of the loop.
    const auto first_step = ProbeBound(line_.Speed, CensusPatience(line_.Speed, delays_));
    if (census_wanted_)
        return {now, first_step};
    if (census_next_)
        return {*census_next_, first_step};
    return {};
}

TaskSlot Supervisor::DriftSlot() const
{
    if (!On() || !census_last_)
        return {};
    return drift_.Slot(line_.Speed);
}

std::optional<std::chrono::milliseconds> Supervisor::LongestTask(TaskTime now) const
{
    if (!On())
        return std::nullopt;
    // A poll asks patiently once a clock has missed, which may happen at any
    // time between now and the next frame.
    std::chrono::milliseconds longest{0};
    if (census_last_)
        longest = ProbeBound(line_.Speed, WatchPatience(line_.Speed, true));
    for (const TaskSlot& slot : {PollSlot(now), SweepSlot(now), CensusSlot(now), DriftSlot()})
        if (slot.Due)
            longest = std::max(longest, slot.Cost);
    return longest;
}

void Supervisor::WantCensus(const std::string& why)
{
    if (!On() || census_)
        return;
    if (!census_wanted_)
        census_wanted_ = why;
}

void Supervisor::Take(const DaemonRequest& r)
{
    if (r.What == DaemonRequest::Kind::kCensus) {
        Log("a census is asked for" + std::string(census_ ? "; one is under way" : ""));
        WantCensus("asked for");
        return;
    }
    Log("clock " + Hex2(r.Addr) + " forgotten: no longer watched");
    watch_.Forget(r.Addr);
    drift_.Forget(r.Addr);
    state_.Forget(r.Addr);
    Handle(alarms_.Forget(r.Addr, "часы убраны из наблюдения", WallNow()));
    Publish();
}

void Supervisor::PortLost()
{
    if (census_) {
        census_.reset();
        census_at_.reset();
        WantCensus("the port is back");
    }
}

void Supervisor::UseSettings(ConfigFile file)
{
    drift_.Use(std::move(file), daemon_.PeriodSeconds, TaskClock::now());
    // Drift alarms of an earlier run about clocks no longer compared would
    // never be judged again.
    Handle(alarms_.DriftUnwatched([this](uint8_t a) { return drift_.Watches(a); }, WallNow()));
}

void Supervisor::UseNoSettings()
{
    Handle(alarms_.DriftUnwatched([](uint8_t) { return false; }, WallNow()));
}

void Supervisor::Heard(uint8_t addr)
{
    watch_.Heard(addr, TaskClock::now());
}

void Supervisor::Poll(const Line& line)
{
    const TaskTime started = TaskClock::now();
    const std::optional<WatchProbe> p = watch_.Due(started);
    if (!p)
        return;
    const ClockProbe got = ProbeClock(p->Addr, line_.Speed, p->Ask == WatchAsk::kAgain,
                                      [this](const ReplyHeader& h) { Heard(h.Addr); });
    const TaskTime ended = TaskClock::now();
    share_.Took(started, ended);
    if (got.PortLost || line.Lost())
        return; // nothing concluded from a line that went away
    const std::vector<WatchEvent> events = watch_.Result(*p, got.Answered, got.Master, ended);
    if (got.Answered && events.empty())
        state_.Answered(p->Addr, got.Master, WallNow()); // no news: its last answer moves on
    Watched(events, false);
}

void Supervisor::Watched(const std::vector<WatchEvent>& events, bool changed)
{
    const std::time_t now = WallNow();
    std::vector<std::string> lines;
    for (const WatchEvent& e : events) {
        const WatchedClock& c = watch_.Clocks().at(e.Addr);
        switch (e.Change) {
        case WatchChange::kSilent:
            lines.push_back(state_.Stopped(e.Addr));
            break;
        case WatchChange::kNew:
        case WatchChange::kBack:
        case WatchChange::kMasterOn:
        case WatchChange::kMasterOff:
            for (std::string& l : state_.Answered(e.Addr, c.Master, now))
                lines.push_back(std::move(l));
            break;
        }
        changed = true;
    }
    if (!changed) {
        Share();
        return;
    }
    // Published before it is said: whoever reads the line finds it in the
    // state file, the metrics and the page already.
    Publish();
    LogAll(lines);
    JudgeAlarms();
}

void Supervisor::CensusStep(const Line& line)
{
    const TaskTime started = TaskClock::now();
    if (!census_) {
        Log("census of the line (" + census_wanted_.value_or("the daily one") + ")");
        census_wanted_.reset();
        census_ = std::make_unique<CensusRun>(line_.Speed, state_.Known(), delays_);
        census_started_ = WallNow();
        census_at_ = 0;
        Share();
    }
    census_->Step();
    const chronavel::CensusStep& last = census_->Last();
    share_.Took(started, TaskClock::now());
    if (census_->PortLost() || line.Lost())
        return; // the loop sees the port gone and drops the census
    if (last.Answered && watch_.Clocks().contains(last.Addr)) {
        // A census's answer counts as the clock's poll.
        const auto events =
            watch_.Result({last.Addr, WatchAsk::kAgain}, true, last.Master, TaskClock::now());
        if (events.empty())
            state_.Answered(last.Addr, last.Master, WallNow());
        Watched(events, false);
    }
    if (last.Addr % 16 == 0 && last.Addr > census_at_.value_or(0) && !last.Again) {
        census_at_ = last.Addr;
        Share();
    }
    if (!census_->Done())
        return;
    const std::time_t now = WallNow();
    const std::vector<CensusEntry> found = census_->Found();
    delays_ = census_->Delays();
    census_.reset();
    census_at_.reset();
    census_seconds_ = static_cast<double>(now - census_started_);
    census_last_ = now;
    census_next_ = TaskClock::now() + kCensusEvery;
    LogAll(state_.TakeCensus(found, now));
    std::vector<WatchEvent> events;
    const TaskTime t = TaskClock::now();
    for (const CensusEntry& c : found)
        if (!watch_.Clocks().contains(c.Addr))
            watch_.Know(c.Addr, c.Master, t);
    // A known clock the census (asking it twice) missed: a miss to the
    // watch, which asks it again before calling it silent.
    for (const auto& [addr, c] : std::map(watch_.Clocks()))
        if (std::none_of(found.begin(), found.end(),
                         [a = addr](const CensusEntry& e) { return e.Addr == a; })) {
            auto more = watch_.Result({addr, WatchAsk::kAgain}, false, c.Master, t);
            events.insert(events.end(), more.begin(), more.end());
        }
    Log("census done in " + std::to_string(static_cast<long>(*census_seconds_)) + " s; " +
        std::to_string(watch_.Clocks().size()) + " clock" +
        (watch_.Clocks().size() == 1 ? "" : "s") + " watched, each every " +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(watch_.Cycle()).count()) +
        " s");
    Watched(events, true);
}

void Supervisor::DriftRead(const Line& line)
{
    const TaskTime started = TaskClock::now();
    const auto checked = drift_.ReadOne(line, started);
    share_.Took(started, TaskClock::now());
    if (!checked)
        return;
    Handle(alarms_.Drift(checked->Addr, checked->Differing, WallNow()));
    Publish();
}

void Supervisor::Tend()
{
    if (runner_)
        runner_->Poll(std::chrono::steady_clock::now());
}

std::string Supervisor::Judge(bool answered)
{
    const std::time_t now = WallNow();
    if (line_.Addr == 0xFF && !census_last_) {
        // Nothing to judge it by yet, and nothing to call failing either.
        last_answered_ = now;
        return "sent; the census of the line follows";
    }
    state_.Synced(line_.Addr, answered, now);
    const int n = state_.Answering();
    // A broadcast reached the clocks answering the watch, if any.
    const bool reached = line_.Addr != 0xFF ? answered : n > 0;
    ++(reached ? tally_.Answered : tally_.Unanswered);
    if (reached)
        last_answered_ = now;
    JudgeAlarms();
    Publish();
    if (line_.Addr != 0xFF)
        return answered ? "answered" : "no answer";
    if (n == 0)
        return "no clock answering";
    std::string text =
        "sent to " + std::to_string(n) + " clock" + (n == 1 ? "" : "s") + " answering";
    const auto silent = state_.Silent();
    if (!silent.empty()) {
        text += "; silent:";
        for (uint8_t a : silent)
            text += " " + Hex2(a);
    }
    return text;
}

void Supervisor::Skipped()
{
    ++tally_.Skipped;
    last_held_back_ = WallNow();
    Share();
}

void Supervisor::ShareOn(std::shared_ptr<StatusBoard> board)
{
    publisher_.ShareOn(std::move(board));
}

bool Supervisor::HttpFailed(const std::string& error)
{
    ++http_failures_;
    const bool news = http_error_ != error;
    http_error_ = error;
    http_ = {{"listening", false}, {"error", error}, {"failures", http_failures_}};
    Publish();
    return news;
}

void Supervisor::HttpListening(int port)
{
    http_error_.clear();
    http_ = {{"listening", true}, {"port", port}, {"failures", http_failures_}};
    Publish();
}

void Supervisor::SetLoop(bool port_open, std::time_t next_sync)
{
    const bool changed = !port_seen_ || port_open != port_open_ || next_sync != next_sync_;
    port_seen_ = true;
    port_open_ = port_open;
    next_sync_ = next_sync;
    if (!JudgeAlarms() && changed)
        Share();
}

WatchSummary Supervisor::Summary() const
{
    WatchSummary w;
    w.ClocksKnown = static_cast<int>(watch_.Clocks().size());
    w.PollCycleSeconds = std::chrono::duration<double>(watch_.Cycle()).count();
    for (const auto& [addr, c] : watch_.Clocks())
        w.MissedPolls[addr] = c.MissedPolls;
    w.LastCensus = census_last_;
    w.SweepAddress = watch_.SweepAt();
    w.LineShare = share_.Share(TaskClock::now());
    return w;
}

nlohmann::json Supervisor::WatchJson() const
{
    const WatchSummary w = Summary();
    nlohmann::json missed = nlohmann::json::object();
    for (const auto& [addr, n] : w.MissedPolls)
        missed[Hex2(addr)] = n;
    return {
        {"clocks_known", w.ClocksKnown},
        {"poll_cycle_seconds", w.PollCycleSeconds},
        {"missed_polls", missed},
        {"last_census", w.LastCensus ? nlohmann::json(UtcText(*w.LastCensus)) : nullptr},
        {"census_running", census_ != nullptr},
        {"sweep_address", w.SweepAddress},
        {"line_share", w.LineShare},
    };
}

void Supervisor::Publish()
{
    const int n = state_.Answering();
    const bool unsynced = source_.State == platform::ClockSyncState::kUnsynchronised;
    if (!publisher_.Writes()) {
        publisher_.Publish({}, n, unsynced);
        return;
    }
    const std::time_t now = WallNow();
    nlohmann::json state = state_.Json(shown_port_, now);
    state["source"] = {{"state", TimeSourceKey(source_.State)},
                       {"max_error_us", source_.MaxErrorUs ? nlohmann::json(*source_.MaxErrorUs)
                                                           : nlohmann::json(nullptr)}};
    if (!http_.is_null())
        state["http"] = http_;
    state["alarms"] = alarms_.Json()["active"];
    state["watch"] = WatchJson();
    publisher_.Publish(state, n, unsynced);
    Share();
}

bool Supervisor::JudgeAlarms()
{
    if (!On())
        return false;
    const std::time_t now = WallNow();
    LineFacts facts;
    facts.PortOpen = !port_seen_ || port_open_; // unknown until the loop says
    // Clocks remembered from an earlier run are judged once a census has
    // looked at the line.
    facts.Clocks = census_last_ ? &state_.Clocks() : nullptr;
    facts.LastAnsweredSync = last_answered_;
    facts.LastHeldBackSync = last_held_back_;
    facts.CycleSeconds = daemon_.PeriodSeconds;
    facts.Source = source_.State;
    const auto events = alarms_.Judge(facts, now);
    if (events.empty())
        return false;
    Publish(); // before the log and the alarm program say it
    Handle(events);
    return true;
}

void Supervisor::Handle(const std::vector<AlarmEvent>& events)
{
    for (const AlarmEvent& e : events) {
        Log(AlarmLogText(e));
        if (alarm_log_) {
            const std::string error = alarm_log_->Append(shown_port_, e);
            if (!error.empty() && !alarm_log_error_)
                Log("alarm history not written: " + error);
            alarm_log_error_ = !error.empty();
        }
        if (runner_)
            runner_->Event(e, std::chrono::steady_clock::now());
    }
}

void Supervisor::Share()
{
    if (!publisher_.Sharing())
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
    s->State = publisher_.LastState();
    s->HttpListenFailures = http_failures_;
    s->CensusAt = census_at_;
    s->ActiveAlarms = alarms_.Active();
    s->Alarms = alarms_.Json();
    s->FrameEnds = FrameEnds();
    s->DriftWatched = drift_.On();
    s->Drift = drift_.Results();
    s->Watch = Summary();
    publisher_.Share(std::move(s));
}

} // namespace chronavel::ctl

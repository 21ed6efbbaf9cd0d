#include "tools/supervision/alarm_runner.h"

#include "link/hex.h"
#include "tools/text/text.h"

namespace chronavel::ctl {

platform::ChildProcess::Environment AlarmEnvironment(const std::string& port, const AlarmEvent& e,
                                                     int left_out)
{
    return {{"CHRONAVEL_ALARM", AlarmName(e.Id.Kind)},
            {"CHRONAVEL_STATE", e.Raised ? "raised" : "cleared"},
            {"CHRONAVEL_PORT", port},
            {"CHRONAVEL_ADDR", e.Id.Addr ? Hex2(*e.Id.Addr) : ""},
            {"CHRONAVEL_TEXT", e.Text},
            {"CHRONAVEL_TIME", UtcText(e.At)},
            {"CHRONAVEL_LEFT_OUT", std::to_string(left_out)}};
}

AlarmRunner::AlarmRunner(std::vector<std::string> program, std::string port,
                         std::function<void(const std::string&)> say, std::chrono::seconds spacing)
    : program_(std::move(program)), port_(std::move(port)), say_(std::move(say)), spacing_(spacing)
{
}

AlarmRunner::~AlarmRunner()
{
    for (Run& r : running_)
        r.Child->Kill();
}

void AlarmRunner::Event(const AlarmEvent& e, Clock::time_point now)
{
    Turn& turn = turns_[e.Id];
    if (turn.Waiting || (turn.LastRun && now - *turn.LastRun < spacing_) ||
        running_.size() >= kRunning) {
        if (turn.Waiting)
            ++turn.LeftOut;
        turn.Waiting = e;
        return;
    }
    Start(turn, e, now);
}

void AlarmRunner::Start(Turn& turn, const AlarmEvent& e, Clock::time_point now)
{
    const std::string what = std::string(e.Raised ? "raised " : "cleared ") + AlarmName(e.Id.Kind) +
                             (e.Id.Addr ? " " + Hex2(*e.Id.Addr) : "");
    if (turn.LeftOut > 0)
        say_("on-alarm: " + what + " follows " + std::to_string(turn.LeftOut) + " change" +
             (turn.LeftOut == 1 ? "" : "s") + " of it since its last run, not run on their own");
    turn.LastRun = now;
    std::string error;
    auto child =
        platform::ChildProcess::Start(program_, AlarmEnvironment(port_, e, turn.LeftOut), &error);
    turn.LeftOut = 0;
    turn.Waiting.reset();
    if (!child) {
        say_("on-alarm: " + error + " (for " + what + ")");
        return;
    }
    running_.push_back({std::move(child), now, what});
}

void AlarmRunner::Poll(Clock::time_point now)
{
    std::erase_if(running_, [&](Run& r) {
        if (const std::optional<int> status = r.Child->Poll()) {
            if (*status != 0)
                say_("on-alarm: " + program_.front() + " ended with status " +
                     std::to_string(*status) + " (for " + r.What + ")");
            return true;
        }
        if (now - r.Started >= kLimit) {
            r.Child->Kill();
            say_("on-alarm: " + program_.front() + " took over " + std::to_string(kLimit.count()) +
                 " s and was killed (for " + r.What + ")");
            // Reaped on a later poll.
            r.Started = Clock::time_point::max() - kLimit;
            return false;
        }
        return false;
    });
    for (auto& [id, turn] : turns_)
        if (turn.Waiting && running_.size() < kRunning &&
            (!turn.LastRun || now - *turn.LastRun >= spacing_))
            Start(turn, *turn.Waiting, now);
}

} // namespace chronavel::ctl

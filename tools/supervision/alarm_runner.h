// --on-alarm: a program of the administrator's run for every raise and
// clear, beside the daemon's loop and never in its way.
#pragma once

#include "platform/child_process.h"
#include "tools/supervision/alarms.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

// The program's environment for one event: CHRONAVEL_ALARM, _STATE
// (raised/cleared), _PORT, _ADDR ("0x05", empty when none), _TEXT, _TIME
// (ISO 8601, UTC) and _LEFT_OUT (events of this alarm since its last run
// that were not run on their own).
platform::ChildProcess::Environment AlarmEnvironment(const std::string& port, const AlarmEvent& e,
                                                     int left_out);

class AlarmRunner {
public:
    using Clock = std::chrono::steady_clock;
    // A run taking longer is killed.
    static constexpr std::chrono::seconds kLimit{10};
    // Runs at once; more wait.
    static constexpr size_t kRunning = 8;

    // At most one run per alarm per spacing (a minute); the rest wait for
    // it to pass and the latest of them is run then, with the count of
    // those left out, so the program always learns the alarm's last state.
    AlarmRunner(std::vector<std::string> program, std::string port,
                std::function<void(const std::string&)> say, std::chrono::seconds spacing);
    ~AlarmRunner();

    void Event(const AlarmEvent& e, Clock::time_point now);
    // Reaps what ended, kills what overran, runs what waited its turn.
    void Poll(Clock::time_point now);
    size_t Running() const { return running_.size(); }

private:
    struct Turn {
        std::optional<Clock::time_point> LastRun;
        std::optional<AlarmEvent> Waiting;
        int LeftOut = 0;
    };
    struct Run {
        std::unique_ptr<platform::ChildProcess> Child;
        Clock::time_point Started;
        std::string What;
    };
    void Start(Turn& turn, const AlarmEvent& e, Clock::time_point now);

    const std::vector<std::string> program_;
    const std::string port_;
    const std::function<void(const std::string&)> say_;
    const std::chrono::seconds spacing_;
    std::map<AlarmId, Turn> turns_;
    std::vector<Run> running_;
};

} // namespace chronavel::ctl

// The daemon's loop: the clocks kept in time, one synchronisation at start
// and one per period, through a port that may come and go; the time events
// of the PC's clock; between the time frames, the supervision's tasks as the
// schedule allows them (tools/daemon/schedule.h); the web face and the
// service manager's watchdog around it.
#pragma once

#include "app/time_events.h"
#include "platform/clock_sync.h"
#include "tools/daemon/daemon_options.h"
#include "tools/daemon/schedule.h"
#include "tools/line/exit_codes.h"
#include "tools/line/line_options.h"
#include "tools/settings/config_file.h"
#include "tools/supervision/watchdog.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace chronavel::ctl {

class DisplayWatch;
class Line;
class StatusBoard;
class StatusServer;
class Supervisor;

class DaemonLoop {
public:
    // line: made and kept by the caller, not yet open. settings: --settings,
    // loaded.
    DaemonLoop(const LineOptions& options, const DaemonOptions& daemon, Line& line,
               std::optional<ConfigFile> settings);
    ~DaemonLoop();
    DaemonLoop(const DaemonLoop&) = delete;
    DaemonLoop& operator=(const DaemonLoop&) = delete;

    // Runs until a stop is asked for (or --count syncs were made); the exit
    // code.
    int Run();

    // What one sync came to.
    enum class SyncResult { kAnswered, kNoAnswer, kPortLost, kStopped };

private:
    using Clock = std::chrono::steady_clock;

    void Listen();
    // The web configuration read again on SIGHUP or when its files change;
    // a bad one is said and the last good one kept.
    void ReloadWeb();
    void ShareLoop();
    void MarkReady();
    // The PC's clock looked at again; a change said and judged.
    void CheckSource();
    // The port away: said by the caller; waited for before the next try.
    void WaitForPort();
    // The requests of SIGHUP and `chronavelctl ask`, handed to the
    // supervisor; looked for once a second.
    void TakeRequests();
    // The period's sync, or its skip while the PC's clock may not be
    // trusted; false when the loop is to end.
    bool PeriodSync();
    // Runs the task the schedule chose; false when the loop is to end.
    bool RunTask(LineTask task);
    // A sync sent, judged and said; why names what called for it ("" for
    // the period's own). An answered sync serves a due time event too.
    SyncResult SyncAndSay(const std::string& why);

    const LineOptions& options_;
    const DaemonOptions& daemon_;
    Line& line_;
    std::unique_ptr<DisplayWatch> display_;
    std::unique_ptr<Supervisor> supervisor_;
    const std::chrono::seconds period_;
    const std::chrono::seconds retry_;
    const std::string port_; // as the log shows it
    bool down_ = false;      // said once that the port is away
    int syncs_ = 0;
    Clock::time_point next_sync_;
    // The web face is a side matter: one that cannot listen is said once,
    // tried again every 30 s, and never keeps the clocks from being set.
    std::unique_ptr<StatusServer> server_;
    std::shared_ptr<StatusBoard> board_;
    Clock::time_point next_listen_;
    std::string web_stamp_; // the web configuration's files as last read
    std::string web_fault_; // why the last reload failed, said once
    Clock::time_point next_web_check_;
    bool synced_once_ = false; // a regular sync has been made
    Clock::time_point next_requests_;
    bool ready_ = false;
    Watchdog watchdog_;
    const std::function<void()> feed_; // wherever the loop waits
    platform::ClockSync source_;       // the PC's clock as last seen
    bool skipped_ = false;             // a sync was skipped for the PC's clock
    // Steps of the PC's clock, summer time, a new zone, a resume: one sync at
    // once for each, the period kept (next_sync_ runs on the monotonic clock).
    TimeEventWatch events_;
    std::optional<std::string> event_due_; // a time event no answered sync has followed yet
    bool event_tried_ = false;             // its own sync was made on this connection
};

} // namespace chronavel::ctl

// The daemon's watch over its line: the census (once after the first sync,
// on request, once a day), the clocks polled between censuses and the
// unknown addresses swept (LineWatch), the settings compared with a file
// (DriftWatch); what follows from them: the log lines, the alarms, the
// state file, the web face's snapshot and the line's share taken.
#pragma once

#include "app/line_watch.h"
#include "app/master_search.h"
#include "platform/clock_sync.h"
#include "tools/daemon/daemon_options.h"
#include "tools/daemon/drift_watch.h"
#include "tools/daemon/publisher.h"
#include "tools/daemon/requests.h"
#include "tools/daemon/schedule.h"
#include "tools/line/exit_codes.h"
#include "tools/line/line_options.h"
#include "tools/settings/config_file.h"
#include "tools/supervision/alarm_runner.h"
#include "tools/supervision/alarms.h"
#include "tools/supervision/supervision.h"
#include "tools/web/http_status.h"

#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace chronavel::ctl {

class Line;

// A full census again after this long.
constexpr std::chrono::hours kCensusEvery{24};

class Supervisor {
public:
    Supervisor(const LineOptions& line, const DaemonOptions& daemon);
    ~Supervisor();

    bool On() const { return daemon_.Supervise; }

    // The tasks' slots at now (nothing due while supervision is off or no
    // sync has been made yet).
    TaskSlot PollSlot(TaskTime now) const;
    TaskSlot SweepSlot(TaskTime now) const;
    TaskSlot CensusSlot(TaskTime now) const;
    TaskSlot DriftSlot() const;
    // The longest of the tasks above, due or not, a patient asking among
    // them (nullopt when the line is not watched): the least room a period
    // must leave them.
    std::optional<std::chrono::milliseconds> LongestTask(TaskTime now) const;

    // Each makes one probe (or census step, or register read) on the open
    // line and concludes what it can.
    void Poll(const Line& line);
    void CensusStep(const Line& line);
    void DriftRead(const Line& line);

    // A census asked for (SIGHUP, a request, the first sync); it starts at
    // the next room between time frames.
    void WantCensus(const std::string& why);
    bool CensusPending() const { return On() && (census_ || census_wanted_); }
    // A request from `chronavelctl ask`.
    void Take(const DaemonRequest& r);
    // The port went away: a census under way is dropped (asked again once
    // it is back), the watch's askings start again.
    void PortLost();

    void UseSettings(ConfigFile file);
    // Started without --settings: drift alarms an earlier run left open
    // would never be judged again, so they are cleared.
    void UseNoSettings();

    // Reaps, and kills what overran, among the --on-alarm programs; called
    // wherever the loop waits.
    void Tend();

    // The outcome line of a sync. A broadcast is answered by one clock at
    // most, so it is judged by the clocks the watch knows instead.
    std::string Judge(bool answered);
    void SetSource(const platform::ClockSync& source) { source_ = source; }
    void Skipped();
    void ShareOn(std::shared_ptr<StatusBoard> board);
    bool HttpFailed(const std::string& error);
    void HttpListening(int port);
    // The loop's own state: whether the port is open, when the next sync is
    // due. Given at each pass, so the alarms that follow time are judged.
    void SetLoop(bool port_open, std::time_t next_sync);
    void Publish();
    bool JudgeAlarms();

    // The line's share taken by the supervision's tasks.
    void Took(TaskTime start, TaskTime end) { share_.Took(start, end); }

private:
    void Handle(const std::vector<AlarmEvent>& events);
    void Share();
    void Heard(uint8_t addr);
    // The watch's changes logged; judged and published when anything
    // changed (changed: something else did already).
    void Watched(const std::vector<WatchEvent>& events, bool changed);
    void Remember();
    // The watch's figures, for the snapshot and (as JSON) the state file.
    WatchSummary Summary() const;
    nlohmann::json WatchJson() const;

    const LineOptions& line_;
    const DaemonOptions& daemon_;
    const std::string shown_port_; // valid UTF-8 for the state file, page and metrics
    Supervision state_;
    LineWatch watch_;
    LineShare share_;
    DriftWatch drift_;
    Publisher publisher_;
    platform::ClockSync source_;
    SyncTally tally_;
    nlohmann::json http_;    // the web face, once --http asked for one
    std::string http_error_; // why it last failed to listen, "" while it listens
    int http_failures_ = 0;
    bool port_open_ = false;
    bool port_seen_ = false; // the loop has said whether the port is open
    std::time_t next_sync_ = 0;
    // The census: wanted (and why), under way, last ended.
    std::optional<std::string> census_wanted_;
    std::unique_ptr<CensusRun> census_;
    std::time_t census_started_ = 0;
    std::optional<TaskTime> census_next_; // the daily one
    std::optional<double> census_seconds_;
    std::optional<std::time_t> census_last_;
    std::optional<int> census_at_; // while a census runs: the address it has reached
    ReplyDelays delays_;           // the line's answer delays, from one census to the next
    Alarms alarms_;
    std::time_t last_answered_;                 // the last sync that reached a clock, or the start
    std::optional<std::time_t> last_held_back_; // by --require-synced
    std::optional<AlarmLog> alarm_log_;
    bool alarm_log_error_ = false;
    std::unique_ptr<AlarmRunner> runner_;
};

} // namespace chronavel::ctl

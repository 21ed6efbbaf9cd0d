// What the supervising daemon shows a building's monitoring over HTTP: a
// snapshot of the line's state that the daemon's loop hands over, and the
// three views of it (Prometheus metrics, the state file's JSON, a page in
// Russian for an operator's browser). No sockets here: the server
// (tools/web/http_server.h) only serves what these functions make.
#pragma once

#include "link/request.h"
#include "link/timed_write.h"
#include "platform/clock_sync.h"
#include "tools/supervision/alarms.h"
#include "tools/supervision/supervision.h"
#include "tools/web/http_address.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

struct SyncTally {
    long Answered = 0;
    long Unanswered = 0;
    long Skipped = 0;
};

// The watch over the line between censuses.
struct WatchSummary {
    int ClocksKnown = 0;
    double PollCycleSeconds = 0;
    std::map<uint8_t, uint64_t> MissedPolls; // per clock known
    std::optional<std::time_t> LastCensus;   // the last full census's end
    int SweepAddress = 0;                    // the address the sweep asks next
    double LineShare = 0;                    // of the line, the last minutes
};

struct StatusSnapshot {
    std::string Port;
    int PeriodSeconds = 0;
    std::optional<std::time_t> NextSync;
    bool PortOpen = false;
    std::optional<double> CensusSeconds; // the last census's length
    SyncTally Syncs;
    platform::ClockSync Source;
    std::map<uint8_t, ClockRecord> Clocks;
    nlohmann::json State;        // the state file's object
    int HttpListenFailures = 0;  // attempts of the web face to listen that failed
    std::optional<int> CensusAt; // the address a census in progress has reached
    std::map<AlarmId, AlarmEvent> ActiveAlarms;
    nlohmann::json Alarms = nlohmann::json::object(); // {"active": […], "history": […]}
    FrameEndStats FrameEnds;                          // the time frames' ends against their seconds
    bool DriftWatched = false; // the clocks' settings are compared with a file
    std::map<uint8_t, std::vector<std::string>> Drift; // per clock checked: what differs
    WatchSummary Watch;
};

// The hand-over between the daemon's loop and the server's threads: the
// loop swaps in a new snapshot, a request takes the current one; the lock
// is held for a pointer's copy only, so no client can hold up the loop.
class StatusBoard {
public:
    void Set(std::shared_ptr<const StatusSnapshot> snapshot);
    std::shared_ptr<const StatusSnapshot> Get() const;

private:
    mutable std::mutex lock_;
    std::shared_ptr<const StatusSnapshot> snapshot_;
};

// Prometheus text exposition (version 0.0.4) of the snapshot at now.
std::string MetricsText(const StatusSnapshot& s, std::time_t now);

// The operator's page: UTF-8 HTML in Russian, self-contained, reloading
// itself every few seconds.
std::string StatusPage(const StatusSnapshot& s, std::time_t now);

} // namespace chronavel::ctl

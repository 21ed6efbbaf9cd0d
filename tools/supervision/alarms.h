// The supervising daemon's alarms: what a building must act on (a clock gone
// dark, the master gone or replaced, the port lost, the time not getting
// through, the PC's own clock adrift), each raised and cleared with a time,
// a history that outlives a restart, and a program run for each change.
#pragma once

#include "platform/clock_sync.h"
#include "tools/supervision/supervision.h"

#include <compare>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

enum class AlarmKind {
    kClockSilent,
    kMasterLost,
    kMasterChanged,
    kPortLost,
    kSyncFailing,
    kPcClockUnsynchronised,
    kSettingsDrift,
};

// "clock_silent", …: the name in JSON, metrics, the environment of
// --on-alarm and the alert rules.
const char* AlarmName(AlarmKind kind);
std::optional<AlarmKind> AlarmFromName(const std::string& name);

struct AlarmId {
    AlarmKind Kind = AlarmKind::kClockSilent;
    std::optional<uint8_t> Addr; // the clock it is about, where one is
    auto operator<=>(const AlarmId&) const = default;
};

struct AlarmEvent {
    AlarmId Id;
    bool Raised = true; // else cleared
    std::string Text;   // the operator's sentence, in Russian
    std::time_t At = 0;
    std::time_t Since = 0; // for a clear: when it was raised
};

// What the daemon knows at a moment, for judging.
struct LineFacts {
    bool PortOpen = true;
    // Once a census has looked at the line: the clocks as the watch knows
    // them; nullptr before.
    const std::map<uint8_t, ClockRecord>* Clocks = nullptr;
    std::optional<std::time_t> LastAnsweredSync; // or the daemon's start
    // The last sync held back while the PC's clock was not synchronised
    // (--require-synced): it asked no clock, so no clock failed it.
    std::optional<std::time_t> LastHeldBackSync;
    // The sync period: two without an answered sync raise sync_failing.
    std::time_t CycleSeconds = 3600;
    platform::ClockSyncState Source = platform::ClockSyncState::kUnknown;
};

// How long master_changed stays raised after the change.
constexpr std::time_t kMasterChangedHold = 600;
// Events kept for /alarms.json.
constexpr size_t kAlarmHistory = 200;

class Alarms {
public:
    explicit Alarms(std::string port) : port_(std::move(port)) {}

    // Judges the facts at now; returns the raises and clears it made.
    std::vector<AlarmEvent> Judge(const LineFacts& facts, std::time_t now);

    // A clock's settings read and compared with the settings file: the
    // names that differ (none: in line with the file).
    std::vector<AlarmEvent> Drift(uint8_t addr, const std::vector<std::string>& differing,
                                  std::time_t now);

    // Clears every alarm about addr, the reason added to its text: a clock
    // taken off the line for good, whose alarms nothing would judge again.
    std::vector<AlarmEvent> Forget(uint8_t addr, const std::string& why, std::time_t now);
    // Clears settings_drift of every clock that watched() says is no longer
    // compared with a file (one restored from the history of an earlier run).
    template <class Watched>
    std::vector<AlarmEvent> DriftUnwatched(const Watched& watched, std::time_t now)
    {
        std::vector<AlarmEvent> events;
        for (const auto& [id, e] : std::map(active_))
            if (id.Kind == AlarmKind::kSettingsDrift && id.Addr && !watched(*id.Addr))
                Set(id, false, {}, now, events, kDriftUnwatched);
        return events;
    }
    static constexpr const char* kDriftUnwatched = "часы больше не сверяются с файлом настроек";

    // The alarms a history left open, raised again as they were (with their
    // times), and the events themselves as the start of the history. A clock
    // silent before the restart counts as seen.
    void Restore(const std::vector<AlarmEvent>& history);

    const std::map<AlarmId, AlarmEvent>& Active() const { return active_; }
    const std::deque<AlarmEvent>& History() const { return history_; }

    nlohmann::json EventJson(const AlarmEvent& e) const;
    // {"active": [...], "history": [...]}, newest last.
    nlohmann::json Json() const;

private:
    // why: for a clear that is not the fault going away, added to its text.
    void Set(const AlarmId& id, bool on, const std::string& text, std::time_t now,
             std::vector<AlarmEvent>& events, const std::string& why = {});

    const std::string port_;
    std::map<AlarmId, AlarmEvent> active_; // the raise of each active one
    std::deque<AlarmEvent> history_;
    std::optional<uint8_t> master_; // the master last seen
    std::vector<uint8_t> seen_;     // clocks known from a restored history
};

// One event as a line of the history file, and back (nullopt for a line
// that is not one).
std::string AlarmLine(const std::string& port, const AlarmEvent& e);
std::optional<AlarmEvent> ParseAlarmLine(const std::string& line);

// The history file beside the state file: JSON lines, rotated to PATH.1
// past a size, so it stays bounded.
class AlarmLog {
public:
    AlarmLog(std::string path, size_t limit = 256 * 1024) : path_(std::move(path)), limit_(limit) {}
    // The last count events of the rotated and the current file.
    std::vector<AlarmEvent> Load(size_t count) const;
    // Empty, or an error text.
    std::string Append(const std::string& port, const AlarmEvent& e);

private:
    const std::string path_;
    const size_t limit_;
};

// The sentence for a log line: "raised clock_silent 0x05: …".
std::string AlarmLogText(const AlarmEvent& e);

} // namespace chronavel::ctl

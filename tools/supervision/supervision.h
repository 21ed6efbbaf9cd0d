// The supervising daemon's picture of the line: which clocks answered the
// census, since when one has been silent, and when each was last set. Kept
// in a small JSON file that a building's monitoring can read.
#pragma once

#include "app/master_search.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

struct ClockRecord {
    bool Master = false;
    bool Answering = false;
    std::optional<std::time_t> LastAnswer;
    std::optional<std::time_t> LastSync;
};

class Supervision {
public:
    // Takes a census taken at now. Returns the lines to log: on the first
    // census what answered, later only the changes (one that is back with
    // the time it was silent, a new one, a master's change). A known clock
    // the census missed is not called silent here: the watch asks it again.
    std::vector<std::string> TakeCensus(const std::vector<CensusEntry>& found, std::time_t now);
    // A clock answered the watch at now (as master or not); the line to
    // log when that is news.
    std::vector<std::string> Answered(uint8_t addr, bool master, std::time_t now);
    // The watch called a known clock silent; the line to log.
    std::string Stopped(uint8_t addr);
    // A clock known from an earlier run (the state file, the alarm history),
    // answering or not as that run last saw it.
    void Remember(uint8_t addr, bool master, bool answering);
    // A clock taken off the line for good.
    void Forget(uint8_t addr) { clocks_.erase(addr); }

    // A synchronisation written at now: to one clock (answered or not), or
    // to all (every clock answering the census took it).
    void Synced(uint8_t addr, bool answered, std::time_t now);

    int Answering() const;
    // Every clock that has ever answered.
    std::vector<uint8_t> Known() const;
    std::vector<uint8_t> Silent() const;
    const std::map<uint8_t, ClockRecord>& Clocks() const { return clocks_; }

    // The state file's content.
    nlohmann::json Json(const std::string& port, std::time_t now) const;

private:
    bool first_ = true;
    std::map<uint8_t, ClockRecord> clocks_;
};

} // namespace chronavel::ctl

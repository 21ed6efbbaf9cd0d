// --settings: the listed clocks' settings read between the syncs, one
// register a task, one clock a slot (the period, or shorter so that a round
// takes an hour at most), and compared with the file. Nothing is written.
#pragma once

#include "config/register_values.h"
#include "tools/daemon/schedule.h"
#include "tools/settings/config_file.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

class Line;

class DriftWatch {
public:
    void Use(ConfigFile file, int period_seconds, TaskTime now);
    bool On() const { return !wanted_.empty(); }
    bool Watches(uint8_t addr) const { return wanted_.contains(addr); }
    void Forget(uint8_t addr);

    // The next register read: due when a round is under way or the next
    // clock's slot has come.
    TaskSlot Slot(int speed) const;

    // A clock read to its end and compared.
    struct Checked {
        uint8_t Addr = 0;
        std::vector<std::string> Differing; // "name clock, в файле file"; none: in line
    };
    // Reads one register of the clock in turn; the clock's comparison once
    // its last register is read. A register that does not answer ends the
    // clock's round with nothing concluded (its turn comes again).
    std::optional<Checked> ReadOne(const Line& line, TaskTime now);

    // Per clock checked: what differs.
    const std::map<uint8_t, std::vector<std::string>>& Results() const { return results_; }

private:
    std::map<uint8_t, RegisterValues> wanted_;
    TaskClock::duration slot_{};
    TaskTime next_{};
    uint8_t addr_ = 0;          // the clock being read, or last read
    std::vector<uint8_t> regs_; // its registers still to read
    RegisterValues read_;       // and those read
    std::map<uint8_t, std::vector<std::string>> results_;
};

} // namespace chronavel::ctl

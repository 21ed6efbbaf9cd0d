// One clock on the line: its registers, its running time and date, its
// sensor readings and stored texts, and its answers to the PC's commands.
#pragma once

#include "sim/frame_parser.h"
#include "sim/sim.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace chronavel::sim {

// Register numbers the clock model itself acts on.
constexpr uint8_t kRegClockAddr = 0x4C;
constexpr uint8_t kRegMasterFlags = 0x4D;
constexpr uint8_t kMasterBit = 0x80;
constexpr uint8_t kRegFormats = 0xD8;
constexpr uint8_t kRegTextLengths = 0xE0;
constexpr size_t kStatusBlockSize = 100;

// What the clock sends: a reply frame's header fields and, for the commands
// that carry one, its data block.
struct TxFrame {
    uint8_t addr = 0;
    uint8_t addr2 = 0;
    uint8_t cmd = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    std::vector<uint8_t> data;
};

// The outcome of one frame for one clock.
struct Action {
    std::optional<TxFrame> reply;
    bool time_set = false;      // a valid 0x70 was taken
    bool time_rejected = false; // a 0x70 the clock could not take
    bool day_of_week_mismatch = false;
    int64_t carried_ms = 0; // the time a 0x70 carried, local ms
    bool became_master = false;
    std::optional<uint8_t> new_addr; // register 0x4C was written
};

class Clock {
public:
    Clock(uint8_t addr, uint64_t seed, double drift_ppm, int64_t host_ms);

    uint8_t Addr() const { return addr_; }
    void SetAddr(uint8_t addr) { addr_ = addr; }

    uint8_t Reg(uint8_t reg) const { return regs_[reg]; }
    uint8_t DefaultReg(uint8_t reg) const { return defaults_[reg]; }
    // Returns true when the write made the clock a master.
    bool SetReg(uint8_t reg, uint8_t value);
    bool IsMaster() const { return (regs_[kRegMasterFlags] & kMasterBit) != 0; }
    // A register whose reads the clock leaves unanswered (a fault).
    void SetSilentReg(uint8_t reg, bool silent) { silent_regs_[reg] = silent; }
    // A register whose writes the clock neither takes nor answers (a fault).
    void SetDeafReg(uint8_t reg, bool deaf) { deaf_regs_[reg] = deaf; }

    // The clock's own time in local ms at a host time in local ms.
    int64_t TimeMs(int64_t host_ms) const;
    void SetTimeMs(int64_t clock_ms, int64_t host_ms);

    // Acts on a valid frame addressed to this clock (or to all) that
    // arrived at host time host_ms.
    Action Handle(const RxFrame& f, int64_t host_ms);

    // Moves the sensor readings a small random step (once a second).
    void DriftReadings();

    std::vector<uint8_t> StatusBlock(int64_t host_ms) const;
    std::vector<uint8_t> TextBlock() const;

private:
    void SetDefaults();
    void FitTexts();

    uint8_t addr_;
    std::array<uint8_t, 256> regs_{};
    std::array<uint8_t, 256> defaults_{};
    std::array<bool, 256> silent_regs_{};
    std::array<bool, 256> deaf_regs_{};       // writes ignored, unanswered
    std::vector<std::vector<uint8_t>> texts_; // seven-segment codes
    std::mt19937_64 rng_;
    double drift_;          // clock seconds per host second - 1
    int64_t base_clock_ms_; // clock time at base_host_ms_
    int64_t base_host_ms_;
    double temp_[3] = {21.5, -3.25, 15.75};
    double pressure_ = 758; // mm Hg
    double humidity_ = 46;
    int radiation_ = 12; // thousandths
};

// Seven-segment codes for a text of digits, "-", "_", "." and blanks.
std::vector<uint8_t> SegmentCodes(const std::string& text);

} // namespace chronavel::sim

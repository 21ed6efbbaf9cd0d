// Watching a line between censuses: each known clock asked one short
// question on a cycle of its own (its master flags, so the master is
// watched too), a clock that misses asked again patiently before it is
// called silent, and the addresses no clock is known at swept a few at a
// time so a clock that joins is found. What to ask and when, and what an
// answer means, without the line: the caller makes the probe (ProbeClock)
// when it fits between its time frames, and hands the outcome back.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace chronavel {

using WatchTime = std::chrono::steady_clock::time_point;

// A probe the watch asks for.
enum class WatchAsk {
    kPoll,  // a known clock's turn in the cycle (short wait)
    kAgain, // a clock that missed, or one heard on the line (patient wait)
    kSweep, // an address no clock is known at (short wait)
};
struct WatchProbe {
    uint8_t Addr = 0;
    WatchAsk Ask = WatchAsk::kPoll;
    bool operator==(const WatchProbe&) const = default;
};

struct WatchedClock {
    bool Master = false;
    bool Answering = true;
    int MissesInRow = 0;
    uint64_t MissedPolls = 0; // every probe of it that went unanswered
    std::optional<WatchTime> AgainAt;
};

// What a probe's outcome changed.
enum class WatchChange { kNew, kSilent, kBack, kMasterOn, kMasterOff };
struct WatchEvent {
    WatchChange Change = WatchChange::kNew;
    uint8_t Addr = 0;
    bool operator==(const WatchEvent&) const = default;
};

// Misses in a row that make a clock silent: three independent losses at
// 1 % come once in a million probes.
constexpr int kMissesToSilent = 3;
// The askings after a miss wait this long, so a burst of noise or a
// master's block has passed.
constexpr std::chrono::seconds kAgainAfter[kMissesToSilent - 1] = {std::chrono::seconds(2),
                                                                   std::chrono::seconds(5)};
// The cycle a known clock is polled on: as short as this, as long as the
// line's share allows but never longer than the other (a clock gone dark is
// then called silent within about 70 s).
constexpr std::chrono::seconds kShortestCycle{40};
constexpr std::chrono::seconds kLongestCycle{60};
// The polls' share of the line the cycle is sized for.
constexpr double kPollShare = 0.05;
// One sweep probe every this long: the 254 addresses in under eleven
// minutes (a probe beside a streaming master is often asked twice).
constexpr std::chrono::milliseconds kSweepSpacing{2500};

class LineWatch {
public:
    explicit LineWatch(int speed);

    // A clock known to answer (a census found it, a history named it):
    // polled from now on. answering false: known, but silent until it
    // answers.
    void Know(uint8_t addr, bool master, WatchTime now, bool answering = true);
    // A clock taken off the line for good: no longer polled; a sweep that
    // finds it answering lists it again.
    void Forget(uint8_t addr);
    // A frame from addr was heard on the line: an unknown or silent clock
    // is asked at once.
    void Heard(uint8_t addr, WatchTime now);

    // The probe due at now, re-askings first; nullopt when none is.
    std::optional<WatchProbe> Due(WatchTime now) const;
    // When the next probe falls due.
    WatchTime NextDue() const;
    // A probe's outcome at now; the changes it made.
    std::vector<WatchEvent> Result(const WatchProbe& probe, bool answered, bool master,
                                   WatchTime now);

    // The poll cycle for the clocks known now.
    std::chrono::milliseconds Cycle() const;
    // The address the sweep asks next.
    uint8_t SweepAt() const { return sweep_at_; }
    const std::map<uint8_t, WatchedClock>& Clocks() const { return clocks_; }

private:
    std::chrono::milliseconds PollSpacing() const;
    void AdvanceSweep();

    int speed_;
    std::map<uint8_t, WatchedClock> clocks_;
    std::map<uint8_t, WatchTime> heard_; // unknown addresses heard: asked at once
    uint8_t poll_next_ = 0;              // the clock polled next: the first known at or after
    std::optional<WatchTime> poll_at_;   // when (nullopt: at once)
    uint8_t sweep_at_ = 1;
    std::optional<WatchTime> sweep_due_;
};

// A poll's usual cost on the wire at a speed: our frame, the clock's
// answer and turnaround, the adapter's latency.
std::chrono::milliseconds PollCost(int speed);

} // namespace chronavel

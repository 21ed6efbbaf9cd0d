// Whether the PC's own clock is synchronised to a time reference, and how
// far off the system thinks it may be. Every clock on the line takes the
// PC's time, so a PC that has lost its reference sets them all wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace chronavel::platform {

enum class ClockSyncState {
    kSynchronised,
    kUnsynchronised,
    kUnknown, // the system cannot say
};

struct ClockSync {
    ClockSyncState State = ClockSyncState::kUnknown;
    // The system's own bound on the clock's error, in microseconds, where it
    // keeps one.
    std::optional<int64_t> MaxErrorUs;
    bool operator==(const ClockSync&) const = default;
};

// The answer of the source set for tests, else the system's.
ClockSync QueryClockSync();

// Replaces the answer (tests); an empty function restores the system's.
void SetClockSyncSource(std::function<ClockSync()> source);

// The system's own answer, whatever source is set.
ClockSync SystemClockSync();

} // namespace chronavel::platform

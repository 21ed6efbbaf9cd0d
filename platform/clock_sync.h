// Whether the PC's own clock is synchronised to a time reference, and how
// far off the system thinks it may be. Every clock on the line takes the
// PC's time, so a PC that has lost its reference sets them all wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// The answer of the installed time source (platform/time_source.h).
ClockSync QueryClockSync();

// The system's own answer, whatever source is installed.
ClockSync SystemClockSync();

// What Windows tells of the keeping of its clock, and the answer made of
// it (here, so that the rule is tested on every system).
struct WindowsTimeFacts {
    // GetSystemTimeAdjustment: a time service is steering the clock now.
    bool Steered = false;
    // The Windows time service (W32Time) is installed and could be asked.
    bool ServiceKnown = false;
    // Its start type is Disabled: it never runs.
    bool ServiceDisabled = false;
    // Its Parameters\Type: NTP, NT5DS, AllSync, NoSync ("" when unread).
    std::string Type;
};
ClockSync ClockSyncFromWindowsTime(const WindowsTimeFacts& facts);

} // namespace chronavel::platform

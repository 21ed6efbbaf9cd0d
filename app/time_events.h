// Changes of the PC's time that leave the clocks wrong until their next
// period: the wall clock stepped (a time service correcting it, an operator
// setting it), the zone's offset changed (summer time, a new zone), the
// machine resumed from a suspend, or the PC's clock became synchronised.
// Watched on every pass of the daemon and every display tick of the windows;
// each brings one synchronisation at once, at most one per 10 s.
#pragma once

#include "platform/time_source.h"

#include <chrono>
#include <optional>
#include <string>

namespace chronavel {

enum class TimeEventKind {
    kStep,         // the wall clock moved against the monotonic clock
    kSummerTime,   // the zone's offset changed into summer time
    kWinterTime,   // ... and out of it
    kZoneChange,   // the offset changed otherwise (a new zone)
    kResume,       // the machine slept
    kSynchronised, // the PC's clock became synchronised
};

struct TimeEvent {
    TimeEventKind Kind = TimeEventKind::kStep;
    std::chrono::seconds Step{};          // kStep: how far, kResume: how long asleep
    long OffsetBefore = 0, OffsetNow = 0; // seconds east of UTC
};

// A step of the wall clock smaller than this is a correction the clocks do
// not need at once.
constexpr std::chrono::seconds kStepThreshold{1};
// At most one extra synchronisation in this long; an event within it waits
// for its end.
constexpr std::chrono::seconds kExtraSyncSpacing{10};

class TimeEventWatch {
public:
    // Looks at the installed time source (reading the zone's settings afresh
    // first). The event to synchronise for now, if any: the first look only
    // takes its bearings.
    std::optional<TimeEvent> Check();

private:
    bool started_ = false;
    platform::WallTime wall_{};
    platform::MonoTime mono_{};
    std::chrono::nanoseconds suspended_{};
    long offset_ = 0;
    bool dst_ = false;
    platform::ClockSyncState sync_ = platform::ClockSyncState::kUnknown;
    std::optional<TimeEvent> waiting_; // seen within the spacing
    std::optional<platform::MonoTime> last_extra_;
};

// The reason as the tool's log says it: "summer time began", "PC clock
// stepped by +90 s", "time zone changed (UTC+01:00 to UTC+03:00)", ...
std::string TimeEventWords(const TimeEvent& e);
// The reason in the windows: "переход на летнее время", "часы ПК
// переставлены на +90 с", ...
std::string TimeEventText(const TimeEvent& e);

// The service mode's line about the last extra synchronisation: "Внеочередная
// синхронизация в 03:00:01: переход на летнее время".
std::string ExtraSyncText(const platform::LocalMoment& at, const TimeEvent& e);

} // namespace chronavel

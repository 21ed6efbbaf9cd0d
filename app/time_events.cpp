#include "app/time_events.h"

#include <cstdio>
#include <cstdlib>

namespace chronavel {

namespace {

std::string Signed(long long v)
{
    return (v >= 0 ? "+" : "-") + std::to_string(std::llabs(v));
}

std::string OffsetText(long seconds)
{
    const long a = std::labs(seconds) % 86400;
    char buf[40];
    std::snprintf(buf, sizeof buf, "UTC%c%02ld:%02ld", seconds < 0 ? '-' : '+', a / 3600,
                  a / 60 % 60);
    return buf;
}

std::chrono::seconds Rounded(std::chrono::nanoseconds d)
{
    return std::chrono::round<std::chrono::seconds>(d);
}

} // namespace

std::optional<TimeEvent> TimeEventWatch::Check()
{
    platform::TimeSource& t = *platform::Time();
    t.RefreshZone();
    const platform::WallTime wall = t.Wall();
    const platform::MonoTime mono = t.Mono();
    const std::chrono::nanoseconds suspended = t.Suspended();
    const platform::LocalMoment local = t.Local(std::chrono::system_clock::to_time_t(wall));
    const platform::ClockSyncState sync = t.Sync().State;
    const bool dst = local.Tm.tm_isdst > 0;

    std::optional<TimeEvent> seen;
    if (started_) {
        const auto slept = suspended - suspended_;
        const auto moved = (wall - wall_) - (mono - mono_) - slept;
        if (slept > kStepThreshold) {
            seen = TimeEvent{TimeEventKind::kResume, Rounded(slept)};
        } else if (moved > kStepThreshold || moved < -kStepThreshold) {
            seen = TimeEvent{TimeEventKind::kStep, Rounded(moved)};
        } else if (local.UtcOffsetSeconds != offset_) {
            TimeEventKind kind = TimeEventKind::kZoneChange;
            if (dst && !dst_)
                kind = TimeEventKind::kSummerTime;
            else if (!dst && dst_)
                kind = TimeEventKind::kWinterTime;
            seen = TimeEvent{kind, {}, offset_, local.UtcOffsetSeconds};
        } else if (sync == platform::ClockSyncState::kSynchronised &&
                   sync_ != platform::ClockSyncState::kSynchronised) {
            seen = TimeEvent{TimeEventKind::kSynchronised};
        }
    }
    started_ = true;
    wall_ = wall;
    mono_ = mono;
    suspended_ = suspended;
    offset_ = local.UtcOffsetSeconds;
    dst_ = dst;
    sync_ = sync;

    if (seen)
        waiting_ = seen;
    if (!waiting_)
        return std::nullopt;
    // The monotonic clock stands still in a suspend, so the spacing is
    // counted on it plus the time asleep.
    const platform::MonoTime now = mono + suspended;
    if (last_extra_ && now - *last_extra_ < kExtraSyncSpacing)
        return std::nullopt;
    last_extra_ = now;
    std::optional<TimeEvent> fire = waiting_;
    waiting_.reset();
    return fire;
}

std::string TimeEventWords(const TimeEvent& e)
{
    switch (e.Kind) {
    case TimeEventKind::kStep:
        return "PC clock stepped by " + Signed(e.Step.count()) + " s";
    case TimeEventKind::kSummerTime:
        return "summer time began (" + OffsetText(e.OffsetBefore) + " to " +
               OffsetText(e.OffsetNow) + ")";
    case TimeEventKind::kWinterTime:
        return "summer time ended (" + OffsetText(e.OffsetBefore) + " to " +
               OffsetText(e.OffsetNow) + ")";
    case TimeEventKind::kZoneChange:
        return "time zone changed (" + OffsetText(e.OffsetBefore) + " to " +
               OffsetText(e.OffsetNow) + ")";
    case TimeEventKind::kResume:
        return "resumed after " + std::to_string(e.Step.count()) + " s asleep";
    case TimeEventKind::kSynchronised:
        return "PC clock synchronised";
    }
    return {};
}

std::string TimeEventText(const TimeEvent& e)
{
    switch (e.Kind) {
    case TimeEventKind::kStep:
        return "часы ПК переставлены на " + Signed(e.Step.count()) + " с";
    case TimeEventKind::kSummerTime:
        return "переход на летнее время";
    case TimeEventKind::kWinterTime:
        return "переход на зимнее время";
    case TimeEventKind::kZoneChange:
        return "смена часового пояса (" + OffsetText(e.OffsetNow) + ")";
    case TimeEventKind::kResume:
        return "выход из спящего режима";
    case TimeEventKind::kSynchronised:
        return "время ПК синхронизировано";
    }
    return {};
}

std::string ExtraSyncText(const platform::LocalMoment& at, const TimeEvent& e)
{
    char hms[16];
    std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", at.Tm.tm_hour, at.Tm.tm_min, at.Tm.tm_sec);
    return std::string("Внеочередная синхронизация в ") + hms + ": " + TimeEventText(e);
}

} // namespace chronavel

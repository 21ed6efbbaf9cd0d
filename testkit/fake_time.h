// One fake for every clock the program reads (platform/time_source.h),
// installed for its lifetime. Time moves only by hand and when the code under
// test sleeps, plus a small step at every monotonic read (so a spin on it
// ends). A test can step the wall clock as an operator or a time service
// would, suspend the machine, change the zone's offset, set the tick counter
// and the synchronisation state, all in one place.
#pragma once

#include "platform/local_time.h"
#include "platform/time_source.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>

namespace chronavel::test {

// A moment of the local calendar, as the PC's wall clock shows it in the
// process's own zone.
inline platform::WallTime LocalWall(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(ms);
}

class FakeTime : public platform::TimeSource {
public:
    static constexpr auto kReadStep = std::chrono::microseconds(10);

    // Only the tick counter is fake; every other clock is the system's.
    struct TickOnly {};

    explicit FakeTime(platform::WallTime start = std::chrono::system_clock::now(),
                      uint32_t tick = 0)
        : wall_base_(start), tick_(tick)
    {
        Install();
    }
    FakeTime(TickOnly, uint32_t tick) : tick_(tick), tick_only_(true) { Install(); }
    // Puts back the source installed before this one.
    ~FakeTime() override { platform::SetTimeSource(previous_); }
    FakeTime(const FakeTime&) = delete;
    FakeTime& operator=(const FakeTime&) = delete;

    // --- Moving time.
    // Every clock moves by d (the tick by whole milliseconds of it).
    void Advance(std::chrono::nanoseconds d)
    {
        mono_ns_.fetch_add(d.count());
        tick_.fetch_add(static_cast<uint32_t>(d.count() / 1000000));
    }
    // The wall clock alone is stepped, as when the PC's time is set.
    void ShiftWall(std::chrono::nanoseconds by) { wall_shift_ns_.fetch_add(by.count()); }
    // The machine sleeps for d: the wall clock and the suspended time move,
    // the monotonic clock and the tick stand still.
    void Suspend(std::chrono::nanoseconds d)
    {
        wall_shift_ns_.fetch_add(d.count());
        suspended_ns_.fetch_add(d.count());
    }
    // The wall clock is set to at, as an operator would set it.
    void SetWall(platform::WallTime at)
    {
        ShiftWall(std::chrono::duration_cast<std::chrono::nanoseconds>(at - WallNow()));
    }
    void SetTick(uint32_t t) { tick_.store(t); }
    void AdvanceTick(uint32_t ms) { tick_.fetch_add(ms); }
    uint32_t TickNow() const { return tick_.load(); }

    // --- The zone: its offset east of UTC and whether that is summer time,
    // for every moment; unset, the process's own zone.
    struct Zone {
        long Offset = 0;
        bool Summer = false;
    };
    void SetZone(std::function<Zone(std::time_t)> zone_at)
    {
        std::lock_guard<std::mutex> hold(lock_);
        zone_ = std::move(zone_at);
    }
    void SetUtcOffset(long seconds)
    {
        SetZone([seconds](std::time_t) { return Zone{seconds, false}; });
    }
    // Standard time at `standard` seconds east of UTC, summer time (one hour
    // more) from the moment `from` on.
    void SetSummerTimeFrom(long standard, std::time_t from)
    {
        SetZone([=](std::time_t t) {
            return t < from ? Zone{standard, false} : Zone{standard + 3600, true};
        });
    }
    int ZoneRefreshes() const { return zone_refreshes_.load(); }

    void SetSync(const platform::ClockSync& s)
    {
        std::lock_guard<std::mutex> hold(lock_);
        sync_ = s;
    }

    // Reads without stepping (for the test's own checks).
    platform::WallTime WallNow() const
    {
        return wall_base_ + std::chrono::duration_cast<platform::WallTime::duration>(
                                std::chrono::nanoseconds(mono_ns_.load() + wall_shift_ns_.load()));
    }
    int Sleeps() const { return sleeps_.load(); }
    // Counts sleeps afresh and drops the sleep hook.
    void ResetSleeps()
    {
        sleeps_.store(0);
        slept_ns_.store(0);
        on_sleep = nullptr;
    }
    std::chrono::nanoseconds Slept() const { return std::chrono::nanoseconds(slept_ns_.load()); }

    // Runs at every sleep, after time has moved (the test stops the thread
    // or moves the wall clock here).
    std::function<void(int sleep_number)> on_sleep;

    // --- platform::TimeSource
    uint32_t Tick() override { return tick_.load(); }
    platform::WallTime Wall() override { return tick_only_ ? system_.Wall() : WallNow(); }
    platform::MonoTime Mono() override
    {
        if (tick_only_)
            return system_.Mono();
        const int64_t ns = mono_ns_.fetch_add(
            std::chrono::duration_cast<std::chrono::nanoseconds>(kReadStep).count());
        return platform::MonoTime(std::chrono::nanoseconds(ns));
    }
    std::chrono::nanoseconds Suspended() override
    {
        return tick_only_ ? system_.Suspended() : std::chrono::nanoseconds(suspended_ns_.load());
    }
    void Sleep(std::chrono::nanoseconds d) override
    {
        if (tick_only_) {
            system_.Sleep(d);
            return;
        }
        mono_ns_.fetch_add(d.count());
        slept_ns_.fetch_add(d.count());
        const int n = sleeps_.fetch_add(1) + 1;
        if (on_sleep)
            on_sleep(n);
    }
    platform::LocalMoment Local(std::time_t t) override
    {
        std::function<Zone(std::time_t)> zone;
        {
            std::lock_guard<std::mutex> hold(lock_);
            zone = zone_;
        }
        if (!zone)
            return system_.Local(t);
        const Zone z = zone(t);
        platform::LocalMoment m;
        m.UtcOffsetSeconds = z.Offset;
        m.Tm = platform::UtcCalendar(t + z.Offset);
        m.Tm.tm_isdst = z.Summer ? 1 : 0;
        return m;
    }
    void RefreshZone() override { zone_refreshes_.fetch_add(1); }
    platform::ClockSync Sync() override
    {
        if (tick_only_)
            return system_.Sync();
        std::lock_guard<std::mutex> hold(lock_);
        return sync_;
    }
    bool Real() const override { return tick_only_; }

private:
    void Install()
    {
        previous_ = platform::Time();
        // Not owned: the test's object outlives its installation.
        platform::SetTimeSource(std::shared_ptr<platform::TimeSource>(this, [](auto*) {}));
    }

    std::shared_ptr<platform::TimeSource> previous_;
    platform::SystemTimeSource system_;
    platform::WallTime wall_base_{};
    std::atomic<uint32_t> tick_{0};
    const bool tick_only_ = false;
    std::atomic<int64_t> mono_ns_{0};
    std::atomic<int64_t> wall_shift_ns_{0};
    std::atomic<int64_t> suspended_ns_{0};
    std::atomic<int> sleeps_{0};
    std::atomic<int64_t> slept_ns_{0};
    std::atomic<int> zone_refreshes_{0};
    mutable std::mutex lock_;
    std::function<Zone(std::time_t)> zone_; // guarded by lock_
    platform::ClockSync sync_;              // guarded by lock_
};

} // namespace chronavel::test

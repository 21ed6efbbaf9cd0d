// Wall and monotonic clocks for tests of timed writes: time moves only when
// the code under test sleeps, plus a small step at every monotonic read (so
// a spin on it ends). The wall clock may be moved by hand, as an operator
// or a time service would move the PC's clock.
#pragma once

#include "link/line_clock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>

namespace chronavel::test {

// A moment of the local calendar, as the PC's wall clock shows it.
inline WallTime LocalWall(int y, int mo, int d, int h, int mi, int s, int ms = 0)
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

class FakeLineClocks {
public:
    static constexpr auto kReadStep = std::chrono::microseconds(10);

    explicit FakeLineClocks(WallTime start) : wall_base_(start)
    {
        SetLineClocks({[this] { return Wall(); }, [this] { return Mono(); },
                       [this](LineDuration d) { Sleep(d); }});
    }
    ~FakeLineClocks() { SetLineClocks({}); }
    FakeLineClocks(const FakeLineClocks&) = delete;
    FakeLineClocks& operator=(const FakeLineClocks&) = delete;

    // Reads without stepping (for the test's own checks).
    WallTime WallNow() const
    {
        return wall_base_ + std::chrono::nanoseconds(mono_ns_.load() + wall_shift_ns_.load());
    }
    // Moves the wall clock only.
    void ShiftWall(LineDuration by) { wall_shift_ns_.fetch_add(by.count()); }
    int Sleeps() const { return sleeps_.load(); }
    LineDuration Slept() const { return LineDuration(slept_ns_.load()); }

    // Runs at every sleep, after time has moved (the test stops the thread
    // or moves the wall clock here).
    std::function<void(int sleep_number)> on_sleep;

private:
    WallTime Wall() const { return WallNow(); }
    MonoTime Mono()
    {
        const int64_t ns = mono_ns_.fetch_add(
            std::chrono::duration_cast<std::chrono::nanoseconds>(kReadStep).count());
        return MonoTime(std::chrono::nanoseconds(ns));
    }
    void Sleep(LineDuration d)
    {
        mono_ns_.fetch_add(d.count());
        slept_ns_.fetch_add(d.count());
        const int n = sleeps_.fetch_add(1) + 1;
        if (on_sleep)
            on_sleep(n);
    }

    WallTime wall_base_;
    std::atomic<int64_t> mono_ns_{0};
    std::atomic<int64_t> wall_shift_ns_{0};
    std::atomic<int> sleeps_{0};
    std::atomic<int64_t> slept_ns_{0};
};

} // namespace chronavel::test

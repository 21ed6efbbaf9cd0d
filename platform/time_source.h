// Every clock the program reads, in one place: the 32-bit millisecond tick,
// the PC's wall clock, a monotonic clock, the time spent suspended, sleeping,
// the local calendar with its offset from UTC, and whether the PC's clock is
// synchronised. The system's source is used unless another is installed;
// tests install one fake (testkit/fake_time.h) and move time by hand.
#pragma once

#include "platform/clock_sync.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>

namespace chronavel::platform {

using WallTime = std::chrono::system_clock::time_point;
using MonoTime = std::chrono::steady_clock::time_point;

// A moment of the local calendar and the zone's offset from UTC then (summer
// time included), in seconds east of Greenwich.
struct LocalMoment {
    std::tm Tm{};
    long UtcOffsetSeconds = 0;
};

class TimeSource {
public:
    virtual ~TimeSource() = default;
    // Milliseconds since an arbitrary start, modulo 2^32.
    virtual uint32_t Tick() = 0;
    virtual WallTime Wall() = 0;
    virtual MonoTime Mono() = 0;
    // How long the machine has been suspended since an arbitrary start: the
    // monotonic clock stands still meanwhile, the wall clock does not. Zero
    // where the system cannot say.
    virtual std::chrono::nanoseconds Suspended() = 0;
    virtual void Sleep(std::chrono::nanoseconds d) = 0;
    virtual LocalMoment Local(std::time_t t) = 0;
    // Reads the zone's settings again (the C library reads them only once).
    virtual void RefreshZone() = 0;
    virtual ClockSync Sync() = 0;
    // True for the system's own clocks, where a thread may use a wait of its
    // own (one a stop request ends) instead of Sleep.
    virtual bool Real() const { return false; }
};

// The system's clocks; a base for sources that replace only part of them.
class SystemTimeSource : public TimeSource {
public:
    uint32_t Tick() override;
    WallTime Wall() override;
    MonoTime Mono() override;
    std::chrono::nanoseconds Suspended() override;
    void Sleep(std::chrono::nanoseconds d) override;
    LocalMoment Local(std::time_t t) override;
    void RefreshZone() override;
    ClockSync Sync() override;
    bool Real() const override { return true; }
};

// The installed source, or the system's.
std::shared_ptr<TimeSource> Time();
// Installs a source; nullptr restores the system's.
void SetTimeSource(std::shared_ptr<TimeSource> source);

// The offset from UTC of a local calendar time that belongs to t.
long UtcOffsetOf(const std::tm& local, std::time_t t);

// The system's time spent suspended (see TimeSource::Suspended).
std::chrono::nanoseconds SystemSuspendedTime();

} // namespace chronavel::platform

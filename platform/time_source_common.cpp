#include "platform/local_time.h"
#include "platform/tick.h"
#include "platform/time_source.h"

#include <mutex>
#include <thread>

namespace chronavel::platform {

namespace {

std::mutex source_lock;
std::shared_ptr<TimeSource> installed; // guarded by source_lock

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

} // namespace

uint32_t SystemTimeSource::Tick()
{
    return SystemTickCount();
}

WallTime SystemTimeSource::Wall()
{
    return std::chrono::system_clock::now();
}

MonoTime SystemTimeSource::Mono()
{
    return std::chrono::steady_clock::now();
}

std::chrono::nanoseconds SystemTimeSource::Suspended()
{
    return SystemSuspendedTime();
}

void SystemTimeSource::Sleep(std::chrono::nanoseconds d)
{
    std::this_thread::sleep_for(d);
}

LocalMoment SystemTimeSource::Local(std::time_t t)
{
    LocalMoment m;
    m.Tm = LocalCalendar(t);
    m.UtcOffsetSeconds = UtcOffsetOf(m.Tm, t);
    return m;
}

void SystemTimeSource::RefreshZone()
{
    RefreshTimeZone();
}

ClockSync SystemTimeSource::Sync()
{
    return SystemClockSync();
}

long UtcOffsetOf(const std::tm& local, std::time_t t)
{
    const long long as_utc =
        DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) *
            86400 +
        local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
    return static_cast<long>(as_utc - static_cast<long long>(t));
}

std::shared_ptr<TimeSource> Time()
{
    std::lock_guard<std::mutex> hold(source_lock);
    if (!installed)
        installed = std::make_shared<SystemTimeSource>();
    return installed;
}

void SetTimeSource(std::shared_ptr<TimeSource> source)
{
    std::lock_guard<std::mutex> hold(source_lock);
    installed = std::move(source);
}

uint32_t GetTickCount()
{
    return Time()->Tick();
}

ClockSync QueryClockSync()
{
    return Time()->Sync();
}

} // namespace chronavel::platform

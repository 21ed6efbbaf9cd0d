#include "app/time_sync.h"

#include "config/registers.h"
#include "link/frames.h"
#include "platform/tick.h"
#include "platform/time_source.h"

#include <chrono>
#include <ctime>
#include <memory>

namespace chronavel {

namespace {

constexpr uint8_t kTimeLength = static_cast<uint8_t>(kTimeBlockSize);
constexpr int32_t kTimeRetries = 3;
constexpr int32_t kTimeInterval = 3000;

} // namespace

LocalTime LocalTimeAt(WallTime at)
{
    const std::time_t now =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(at));
    const std::tm tm = platform::Time()->Local(now).Tm;
    LocalTime t;
    t.Year = tm.tm_year + 1900;
    t.Month = tm.tm_mon + 1;
    t.Day = tm.tm_mday;
    t.Hour = tm.tm_hour;
    t.Minute = tm.tm_min;
    // A leap second would not fit the clock's 0..59.
    t.Second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    return t;
}

LocalTime CurrentLocalTime()
{
    return LocalTimeAt(platform::Time()->Wall());
}

int32_t JulianDay(int year, int month, int day)
{
    int y = year;
    int m = month;
    if (m > 2) {
        m -= 3;
    } else {
        m += 9;
        y -= 1;
    }
    const int32_t c = y / 100;
    const int32_t a = y % 100;
    return (146097 * c) / 4 + (1461 * a) / 4 + (153 * m + 2) / 5 + day + 1721119;
}

uint8_t DayOfWeekByte(int year, int month, int day)
{
    return static_cast<uint8_t>(JulianDay(year, month, day) % 7 + 2);
}

uint8_t TimeBcd(int value)
{
    // The clock's fields are always 0..99; anything else is clamped, never thrown.
    return BcdByte(value < 0 ? 0 : value % 100);
}

TimeBlock MakeTimeBlock(const LocalTime& t)
{
    return TimeBlock{TimeBcd(t.Second),    TimeBcd(t.Minute),
                     TimeBcd(t.Hour),      DayOfWeekByte(t.Year, t.Month, t.Day),
                     TimeBcd(t.Day),       TimeBcd(t.Month),
                     TimeBcd(t.Year % 100)};
}

DataRef FreshTimeData()
{
    auto data = std::make_shared<RequestData>();
    const TimeBlock first = MakeTimeBlock(CurrentLocalTime());
    data->Bytes.assign(first.begin(), first.end());
    // Every write carries the second its last byte leaves on, so a resend
    // or a re-queued copy never sets a clock behind, and the date, the day
    // of the week and every rollover belong to that second.
    data->StampAt = [](WallTime second) {
        const TimeBlock b = MakeTimeBlock(LocalTimeAt(second));
        return std::vector<uint8_t>(b.begin(), b.end());
    };
    return data;
}

TRequestRec TimeSyncRequest(uint8_t addr)
{
    return MakeRequest(addr, kTimeInterval, kTimeRetries, platform::GetTickCount() + kTimeInterval,
                       kCmdSetTime, 0, kTimeLength, nullptr, FreshTimeData(), 2, 0);
}

bool Sinkhr_date(uint8_t addr)
{
    return PutRequest(TimeSyncRequest(addr));
}

} // namespace chronavel

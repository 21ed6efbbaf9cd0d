#include "sim/local_time.h"

#include <cstdio>
#include <ctime>

namespace chronavel::sim {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

int64_t LocalUs(std::chrono::system_clock::time_point t)
{
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm parts{};
    localtime_r(&secs, &parts);
    const int64_t us = duration_cast<microseconds>(t.time_since_epoch()).count();
    return us + static_cast<int64_t>(parts.tm_gmtoff) * 1000000;
}

std::chrono::system_clock::time_point SystemAt(std::chrono::steady_clock::time_point t)
{
    const auto sys_now = std::chrono::system_clock::now();
    const auto steady_now = std::chrono::steady_clock::now();
    return sys_now + duration_cast<std::chrono::system_clock::duration>(t - steady_now);
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

int64_t LocalMs(std::chrono::system_clock::time_point t)
{
    return FloorDiv(LocalUs(t), 1000);
}

int64_t LocalMsAt(std::chrono::steady_clock::time_point t)
{
    return LocalMs(SystemAt(t));
}

int64_t LocalUsAt(std::chrono::steady_clock::time_point t)
{
    return LocalUs(SystemAt(t));
}

ClockTime ToClockTime(int64_t local_ms)
{
    using namespace std::chrono;
    const int64_t day_count = FloorDiv(local_ms, 86400000);
    const int64_t in_day = local_ms - day_count * 86400000;
    const sys_days day{days{day_count}};
    const year_month_day ymd{day};
    ClockTime t;
    t.hour = static_cast<int>(in_day / 3600000);
    t.minute = static_cast<int>(in_day / 60000 % 60);
    t.second = static_cast<int>(in_day / 1000 % 60);
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.year = static_cast<int>(ymd.year()) % 100;
    t.day_of_week = WireDayOfWeek(local_ms);
    return t;
}

bool FromClockTime(const ClockTime& t, int64_t* local_ms)
{
    using namespace std::chrono;
    if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 ||
        t.second > 59 || t.year < 0 || t.year > 99 || t.month < 1 || t.month > 12 || t.day < 1)
        return false;
    const year_month_day ymd{year{2000 + t.year}, month{static_cast<unsigned>(t.month)},
                             day{static_cast<unsigned>(t.day)}};
    if (!ymd.ok())
        return false;
    const int64_t days_since = sys_days{ymd}.time_since_epoch().count();
    *local_ms = days_since * 86400000 + (t.hour * 3600 + t.minute * 60 + t.second) * 1000LL;
    return true;
}

int WireDayOfWeek(int64_t local_ms)
{
    using namespace std::chrono;
    const sys_days day{days{FloorDiv(local_ms, 86400000)}};
    const unsigned iso = weekday{day}.iso_encoding(); // 1 = Monday .. 7 = Sunday
    return static_cast<int>(iso) + 1;
}

std::string FormatLocal(int64_t local_us)
{
    const int64_t ms = FloorDiv(local_us, 1000);
    const ClockTime t = ToClockTime(ms);
    const int64_t frac = local_us - FloorDiv(local_us, 1000000) * 1000000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "20%02d-%02d-%02dT%02d:%02d:%02d.%06lld", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, static_cast<long long>(frac));
    return buf;
}

} // namespace chronavel::sim

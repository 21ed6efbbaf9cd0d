#include "platform/local_time.h"

namespace chronavel::platform {

std::tm LocalCalendar(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

void RefreshTimeZone()
{
    tzset();
}

std::tm UtcCalendar(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

} // namespace chronavel::platform

#include "platform/local_time.h"

namespace chronavel::platform {

std::tm LocalCalendar(std::time_t t)
{
    std::tm tm{};
    localtime_s(&tm, &t);
    return tm;
}

void RefreshTimeZone()
{
    _tzset();
}

std::tm UtcCalendar(std::time_t t)
{
    std::tm tm{};
    gmtime_s(&tm, &t);
    return tm;
}

} // namespace chronavel::platform

// Calendar time from a time_t, local or UTC. The C library's thread-safe
// forms differ between systems (localtime_r and localtime_s, with their
// arguments swapped).
#pragma once

#include <ctime>

namespace chronavel::platform {

// The local calendar time at t, in the PC's own time zone.
std::tm LocalCalendar(std::time_t t);

// Reads the time zone's settings again (TZ, the system's zone file): the C
// library reads them once, so a changed zone is seen only after this.
void RefreshTimeZone();

// The calendar time at t in UTC.
std::tm UtcCalendar(std::time_t t);

} // namespace chronavel::platform

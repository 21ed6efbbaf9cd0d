// A local calendar time in one call, for the tables of dates and times the
// tests of the display and the time-setting request are made of.
#pragma once

#include "app/time_sync.h"

namespace chronavel::test {

inline LocalTime At(int y, int mo, int d, int h, int mi, int s)
{
    LocalTime t;
    t.Year = y;
    t.Month = mo;
    t.Day = d;
    t.Hour = h;
    t.Minute = mi;
    t.Second = s;
    return t;
}

} // namespace chronavel::test

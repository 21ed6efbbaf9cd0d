// The time-setting request: the PC's local time and date as the clocks take
// them (a 7-byte block of packed BCD and a day-of-week number), and the
// queued request that carries it.
#pragma once

#include "link/request.h"

#include <array>
#include <cstdint>

namespace chronavel {

// A local calendar time, as the PC's clock gives it.
struct LocalTime {
    int Year = 2000; // full year, e.g. 2026
    int Month = 1;   // 1..12
    int Day = 1;     // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

// The PC's local time now, from the installed time source.
LocalTime CurrentLocalTime();

// The PC's local calendar time at a moment of its wall clock (the time zone
// and summer time of that moment); the second is truncated.
LocalTime LocalTimeAt(WallTime at);

// Julian day number of a Gregorian date (the integer algorithm with the
// year starting in March).
int32_t JulianDay(int year, int month, int day);

// The clocks' day-of-week number: Monday 2 .. Saturday 7, Sunday 8.
uint8_t DayOfWeekByte(int year, int month, int day);

// 0..99 as one packed-BCD byte (45 -> 0x45).
uint8_t TimeBcd(int value);

constexpr size_t kTimeBlockSize = 7;
using TimeBlock = std::array<uint8_t, kTimeBlockSize>;

// Seconds, minutes, hours, day of week, day, month, year in the century.
TimeBlock MakeTimeBlock(const LocalTime& t);

// A data block that carries the local time: Bytes hold the time it was
// built at; each write is stamped with the second its last byte leaves on.
DataRef FreshTimeData();

// The time-setting request for one clock (0xFF: all): command 0x70, length
// 7, 3 retries 3,000 ms apart, ReplyMode 2.
TRequestRec TimeSyncRequest(uint8_t addr);

// Queues the time-setting request for addr. False when the ring has no
// room (nothing queued).
bool Sinkhr_date(uint8_t addr);

} // namespace chronavel

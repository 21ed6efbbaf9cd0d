#include "app/time_source.h"

#include <cstdio>

namespace chronavel {

using platform::ClockSync;
using platform::ClockSyncState;

std::string ErrorBoundText(int64_t us, bool russian)
{
    const char* unit_us = russian ? "мкс" : "us";
    const char* unit_ms = russian ? "мс" : "ms";
    const char* unit_s = russian ? "с" : "s";
    char buf[48];
    if (us < 1000)
        std::snprintf(buf, sizeof buf, "%lld %s", static_cast<long long>(us), unit_us);
    else if (us < 1000000)
        std::snprintf(buf, sizeof buf, "%lld %s", static_cast<long long>((us + 500) / 1000),
                      unit_ms);
    else if (us < 10000000)
        // A decimal comma in Russian: a point there reads as a thousands mark.
        std::snprintf(buf, sizeof buf, "%lld%c%lld %s", static_cast<long long>(us / 1000000),
                      russian ? ',' : '.', static_cast<long long>(us % 1000000 / 100000), unit_s);
    else
        std::snprintf(buf, sizeof buf, "%lld %s", static_cast<long long>((us + 500000) / 1000000),
                      unit_s);
    return buf;
}

std::string TimeSourceText(const ClockSync& s)
{
    switch (s.State) {
    case ClockSyncState::kSynchronised:
        return "Время ПК синхронизировано" +
               (s.MaxErrorUs ? " (погрешность до " + ErrorBoundText(*s.MaxErrorUs, true) + ")"
                             : std::string());
    case ClockSyncState::kUnsynchronised:
        return "Время ПК не синхронизировано!";
    case ClockSyncState::kUnknown:
        break;
    }
    return "Синхронизация времени ПК неизвестна";
}

std::string TimeSourceWords(const ClockSync& s)
{
    const std::string bound = s.MaxErrorUs
                                  ? " (maximum error " + ErrorBoundText(*s.MaxErrorUs, false) + ")"
                                  : std::string();
    switch (s.State) {
    case ClockSyncState::kSynchronised:
        return "synchronised" + bound;
    case ClockSyncState::kUnsynchronised:
        return "not synchronised" + bound;
    case ClockSyncState::kUnknown:
        break;
    }
    return "state unknown";
}

std::string TimeSourceKey(ClockSyncState s)
{
    switch (s) {
    case ClockSyncState::kSynchronised:
        return "synchronised";
    case ClockSyncState::kUnsynchronised:
        return "unsynchronised";
    case ClockSyncState::kUnknown:
        break;
    }
    return "unknown";
}

} // namespace chronavel

// The PC's own clock as a time source: how its state is told to the
// operator (the windows' Russian line, the tool's English words) and when
// a synchronisation should wait for it.
#pragma once

#include "platform/clock_sync.h"

#include <string>

namespace chronavel {

// The error bound as a person reads it: "12 ms", "1.5 s", "16 s" (with
// Russian units: "12 мс", "1.5 с").
std::string ErrorBoundText(int64_t us, bool russian);

// One line for the main window, beside the emulated display:
// "Время ПК синхронизировано (погрешность до 12 мс)" and the like.
std::string TimeSourceText(const platform::ClockSync& s);

// The tool's words: "synchronised (maximum error 12 ms)", "not
// synchronised (maximum error 16 s)", "state unknown".
std::string TimeSourceWords(const platform::ClockSync& s);

// Its name in the state file: "synchronised", "unsynchronised", "unknown".
std::string TimeSourceKey(platform::ClockSyncState s);

// A synchronisation that asks for a synchronised PC clock waits only for
// one known to be unsynchronised: "unknown" (a system that cannot say)
// would otherwise stop the clocks being set at all.
constexpr bool SyncMayProceed(platform::ClockSyncState s, bool require_synced)
{
    return !require_synced || s != platform::ClockSyncState::kUnsynchronised;
}

} // namespace chronavel

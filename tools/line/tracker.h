// What became of the queued requests: the exchange thread's own view of the
// pending list, taken where it is safe to look (on the exchange thread, right
// after each decoded reply and in the failure report), handed to the waiting
// main thread. The exchange thread takes a new request only when none is
// outstanding, so "the pending list went empty over a decode" is one request
// answered.
#pragma once

#include "link/request.h"
#include "tools/line/line.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace chronavel::ctl {

struct TrackerCounts {
    int Answered = 0;
    int Failed = 0;
    int Total() const { return Answered + Failed; }
};

// Installs the decoder wrapper and the failure handler (a request whose
// retries are spent is given up as Cancel would: WM_REQUEST_CANCEL back to
// the exchange thread). Register answers are kept from clock addr only
// (any clock for 0xFF).
void InstallTracker(uint8_t addr);

TrackerCounts Counts();

// The requests given up since the last ClearTracker, in order.
std::vector<TRequestRec> FailedRequests();

// The last single-register answer from the addressed clock, by register,
// since the last ClearTracker.
std::optional<uint8_t> RegisterAnswer(uint8_t reg);

// Text blocks decoded so far (they carry the display formats).
int TextBlocksSeen();

// Forgets failures and answers; the counts go on.
void ClearTracker();
// Everything back as at start, the counts and the clock address too
// (tools/line/tool_state.h).
void ResetTracker();

enum class WaitEnd { kDone, kInterrupted, kPortLost, kGivenUp };

// Waits until the counts total at least target; ends early (looked at every
// 50 ms) when a stop is asked for or the line is lost. With failed_before
// set, it also ends (kGivenUp) as soon as the failures pass that count: a
// batch need not wait out the rest of its requests to a clock that has
// stopped answering.
WaitEnd WaitForTotal(int target, const Line& line, std::optional<int> failed_before = {});

} // namespace chronavel::ctl

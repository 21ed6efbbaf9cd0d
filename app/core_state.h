// The core's process-wide state, piece by piece, in one list: the reset a
// test, a benchmark or a fuzzer starts from, the state test
// (tests/app/core_state_test.cpp) and docs/architecture.md all follow it.
// A piece added here is reset at once, and the state test fails until it
// has a probe there.
#pragma once

#include <span>

namespace chronavel {

// One piece of process-wide state and the call, kept in its unit beside it,
// that brings it back to how the program starts. Several pieces may share a
// call; it runs once.
struct StatePiece {
    const char* Unit; // "link", "port", "config" or "app"
    const char* Name;
    void (*Reset)();
};

// Every piece, in the order ResetCoreState resets them: the link first, since
// stopping the exchange thread keeps anything from writing the rest while it
// is reset.
std::span<const StatePiece> CoreStatePieces();

// Runs each piece's reset once, in the list's order.
//
// Left alone on purpose: the host (SetHost) and the time source
// (platform::SetTimeSource), which tests install through objects that put
// them back; the locks; the per-thread bindings, set and restored by scoped
// objects; and the frame observers' next id (an old id must never remove a
// new listener).
void ResetCoreState();

} // namespace chronavel

// The config unit's process-wide state, reset in one call: what a test, a
// benchmark or a fuzzer starts from.
#pragma once

namespace chronavel {

// Clears the clock settings variables and the register images
// (ResetClockSettings) and each clock's answered registers (ResetAnswered).
void ResetConfigState();

} // namespace chronavel

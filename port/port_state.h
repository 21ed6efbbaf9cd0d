// The port unit's process-wide state, reset in one call: what a test, a
// benchmark or a fuzzer starts from.
#pragma once

namespace chronavel {

// Marks no port open (PortHandle empty; the device itself is not closed),
// no synchronous transaction waiting for the port, the port list empty,
// NoAnswer 0, the decoder's text state and MasterAddress cleared, the
// display texts, tick and sink cleared.
void ResetPortState();

} // namespace chronavel

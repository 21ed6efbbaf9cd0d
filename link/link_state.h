// The link unit's process-wide state, reset in one call: what a test, a
// benchmark or a fuzzer starts from.
#pragma once

namespace chronavel {

// Stops and forgets the exchange thread and restores the default decoder;
// drops the ring, the pending list, the failure handler, MasterActive and
// the frame ends; clears the reception state (buffer, counters, header,
// read-error notice, the frame written last) and the line's stop hook; the
// stored master flags; SwitchMaster's sleep; the frame observers.
void ResetLinkState();

} // namespace chronavel

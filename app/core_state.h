// One reset for every process-wide variable and hook of the core, so a test,
// a benchmark or a fuzzer starts from the state the program starts with and
// no hand-kept list can forget a piece.
#pragma once

namespace chronavel {

// Stops and forgets the exchange thread; drops its queues, the failure
// handler and the decoder hook; clears the reception state, NoAnswer,
// MasterActive, the stored master flags, the clock settings and register
// images, whether the settings window saved in this run, the decoder's text
// state and MasterAddress, the display texts, tick and sink, the port list,
// the connection settings and the settings file object; restores
// SwitchMaster's sleep; and marks no port open (PortHandle empty, the device
// itself is not closed).
//
// The host (SetHost) and the time source (platform::SetTimeSource) are left
// alone: tests install them through objects that put them back themselves.
void ResetCoreState();

} // namespace chronavel

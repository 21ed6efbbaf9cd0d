// One reset for every process-wide variable and hook of the core, so a test,
// a benchmark or a fuzzer starts from the state the program starts with.
// Each unit resets its own state next to it; this calls them in turn.
#pragma once

namespace chronavel {

// The app unit's own: the connection settings and the settings file object,
// the census remembered and the line overview's rows.
void ResetAppState();

// ResetLinkState (the exchange thread first), ResetPortState,
// ResetConfigState, ResetAppState.
//
// The host (SetHost) and the time source (platform::SetTimeSource) are left
// alone: tests install them through objects that put them back themselves.
void ResetCoreState();

} // namespace chronavel

// The tool's own process-wide state: the stop request, the tracker, where
// its output goes. The tool runs one command a process; a test running
// several in one process starts each from here.
#pragma once

namespace chronavel::ctl {

// Everything the tool keeps back as at start, the core's state with it
// (ResetCoreState: the decoder and failure handler the tracker installed
// are the link's).
void ResetToolState();

} // namespace chronavel::ctl

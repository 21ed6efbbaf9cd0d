// The tool's exit codes, which every room returns; how a subcommand's
// outcome becomes one is the CLI's single rule (tools/cli/verb.h).
#pragma once

namespace chronavel::ctl {

constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 1; // a clock did not answer, nothing found
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;     // cannot open, settings refused, vanished
constexpr int kExitInternal = 4; // an error no subcommand handles; a message says which
constexpr int kExitDiffers = 2;  // config: something differs or was changed (never an error)
// Stopped by a signal: 128 + its number (130 for Ctrl+C, 143 for SIGTERM);
// the daemon, whose normal stop is SIGTERM, then ends with kExitOk.

} // namespace chronavel::ctl

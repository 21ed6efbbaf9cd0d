// The subcommands of chronavelctl. Each returns the process exit code.
#pragma once

#include "tools/args.h"
#include "tools/http_address.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 1; // a clock did not answer, nothing found
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;     // cannot open, settings refused, vanished
constexpr int kExitInternal = 4; // an error no subcommand handles; a message says which
constexpr int kExitDiffers = 2;  // config: something differs or was changed (never an error)
// Stopped by a signal: 128 + its number (130 for Ctrl+C, 143 for SIGTERM);
// the daemon, whose normal stop is SIGTERM, then ends with kExitOk.

struct LineOptions {
    std::string Port;
    int Speed = 9600;
    uint8_t Addr = 0xFF;
};

struct WatchOptions {
    int Count = 0; // 0: until interrupted
    bool Json = false;
};

struct ScanOptions {
    bool All = false; // every clock that answers, not only the master
    bool Json = false;
};

struct DaemonOptions {
    int PeriodSeconds = 3600;
    int RetrySeconds = 10;
    bool ShowDisplay = false;
    int Count = 0;                    // stop after this many syncs (0: never); for tests
    bool Supervise = false;           // watch the clocks on the line (census, polls, sweep)
    std::string StateFile;            // JSON state written here when supervising
    std::vector<std::string> OnAlarm; // a program and its arguments run for each alarm change
    int AlarmSpacingSeconds = 60;     // at most one run of it per alarm in this time
    std::string SettingsFile;         // a config export the listed clocks are watched against
    bool RequireSynced = false;       // no sync while the PC's clock is unsynchronised
    // The web face for the building's monitoring (with Supervise).
    std::optional<HttpAddress> Http;
    // Its TLS and passwords (with Http), read again when the file changes.
    std::string WebConfigFile;
};

int RunPorts(bool json);
int RunSync(const LineOptions& line);
int RunCheck(const LineOptions& line);
int RunRead(const LineOptions& line, const std::vector<uint8_t>& regs);
int RunReadAll(const LineOptions& line, bool json);
// Both write only registers that differ from what the clock answers now,
// 0x4C last, and read the result back (exit 1 naming what did not take).
int RunWrite(const LineOptions& line, const std::vector<RegisterValue>& writes);
// The settings of a file (read-all --json output, or register=value lines)
// into the clock at line.Addr, keeping its address.
int RunRestore(const LineOptions& line, const std::string& path);
struct ApplyOptions {
    bool Check = false; // write nothing, answer as if written
    bool Json = false;
    bool Move = false; // a clock may move to the file's ClockAddr
};
// Settings files; exit 0 nothing to do, kExitDiffers changed or different,
// 1 anything failed (a clock that does not answer, a bad file).
int RunConfigExport(const LineOptions& line, const std::string& out_path);
int RunConfigDiff(const LineOptions& line, const std::string& path);
int RunConfigApply(const LineOptions& line, const std::string& path, const ApplyOptions& apply);
int RunScan(const LineOptions& line, const ScanOptions& scan);
int RunWatch(const LineOptions& line, const WatchOptions& watch);
int RunDaemon(const LineOptions& line, const DaemonOptions& daemon);
// A bcrypt hash for the web configuration, of a password from the terminal
// or standard input.
int RunHashPassword();
// A request to the daemon keeping state_file: "census" or "forget ADDR".
int RunAsk(const std::string& state_file, const std::vector<std::string>& words);

// The daemon's own parser and loop, for the service: kCheckOnly parses
// "daemon ARGS" and checks what they need (ServiceNeedsProblems), kService runs it under the
// Windows service control manager.
enum class DaemonMode { kNormal, kCheckOnly, kService };
using DaemonEntry = std::function<int(const std::vector<std::string>& args, DaemonMode mode)>;
// chronavelctl service ACTION ...: install, uninstall, start, stop, status,
// and run (the manager's way in).
int RunServiceCommand(const std::vector<std::string>& args, const DaemonEntry& daemon);
// daemon() under the manager, its output in the service's log; a message
// and kExitUsage when this process was not started by the manager.
int RunDaemonAsService(const std::string& port, const std::function<int()>& daemon);

} // namespace chronavel::ctl

// The subcommands of chronavelctl: each cmd_*.cpp adds its own to the
// parser (Add*, in the table of chronavelctl.cpp) and runs it (Run*, which
// returns the exit code).
#pragma once

#include "tools/cli/verb.h"
#include "tools/daemon/daemon_options.h"
#include "tools/line/exit_codes.h"
#include "tools/line/line_options.h"
#include "tools/service/service.h"
#include "tools/text/args.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace chronavel::ctl {

Verb AddPorts(CLI::App& app);
Verb AddSync(CLI::App& app);
Verb AddCheck(CLI::App& app);
Verb AddRead(CLI::App& app);
Verb AddReadAll(CLI::App& app);
Verb AddWrite(CLI::App& app);
Verb AddRestore(CLI::App& app);
Verb AddConfig(CLI::App& app);
Verb AddScan(CLI::App& app);
Verb AddWatch(CLI::App& app);
Verb AddAsk(CLI::App& app);
Verb AddDaemon(CLI::App& app);
Verb AddHashPassword(CLI::App& app);
// Listed only: main() hands everything after it to RunServiceCommand.
constexpr const char* kServiceVerb = "service";
Verb AddService(CLI::App& app);

struct WatchOptions {
    int Count = 0; // 0: until interrupted
    bool Json = false;
};

struct ScanOptions {
    bool All = false; // every clock that answers, not only the master
    bool Json = false;
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

} // namespace chronavel::ctl

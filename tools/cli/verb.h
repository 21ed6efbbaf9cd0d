// The tool's subcommands as a table: each cmd_*.cpp adds its own to the
// parser, with its options, and hands back a Verb saying how it runs and how
// it ends. Main parses, runs the one chosen, and ExitCode turns the outcome
// into the process's exit code, the same rule for every subcommand.
#pragma once

#include "tools/service/service.h"

#include <CLI/CLI.hpp>
#include <functional>

namespace chronavel::ctl {

struct Verb {
    CLI::App* Sub = nullptr;
    // Runs it on the options parsed (mode: what the daemon does); its exit
    // code. Empty for a subcommand main() runs before the parser.
    std::function<int(DaemonMode mode)> Run{};
    // Before the parser, when the subcommand is the first word: takes words
    // the parser must never see off the end of argv; the new argc.
    std::function<int(int argc, char** argv)> TakeWords{};
    // After the parse, what the parser cannot check (CLI::ValidationError).
    std::function<void()> Check{};
    // Non-zero for a subcommand of deployment tools (config): every failure,
    // bad arguments and a stop included, ends with this code, and whatever
    // it returns besides kExitOk and SucceedsWith too.
    int EveryFailure = 0;
    int SucceedsWith = 0; // a second success code with EveryFailure
    // A signal that is this subcommand's normal stop (the daemon's SIGTERM).
    int NormalStop = 0;
    // Stop signals are caught from the parse on, not from the line's opening.
    bool StopsFromStart = false;
};

// What became of a subcommand.
enum class Outcome {
    kRan,      // it returned a code
    kUsage,    // bad arguments (the parser's or its own)
    kInternal, // an error no subcommand handles
    kStopped,  // a stop signal came; the code is its number
};

// The exit code: verb is the subcommand chosen (nullptr when the parser
// failed before it knew), code the one returned or the signal's number.
int ExitCode(const Verb* verb, Outcome outcome, int code);

} // namespace chronavel::ctl

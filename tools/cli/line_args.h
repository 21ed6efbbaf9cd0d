// The options every subcommand on the line shares (--port, --speed,
// --addr) as the parser takes them, and their meaning once parsed.
#pragma once

#include "tools/line/line_options.h"

#include <CLI/CLI.hpp>
#include <string>

namespace chronavel::ctl {

struct LineArgs {
    std::string port;
    std::string speed = "9600";
    std::string addr;
};

void AddPort(CLI::App& sub, LineArgs& a);
// --addr, required, or with fallback as its shown default.
void AddAddr(CLI::App& sub, LineArgs& a, bool required, const std::string& fallback);
// UsageError naming the bad one.
LineOptions MakeLine(const LineArgs& a);
// The same, for a subcommand that speaks to one clock: "--addr all: " and
// why is a UsageError.
LineOptions MakeOneClockLine(const LineArgs& a, const std::string& why);
// A count of 1 or more; what names the option in the error.
int PositiveCount(const std::string& text, const std::string& what);

} // namespace chronavel::ctl

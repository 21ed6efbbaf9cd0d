#include "tools/cli/line_args.h"

#include "tools/text/args.h"

namespace chronavel::ctl {

void AddPort(CLI::App& sub, LineArgs& a)
{
    sub.add_option("--port", a.port, "Serial port: a name from 'chronavelctl ports' or a path")
        ->required();
    sub.add_option("--speed", a.speed, "Line speed in bit/s")->capture_default_str();
}

void AddAddr(CLI::App& sub, LineArgs& a, bool required, const std::string& fallback)
{
    a.addr = fallback;
    auto* opt =
        sub.add_option("--addr", a.addr, "Clock address 0..255 (decimal or 0x-hex), or all");
    if (required)
        opt->required();
    else
        opt->capture_default_str();
}

LineOptions MakeLine(const LineArgs& a)
{
    LineOptions line;
    line.Port = a.port;
    const auto speed = ParseNumber(a.speed, 4000000);
    if (!speed || *speed == 0)
        throw UsageError("invalid line speed '" + a.speed +
                         "' (--speed): expected a number of bit/s");
    line.Speed = static_cast<int>(*speed);
    if (!a.addr.empty())
        line.Addr = ParseAddress(a.addr);
    return line;
}

LineOptions MakeOneClockLine(const LineArgs& a, const std::string& why)
{
    LineOptions line = MakeLine(a);
    if (line.Addr == 0xFF)
        throw UsageError("--addr all: " + why);
    return line;
}

int PositiveCount(const std::string& text, const std::string& what)
{
    const auto v = ParseNumber(text, 1000000000);
    if (!v || *v == 0)
        throw UsageError("invalid count '" + text + "' (" + what + "): expected a positive number");
    return static_cast<int>(*v);
}

} // namespace chronavel::ctl

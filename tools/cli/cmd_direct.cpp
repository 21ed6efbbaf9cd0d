// The subcommands that talk to a clock through synchronous transactions,
// with no exchange thread: check, write and restore.
#include "config/register_values.h"
#include "config/registers.h"
#include "config/write_settings.h"
#include "link/frames.h"
#include "port/sync.h"
#include "tools/cli/commands.h"
#include "tools/cli/line_args.h"
#include "tools/line/apply.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/settings/settings_file.h"

#include <algorithm>
#include <memory>

namespace chronavel::ctl {

namespace {

constexpr int kCheckAttempts = 10;

} // namespace

int RunCheck(const LineOptions& options)
{
    ToolHost host;
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    // No exchange thread runs here, so no master can have been seen: unlike
    // the window's check, which skips the send while a master is active,
    // this one always sends.
    const TransactionResult r = SyncTransaction(options.Addr, kCmdLinkCheck, 0, 0, kCheckAttempts);
    line.ReadFailed(r.Failure);
    ShowLineNotice(r.Line);
    if (line.Lost())
        return PortVanished(options);
    if (r.Answered) {
        Print("connected");
        return kExitOk;
    }
    Print("no answer");
    return kExitNoAnswer;
}

namespace {

// Writes what differs from what the clock answers now, 0x4C last, then
// reads it all back: exit 1 naming any register that did not take.
int ApplyRegisters(const LineOptions& options, const RegisterValues& wanted)
{
    ToolHost host;
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    const ApplyResult r = ApplySettings(options, line, options.Addr, wanted, false);
    if (r.Written)
        for (const RegisterWrite& w : r.Writes)
            Print(Hex2(w.Reg) + "=" + Hex2(w.Value));
    return r.Code;
}

} // namespace

int RunWrite(const LineOptions& options, const std::vector<RegisterValue>& writes)
{
    RegisterValues wanted;
    for (const RegisterValue& w : writes)
        wanted.Set(w.Reg, w.Value);
    return ApplyRegisters(options, wanted);
}

int RunRestore(const LineOptions& options, const std::string& path)
{
    RegisterValues wanted;
    if (const std::string why = LoadSettingsFile(path, wanted); !why.empty()) {
        Say("chronavelctl: " + why);
        return kExitUsage;
    }
    // The file's address is the clock's it was read from; a replaced clock
    // keeps the address it is reached at.
    wanted.Forget(kRegClockAddr);
    return ApplyRegisters(options, wanted);
}

Verb AddCheck(CLI::App& app)
{
    auto a = std::make_shared<LineArgs>();
    auto* sub = app.add_subcommand("check", "Link check: does the clock answer?");
    AddPort(*sub, *a);
    AddAddr(*sub, *a, true, "");
    return {.Sub = sub, .Run = [a](DaemonMode) {
                return RunCheck(
                    MakeOneClockLine(*a, "the link check needs the address of one clock"));
            }};
}

Verb AddWrite(CLI::App& app)
{
    struct Args {
        LineArgs line;
        std::vector<std::string> items;
    };
    auto a = std::make_shared<Args>();
    auto* sub = app.add_subcommand(
        "write", "Write registers that differ from the clock's, 0x4C last, and read them back");
    AddPort(*sub, a->line);
    AddAddr(*sub, a->line, true, "");
    sub->add_option("REG=VALUE", a->items, "Assignments, decimal or 0x-hex")->required();
    return {.Sub = sub, .Run = [a](DaemonMode) {
                // A write is confirmed by the answer of the clock addressed; no
                // answer ever carries 0xFF, so the write would be resent forever.
                const LineOptions line =
                    MakeOneClockLine(a->line, "a register write needs the address of one clock");
                std::vector<RegisterValue> writes;
                for (const auto& w : a->items)
                    writes.push_back(ParseAssignment(w));
                return RunWrite(line, writes);
            }};
}

Verb AddRestore(CLI::App& app)
{
    struct Args {
        LineArgs line;
        std::string file;
    };
    auto a = std::make_shared<Args>();
    auto* sub =
        app.add_subcommand("restore", "Write a clock's saved settings into it (a replaced clock)");
    AddPort(*sub, a->line);
    AddAddr(*sub, a->line, true, "");
    sub->add_option("FILE", a->file, "read-all --json output, or REG=VALUE lines")->required();
    return {.Sub = sub, .Run = [a](DaemonMode) {
                return RunRestore(
                    MakeOneClockLine(a->line, "a restore needs the address of one clock"), a->file);
            }};
}

} // namespace chronavel::ctl

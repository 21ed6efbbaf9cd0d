// The subcommands that talk to a clock through synchronous transactions,
// with no exchange thread: check, write and restore.
#include "config/register_values.h"
#include "config/registers.h"
#include "config/write_settings.h"
#include "link/frames.h"
#include "port/sync.h"
#include "tools/cli/commands.h"
#include "tools/line/apply.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/settings/settings_file.h"

#include <algorithm>

namespace chronavel::ctl {

namespace {

constexpr int kCheckAttempts = 10;
constexpr int kCheckSilent = 2;

} // namespace

int RunCheck(const LineOptions& options)
{
    ToolHost host;
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    NoAnswer.store(0);
    // No exchange thread runs here, so no master can have been seen: unlike
    // the window's check, which skips the send while a master is active,
    // this one always sends.
    line.ReadFailed(
        SyncTransaction(options.Addr, kCmdLinkCheck, 0, 0, kCheckAttempts, kCheckSilent).Failure);
    if (line.Lost())
        return PortVanished(options);
    if (NoAnswer.load() == 0) {
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

} // namespace chronavel::ctl

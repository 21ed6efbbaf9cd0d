// The subcommands that talk to a clock through synchronous transactions,
// with no exchange thread: check and write.
#include "link/frames.h"
#include "port/sync.h"
#include "tools/commands.h"
#include "tools/line.h"
#include "tools/tool_host.h"

namespace chronavel::ctl {

namespace {

constexpr int kCheckAttempts = 10;
constexpr int kCheckSilent = 2;
constexpr int kWriteLimit = 5;
constexpr int kWriteReport = 0;

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
    SyncTransaction(options.Addr, kCmdLinkCheck, 0, 0, kCheckAttempts, kCheckSilent);
    if (line.Lost())
        return PortVanished(options);
    if (NoAnswer.load() == 0) {
        Print("connected");
        return kExitOk;
    }
    Print("no answer");
    return kExitNoAnswer;
}

int RunWrite(const LineOptions& options, const std::vector<RegisterValue>& writes)
{
    ToolHost host;
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    NoAnswer.store(0);
    for (const RegisterValue& w : writes) {
        const bool answered = SyncTransaction(options.Addr, kCmdWriteRegister, w.Reg, w.Value,
                                              kWriteLimit, kWriteReport);
        if (line.Lost())
            return PortVanished(options);
        if (!answered) {
            Say("register " + Hex2(w.Reg) + " not written; stopped there");
            return kExitNoAnswer;
        }
        Print(Hex2(w.Reg) + "=" + Hex2(w.Value));
    }
    return kExitOk;
}

} // namespace chronavel::ctl

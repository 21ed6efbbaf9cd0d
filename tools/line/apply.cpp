#include "tools/line/apply.h"

#include "config/registers.h"
#include "link/hex.h"
#include "port/sync.h"
#include "tools/line/exit_codes.h"
#include "tools/line/tool_host.h"
#include "tools/text/args.h"

#include <algorithm>

namespace chronavel::ctl {

namespace {

constexpr int kReadLimit = 3;

} // namespace

ApplyResult ApplySettings(const LineOptions& options, const Line& line, uint8_t addr,
                          const RegisterValues& wanted, bool check)
{
    ApplyResult r;
    r.Address = addr;
    const std::vector<uint8_t> regs = wanted.Known();
    const RegisterValues now = line.ReadRegisters(addr, regs, kReadLimit);
    if (line.Lost()) {
        r.Code = PortVanished(options);
        return r;
    }
    const SavePlan plan = PlanChanges(now, wanted);
    if (plan.AddressRefused) {
        Say("register 0x4C: 0xFF stands for all clocks and cannot be a clock's address");
        r.Code = kExitUsage;
        return r;
    }
    r.Writes = plan.Writes;
    if (check) {
        // A register that did not answer may hold the file's value or not:
        // "would change" would be a guess.
        std::vector<uint8_t> unread;
        for (uint8_t reg : regs)
            if (!now.Has(reg))
                unread.push_back(reg);
        if (!unread.empty()) {
            Say("clock " + AddrText(addr) + ": no answer to " + RegisterList(unread) +
                "; cannot tell whether it holds the file's value");
            std::erase_if(r.Writes, [&](const RegisterWrite& w) {
                return std::find(unread.begin(), unread.end(), w.Reg) != unread.end();
            });
            r.Missed = unread;
            r.Code = kExitNoAnswer;
        }
        return r;
    }
    if (plan.Writes.empty())
        return r;
    const WriteOutcome outcome = WriteSettings(addr, plan);
    for (const LineNotice& told : outcome.Told)
        ShowLineNotice(told);
    line.ReadFailed(outcome.Failure);
    // What the clock answered stays reported, whatever stopped the rest;
    // the writes not answered are what it misses.
    r.Writes.resize(std::min(r.Writes.size(), outcome.Answered));
    const auto unwritten = [&] {
        for (size_t i = r.Writes.size(); i < plan.Writes.size(); ++i)
            r.Missed.push_back(plan.Writes[i].Reg);
    };
    if (line.Lost()) {
        unwritten();
        r.Code = PortVanished(options);
        return r;
    }
    switch (outcome.Result) {
    case WriteResult::kWritten:
    case WriteResult::kNotMoved:
        break;
    case WriteResult::kAddressTaken:
        Say("register 0x4C: address " + Hex2(outcome.NewAddress) +
            " is taken, a clock answers there; two clocks on one address would disturb each "
            "other, so nothing was written");
        unwritten();
        r.Code = kExitNoAnswer;
        return r;
    case WriteResult::kMoveUnconfirmed:
        r.Written = true;
        Say("register 0x4C written, but the clock answers neither at its old address " +
            AddrText(addr) + " nor at the new one " + AddrText(outcome.NewAddress));
        r.Code = kExitNoAnswer;
        return r;
    default:
        Say("register " + (outcome.Unanswered ? Hex2(*outcome.Unanswered) : std::string("?")) +
            " not written; stopped there");
        unwritten();
        r.Code = kExitNoAnswer;
        return r;
    }
    r.Written = true;
    r.Address = outcome.Address;
    if (outcome.Address != addr)
        Say("the clock answers at its new address " + AddrText(outcome.Address));
    RegisterValues back = line.ReadRegisters(outcome.Address, regs, kReadLimit);
    if (line.Lost()) {
        r.Code = PortVanished(options);
        return r;
    }
    // A move confirmed at the new address holds even where the clock leaves
    // reads of 0x4C unanswered.
    if (outcome.Address != addr && !back.Has(kRegClockAddr))
        back.Set(kRegClockAddr, outcome.Address);
    r.Missed = NotTaken(wanted, back);
    for (uint8_t reg : r.Missed)
        Say("register " + Hex2(reg) + " did not take: wanted " + Hex2(wanted.At(reg)) +
            (back.Has(reg) ? ", the clock holds " + Hex2(back.At(reg)) : ", no answer"));
    if (!r.Missed.empty())
        r.Code = kExitNoAnswer;
    return r;
}

} // namespace chronavel::ctl

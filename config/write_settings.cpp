#include "config/write_settings.h"

#include "config/register_table.h"
#include "config/registers.h"
#include "link/frames.h"
#include "port/sync.h"

#include <algorithm>
#include <cstdint>

namespace chronavel {

namespace {

constexpr int kImageWrites = 3;
constexpr int kImageLimit = 3;
constexpr int kExplicitLimit = 5;

// Keeps what an unanswered transaction's line check found, for the caller.
TransactionResult Noted(TransactionResult r, std::vector<LineNotice>& told)
{
    if (r.Line)
        told.push_back(*r.Line);
    return r;
}

// The registers of the rows a save writes as w, ascending.
std::vector<uint8_t> RegistersWritten(SaveWrite w)
{
    std::vector<uint8_t> regs;
    for (const RegisterRow& r : RegisterTable())
        if (r.Save == w)
            for (int i = 0; i < r.Count; ++i)
                regs.push_back(r.Reg(i));
    std::sort(regs.begin(), regs.end());
    return regs;
}

bool Differs(const RegisterValues& clock, const RegisterValues& chosen, uint8_t reg)
{
    return chosen.Has(reg) && (!clock.Has(reg) || clock.At(reg) != chosen.At(reg));
}

void NoteAddress(SavePlan& plan, const RegisterValues& clock, const RegisterValues& chosen)
{
    if (!chosen.Has(kRegClockAddr))
        return;
    const uint8_t addr = chosen.At(kRegClockAddr);
    if (addr == kBroadcast)
        plan.AddressRefused = true;
    else if (clock.Has(kRegClockAddr) && clock.At(kRegClockAddr) != addr)
        plan.NewAddress = addr;
}

} // namespace

SavePlan PlanSave(const RegisterValues& clock, const RegisterValues& chosen)
{
    SavePlan plan;
    for (uint8_t reg : RegistersWritten(SaveWrite::kImage))
        if (Differs(clock, chosen, reg))
            plan.Writes.push_back({reg, chosen.At(reg), kImageWrites, kImageLimit});
    for (uint8_t reg : RegistersWritten(SaveWrite::kChanged))
        if (Differs(clock, chosen, reg))
            plan.Writes.push_back({reg, chosen.At(reg), 1, kExplicitLimit});

    // The fixed writes: each needs a value this clock gave or the operator set.
    const auto fixed = [&](uint8_t reg) {
        if (chosen.Has(reg))
            plan.Writes.push_back({reg, chosen.At(reg), 1, kExplicitLimit});
        else
            plan.Missing.push_back(reg);
        return chosen.Has(reg);
    };
    std::vector<const RegisterRow*> rows;
    for (const RegisterRow& r : RegisterTable())
        if (r.Save == SaveWrite::kAlways || r.Save == SaveWrite::kUpToFirstZero)
            rows.push_back(&r);
    std::stable_sort(rows.begin(), rows.end(),
                     [](auto* a, auto* b) { return a->SaveOrder < b->SaveOrder; });
    for (const RegisterRow* r : rows) {
        for (int i = 0; i < r->Count; ++i) {
            // Up to the first zero: an unknown length leaves the end unknown too.
            if ((!fixed(r->Reg(i)) || chosen.At(r->Reg(i)) == 0) &&
                r->Save == SaveWrite::kUpToFirstZero)
                break;
        }
    }
    NoteAddress(plan, clock, chosen);
    return plan;
}

SavePlan PlanChanges(const RegisterValues& clock, const RegisterValues& wanted)
{
    SavePlan plan;
    for (uint8_t reg : wanted.Known())
        if (reg != kRegClockAddr && Differs(clock, wanted, reg))
            plan.Writes.push_back({reg, wanted.At(reg), 1, kExplicitLimit});
    if (Differs(clock, wanted, kRegClockAddr))
        plan.Writes.push_back({kRegClockAddr, wanted.At(kRegClockAddr), 1, kExplicitLimit});
    NoteAddress(plan, clock, wanted);
    return plan;
}

std::string RefusalText(const SavePlan& plan)
{
    if (plan.AddressRefused)
        return "Адрес $FF означает «все часы» и не может быть адресом одних часов. "
               "Выберите в «Адрес Табло :» другой адрес.";
    if (!plan.Missing.empty())
        return "Настройки не записаны: часы не ответили на чтение регистров " +
               RegisterList(plan.Missing) +
               ", и их значения неизвестны. Ничего не отправлено. Прочитайте настройки "
               "снова («Удаленная настройка часов»).";
    return {};
}

WriteOutcome WriteSettings(uint8_t target, const SavePlan& plan)
{
    WriteOutcome out;
    out.Address = target;
    if (target == kBroadcast) {
        out.Result = WriteResult::kAllClocksRefused;
        return out;
    }
    if (plan.Refused()) {
        out.Result = WriteResult::kRefused;
        return out;
    }
    // Whether any clock answers a link check at addr, asked with a save's
    // usual patience.
    const auto present = [&out](uint8_t addr) {
        return Noted(SyncTransaction(addr, kCmdLinkCheck, 0, 0, kExplicitLimit), out.Told);
    };
    // A failed read stops the save where it happened.
    const auto failed = [&out](const TransactionResult& r) {
        if (r.Failure) {
            out.Result = WriteResult::kReadFailed;
            out.Failure = r.Failure;
        }
        return r.Failure.has_value();
    };
    // A move is judged against the address the clock was reached at.
    std::optional<uint8_t> move;
    for (const RegisterWrite& w : plan.Writes)
        if (w.Reg == kRegClockAddr && w.Value != target)
            move = w.Value;
    if (move) {
        out.NewAddress = *move;
        // Two clocks on one address would answer each other's frames for
        // good: the new address must be free before anything is written.
        const TransactionResult taken = present(*move);
        if (failed(taken))
            return out;
        if (taken) {
            out.Result = WriteResult::kAddressTaken;
            return out;
        }
    }
    for (const RegisterWrite& w : plan.Writes) {
        for (int n = 0; n < w.Times; ++n) {
            const TransactionResult written =
                SyncTransaction(target, kCmdWriteRegister, w.Reg, w.Value, w.Limit);
            if (failed(written))
                return out;
            if (!written) {
                // The rest would go to a clock that stopped answering.
                if (written.WentUnanswered)
                    out.Told.push_back({false, NoAnswerMessage(target)});
                Noted(written, out.Told);
                out.Result = WriteResult::kNoAnswer;
                out.Unanswered = w.Reg;
                return out;
            }
        }
        RecordRegisterAnswer(target, w.Reg, w.Value);
        ++out.Answered;
    }
    if (move) {
        // The clock answered the write from its old address; it must now be
        // gone from there and answer at the new one before the program
        // follows it.
        const TransactionResult stayed = present(target);
        if (failed(stayed))
            return out;
        if (stayed) {
            out.Result = WriteResult::kNotMoved;
            out.Unanswered = kRegClockAddr;
            return out;
        }
        bool there = false;
        const TransactionResult read = Noted(
            SyncTransaction(*move, kCmdReadRegister, kRegClockAddr, 0, kExplicitLimit), out.Told);
        if (failed(read))
            return out;
        if (read) {
            there = read.Reply.Param2 == *move;
        } else {
            // A clock that leaves reads of 0x4C unanswered: the new address,
            // free before the write, answering now is the proof.
            const TransactionResult again = present(*move);
            if (failed(again))
                return out;
            there = again.Answered;
        }
        if (!there) {
            out.Result = WriteResult::kMoveUnconfirmed;
            out.Unanswered = kRegClockAddr;
            return out;
        }
        MoveAnswered(target, *move);
        out.Address = *move;
    }
    return out;
}

RegistersRead ReadRegistersNow(uint8_t target, const std::vector<uint8_t>& regs, int limit)
{
    RegistersRead out;
    for (uint8_t reg : regs) {
        const TransactionResult read =
            Noted(SyncTransaction(target, kCmdReadRegister, reg, 0, limit), out.Told);
        if (read.Failure) {
            out.Failure = read.Failure;
            return out;
        }
        if (read)
            out.Values.Set(reg, read.Reply.Param2);
    }
    return out;
}

std::vector<uint8_t> NotTaken(const RegisterValues& wanted, const RegisterValues& read_back)
{
    std::vector<uint8_t> out;
    for (uint8_t reg : wanted.Known())
        if (!read_back.Has(reg) || read_back.At(reg) != wanted.At(reg))
            out.push_back(reg);
    return out;
}

std::string OutcomeText(uint8_t target, const WriteOutcome& outcome)
{
    const auto hex = [](uint8_t a) { return RegisterList({a}).replace(0, 2, "$"); };
    if (outcome.Result == WriteResult::kAddressTaken)
        return "Адрес " + hex(outcome.NewAddress) +
               " занят: по нему отвечают другие часы. Два табло с одним адресом мешают друг "
               "другу, поэтому ничего не записано. Выберите в «Адрес Табло :» другой адрес.";
    if (outcome.Result == WriteResult::kMoveUnconfirmed)
        return "Настройки записаны, но часы не отвечают ни по прежнему адресу " + hex(target) +
               ", ни по новому " + hex(outcome.NewAddress) + ". Проверьте связь с часами.";
    if (outcome.Result == WriteResult::kNotMoved)
        return "Настройки записаны, но часы " + RegisterList({target}).replace(0, 2, "$") +
               " остались на прежнем адресе: новый адрес не принят (возможно, он занят "
               "другими часами). Прочитайте настройки снова.";
    if (outcome.Result == WriteResult::kReadFailed && outcome.Failure)
        return outcome.Failure->Text;
    if (outcome.Result != WriteResult::kNoAnswer || !outcome.Unanswered)
        return {};
    std::string text = "Запись остановлена: часы " + RegisterList({target}).replace(0, 2, "$") +
                       " не ответили на запись регистра " + RegisterList({*outcome.Unanswered}) +
                       "; он и следующие за ним регистры не записаны. Проверьте связь, "
                       "прочитайте настройки снова и сохраните ещё раз.";
    return text;
}

std::string SaveRefusal(uint8_t target)
{
    if (target != 0xFF)
        return {};
    return "Настройки записываются только в одни часы. Выберите в окне \"Подключение\" "
           "адрес часов вместо \"Всем\" и прочитайте их настройки снова.";
}

} // namespace chronavel

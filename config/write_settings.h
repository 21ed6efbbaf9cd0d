// Sending the edited settings back to one clock, one register write at a
// time, each a synchronous transaction.
#pragma once

#include "config/register_values.h"
#include "port/port.h"
#include "port/port_error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel {

enum class WriteResult {
    kWritten,          // every write was answered
    kNoAnswer,         // a write went unanswered
    kAllClocksRefused, // the target is 0xFF: nothing was sent
    kRefused,          // the plan is refused (unknown registers, address 0xFF)
    kNotMoved,         // every write answered, but the clock stays at its old address
    kAddressTaken,     // another clock answers at the new address: nothing was sent
    kMoveUnconfirmed,  // every write answered, but the clock answers at neither address
    kReadFailed,       // a port read failed (Failure): stopped there
};

struct RegisterWrite {
    uint8_t Reg = 0;
    uint8_t Value = 0;
    int Times = 1; // written this many times in a row
    int Limit = 5; // the transaction's attempt limit
    bool operator==(const RegisterWrite&) const = default;
};

// What a save writes, worked out before anything is sent.
struct SavePlan {
    std::vector<RegisterWrite> Writes;
    // Registers the save must write but that the clock did not answer and
    // the operator did not set: the save is refused while any is listed.
    std::vector<uint8_t> Missing;
    bool AddressRefused = false;       // 0xFF chosen as the clock's address
    std::optional<uint8_t> NewAddress; // 0x4C changes to this
    bool Refused() const { return AddressRefused || !Missing.empty(); }
};

// The writes, as the register table's save column says, in order: each
// image register (0x25..0x35 every second,
// 0x37..0x43) whose chosen value differs from the clock's, three times,
// limit 3; each of 0x44, 0x45, 0x4E and 0x50 that differs, once, limit 5;
// the eight format codes 0xD8..0xDF; the text lengths from 0xE0 up to and
// including the first zero; the daily correction 0x51, 0x52; the master
// flags 0x4D; and last the clock's address 0x4C (limit 5 each, written
// whether changed or not, with the chosen value: the clock's own unless the
// operator set it). Changing the address last keeps every other write
// going to the address the clock still answers at.
// A save needs one addressed clock: every clock answers with its own
// address, so writes to all of them would never be answered and would give
// every clock the same address. Empty when the save may go ahead, else what
// to tell the operator.
std::string SaveRefusal(uint8_t target);

SavePlan PlanSave(const RegisterValues& clock, const RegisterValues& chosen);

// Only the registers whose wanted value differs from the clock's (or whose
// value the clock did not give), once each, limit 5, ascending, 0x4C last:
// the tool's write and restore.
SavePlan PlanChanges(const RegisterValues& clock, const RegisterValues& wanted);

// Why a plan is refused, for the operator (Russian), or "".
std::string RefusalText(const SavePlan& plan);

struct WriteOutcome {
    WriteResult Result = WriteResult::kWritten;
    std::optional<uint8_t> Unanswered;  // the write that went unanswered
    size_t Answered = 0;                // the plan's first writes that were answered
    uint8_t Address = 0;                // where the clock answers now
    uint8_t NewAddress = 0;             // the address asked for (kAddressTaken, kMoveUnconfirmed)
    std::optional<ReadFailure> Failure; // kReadFailed
    // What the operator is to hear of the transactions, in the order they
    // met it, before the caller's word on the outcome: NoAnswerMessage for
    // the write that went unanswered, and each line-status check's notice.
    std::vector<LineNotice> Told;
};

// Runs the plan against the clock at target, stopping at the first write
// that goes unanswered; nothing is sent to all clocks (0xFF: no answer ever
// carries it, and every clock would get the same address) or for a refused
// plan. Each answered write goes into the
// clock's record. A write of 0x4C other than target is a move, whether or
// not 0x4C was ever read: before anything is sent the new address is asked
// (anything answering there: kAddressTaken, nothing written); after the
// writes the old address must stay silent (else kNotMoved) and the new one
// answer, its 0x4C with the new address where the clock answers that read
// (else kMoveUnconfirmed). Only then does the record move with the clock
// and Address become the new one. Each of these asks has a save's usual
// patience. A port read that fails ends it at once (kReadFailed).
WriteOutcome WriteSettings(uint8_t target, const SavePlan& plan);

// Reads each register of the clock at target with a synchronous transaction
// (attempt limit as given); registers it does not answer stay unknown and
// the next is asked all the same. A port read that fails ends it at once,
// with Failure set.
struct RegistersRead {
    RegisterValues Values;
    std::optional<ReadFailure> Failure;
    std::vector<LineNotice> Told; // the line-status checks' notices, in order
};
RegistersRead ReadRegistersNow(uint8_t target, const std::vector<uint8_t>& regs, int limit);

// The registers of wanted the clock does not hold (as read back), ascending.
std::vector<uint8_t> NotTaken(const RegisterValues& wanted, const RegisterValues& read_back);

// What to tell the operator after a save that stopped (Russian; a failed
// read's own text), or "".
std::string OutcomeText(uint8_t target, const WriteOutcome& outcome);

} // namespace chronavel

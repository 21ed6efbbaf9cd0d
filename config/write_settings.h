// Sending the edited settings back to the clock, one register write at a
// time, each a synchronous transaction on the window thread.
#pragma once

#include <cstdint>

namespace chronavel {

enum class WriteResult {
    kWritten,          // every write was answered
    kNoAnswer,         // a write went unanswered, or NoAnswer was already set
    kAllClocksRefused, // the target is 0xFF: nothing was sent
};

// Writes, to the clock at target and in this order: each image register whose
// edited value differs from the snapshot (three times, limit 3); each of
// DimLevel, NormLevel, LowerLevel and RegSE that differs from its value at
// the snapshot (once, limit 5, to its own register); the eight format codes;
// the text lengths up to and including the first zero; the clock's address;
// the daily correction (high byte, then low); the master flags (limit 5
// each). Stops at the first write that goes unanswered (NoAnswer); sends
// nothing while NoAnswer is already set.
// A target of 0xFF (all clocks) is refused before anything is sent: replies
// carry each clock's own address, so no write to all clocks could ever be
// answered, and every clock would be given the same address.
WriteResult WriteSettings(uint8_t target);

} // namespace chronavel

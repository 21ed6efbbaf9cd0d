// Sending the edited settings back to the clock, one register write at a
// time, each a synchronous transaction on the window thread.
#pragma once

namespace chronavel {

// Writes, to the target clock and in this order: each image register whose
// edited value differs from the snapshot (three times, limit 3); each of
// DimLevel, NormLevel, LowerLevel and RegSE that differs from its value at
// the snapshot (once, limit 5, to its own register); the eight format codes;
// the text lengths up to and including the first zero; the clock's address;
// the daily correction (high byte, then low); the master flags (limit 5
// each). Stops at the first write that goes unanswered (NoAnswer); sends
// nothing while NoAnswer is already set.
void WriteSettings();

}  // namespace chronavel

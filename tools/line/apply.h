// Putting wanted settings into one clock on an open line, the rules of a
// settings save: only what differs is written, 0x4C last, a move confirmed
// at both addresses, everything read back after.
#pragma once

#include "config/register_values.h"
#include "config/write_settings.h"
#include "tools/line/line.h"

#include <cstdint>
#include <vector>

namespace chronavel::ctl {

struct ApplyResult {
    int Code = 0;                      // kExitOk, kExitNoAnswer, kExitUsage or kExitPort
    std::vector<RegisterWrite> Writes; // what differed: written (after a failure, those
                                       // answered), or to be written
    bool Written = false;              // the writes went out (not with check)
    // Wanted registers the clock does not hold after, the writes left out
    // by a failure, or (with check) registers the clock left unread.
    std::vector<uint8_t> Missed;
    uint8_t Address = 0; // where the clock answers now
};

// With check nothing is written: Writes says what would be, and a register
// the clock does not answer is a failure (whether it differs is not known).
// Problems are said on stderr as they are found.
ApplyResult ApplySettings(const LineOptions& options, const Line& line, uint8_t addr,
                          const RegisterValues& wanted, bool check);

} // namespace chronavel::ctl

// The stored value of the clock's master-flags register (0x4D), as the reply
// decoder last received it, with the clock it came from. SwitchMaster decides
// from it whether bit 7 has to be written.
#pragma once

#include <cstdint>

namespace chronavel {

struct MasterFlagsRecord {
    uint8_t Value = 0;
    uint8_t Addr = 0;    // the clock that answered
    uint32_t Serial = 0; // counts the answers stored, so a fresh one can be told
};

uint8_t StoredMasterFlags();
MasterFlagsRecord StoredMasterFlagsRecord();
void StoreMasterFlags(uint8_t value, uint8_t from_addr);

// Back to 0 (tests, a fresh start).
void ResetMasterFlags();

} // namespace chronavel

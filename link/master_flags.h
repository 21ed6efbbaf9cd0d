// The stored value of the clock's master-flags register (0x4D), as the reply
// decoder last received it. SwitchMaster decides from it whether bit 7 has
// to be written.
#pragma once

#include <cstdint>

namespace chronavel {

uint8_t StoredMasterFlags();
void StoreMasterFlags(uint8_t value);

// Back to 0 (tests, a fresh start).
void ResetMasterFlags();

} // namespace chronavel

// Switching a clock's master mode: read its master-flags register through
// the queue, then queue a write of bit 7 when it has to change.
#pragma once

#include <cstdint>

namespace chronavel {

// Runs on the window thread and blocks it: after queuing the read it waits
// while the slot at RingRead still holds the register number, three times
// 3 s at most.
void SwitchMaster(uint8_t addr, bool on);

// The wait between two looks at the ring (tests shorten it). nullptr
// restores the real sleep.
using SwitchMasterSleep = void (*)(int ms);
void SetSwitchMasterSleep(SwitchMasterSleep sleep);

} // namespace chronavel

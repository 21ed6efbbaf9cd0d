// Switching a clock's master mode: read its master-flags register through
// the queue, then queue a write of bit 7 when it has to change.
#pragma once

#include <cstdint>
#include <string>

namespace chronavel {

enum class SwitchResult {
    kWritten,          // the write of bit 7 is queued
    kUnchanged,        // bit 7 already stood as asked: nothing written
    kNoAnswer,         // no fresh answer of this clock's 0x4D: nothing written
    kAllClocksRefused, // 0xFF: nothing queued
};

// Runs on the window thread: after queuing the read it waits while the slot
// at RingRead still holds the register number or no fresh answer of the
// addressed clock has come, three times 3 s at most. Only bit 7 of that
// answer changes; without one nothing is written and MasterActive stays.
SwitchResult SwitchMaster(uint8_t addr, bool on);

// What to tell the operator after a switch, or "".
std::string SwitchMasterText(SwitchResult result);

// The wait between two looks at the ring (tests shorten it). nullptr
// restores the real sleep.
using SwitchMasterSleep = void (*)(int ms);
void SetSwitchMasterSleep(SwitchMasterSleep sleep);
bool SwitchMasterSleepSet(); // another than the real one

} // namespace chronavel

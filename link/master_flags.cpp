#include "link/master_flags.h"

#include <atomic>

namespace chronavel {

namespace {
// Written by the decoder on the exchange thread, read by SwitchMaster on the
// window thread.
std::atomic<uint8_t> master_flags{0};
} // namespace

uint8_t StoredMasterFlags()
{
    return master_flags.load();
}

void StoreMasterFlags(uint8_t value)
{
    master_flags.store(value);
}

void ResetMasterFlags()
{
    master_flags.store(0);
}

} // namespace chronavel

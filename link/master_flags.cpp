#include "link/master_flags.h"

#include <atomic>

namespace chronavel {

namespace {
// Written by the decoder on the exchange thread, read by SwitchMaster on the
// window thread; value, address and serial in one word, so they are always
// read together.
std::atomic<uint64_t> stored{0};

uint64_t Pack(const MasterFlagsRecord& r)
{
    return static_cast<uint64_t>(r.Value) | static_cast<uint64_t>(r.Addr) << 8 |
           static_cast<uint64_t>(r.Serial) << 16;
}
} // namespace

MasterFlagsRecord StoredMasterFlagsRecord()
{
    const uint64_t v = stored.load();
    return MasterFlagsRecord{static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8 & 0xFF),
                             static_cast<uint32_t>(v >> 16)};
}

uint8_t StoredMasterFlags()
{
    return StoredMasterFlagsRecord().Value;
}

void StoreMasterFlags(uint8_t value, uint8_t from_addr)
{
    uint64_t old = stored.load();
    for (;;) {
        const uint32_t serial = static_cast<uint32_t>(old >> 16) + 1;
        if (stored.compare_exchange_weak(old, Pack({value, from_addr, serial})))
            return;
    }
}

void ResetMasterFlags()
{
    stored.store(0);
}

} // namespace chronavel

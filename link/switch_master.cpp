#include "link/switch_master.h"

#include "config/registers.h"
#include "link/frames.h"
#include "link/master_flags.h"
#include "link/request.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace chronavel {

namespace {

constexpr int kLookInterval = 3000;
constexpr int kMaxLooks = 3;

void RealSleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::atomic<SwitchMasterSleep> sleeper{&RealSleep};

} // namespace

void SetSwitchMasterSleep(SwitchMasterSleep sleep)
{
    sleeper.store(sleep ? sleep : &RealSleep);
}

void SwitchMaster(uint8_t addr, bool on)
{
    const uint32_t before = StoredMasterFlagsRecord().Serial;
    // A value stored since the read was queued, from the addressed clock.
    const auto fresh = [&] {
        const MasterFlagsRecord r = StoredMasterFlagsRecord();
        return r.Serial != before && r.Addr == addr;
    };
    PutRequest(StandardRequest(addr, kCmdReadRegister, kRegMasterFlags, 0));
    // Waits until the read is taken and answered, three looks at most.
    for (int looks = 0; looks < kMaxLooks && (RingReadSlotParam1() == kRegMasterFlags || !fresh());
         ++looks)
        sleeper.load()(kLookInterval);

    // Only the addressed clock's fresh answer is used, so only bit 7 of its
    // flags changes; without one the value is taken as 0, as if never read
    // (switching on writes 0x80, switching off writes nothing).
    const MasterFlagsRecord r = StoredMasterFlagsRecord();
    const uint8_t flags = (r.Serial != before && r.Addr == addr) ? r.Value : 0;
    const uint8_t wanted = on ? static_cast<uint8_t>(flags | master_bits::kMaster)
                              : static_cast<uint8_t>(flags & ~master_bits::kMaster);
    MasterActive.store(on ? 1 : 0);
    if (wanted != flags)
        PutRequest(StandardRequest(addr, kCmdWriteRegister, kRegMasterFlags, wanted));
}

} // namespace chronavel

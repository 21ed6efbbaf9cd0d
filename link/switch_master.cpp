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
    PutRequest(StandardRequest(addr, kCmdReadRegister, kRegMasterFlags, 0));
    for (int looks = 0; looks < kMaxLooks && RingReadSlotParam1() == kRegMasterFlags; ++looks)
        sleeper.load()(kLookInterval);

    // The decoder keeps the value the clock last reported, so only bit 7 of
    // it changes, and nothing is written when bit 7 is already as wanted.
    const uint8_t flags = StoredMasterFlags();
    const uint8_t wanted =
        on ? static_cast<uint8_t>(flags | master_bits::kMaster) : static_cast<uint8_t>(flags & ~master_bits::kMaster);
    MasterActive.store(on ? 1 : 0);
    if (wanted != flags)
        PutRequest(StandardRequest(addr, kCmdWriteRegister, kRegMasterFlags, wanted));
}

} // namespace chronavel

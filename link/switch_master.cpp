#include "link/switch_master.h"

#include "link/frames.h"
#include "link/master_flags.h"
#include "link/request.h"
#include "platform/tick.h"

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

void QueueRegisterRequest(uint8_t addr, uint8_t cmd, uint8_t value)
{
    PutRequest(MakeRequest(addr, 3000, 3, platform::GetTickCount() + 3000u, cmd,
                           kMasterFlagsRegister, value, nullptr, nullptr, 2, 0));
}

} // namespace

void SetSwitchMasterSleep(SwitchMasterSleep sleep)
{
    sleeper.store(sleep ? sleep : &RealSleep);
}

void SwitchMaster(uint8_t addr, bool on)
{
    QueueRegisterRequest(addr, kCmdReadRegister, 0);
    for (int looks = 0; looks < kMaxLooks && RingReadSlotParam1() == kMasterFlagsRegister; ++looks)
        sleeper.load()(kLookInterval);

    // The decoder keeps the value the clock last reported, so switching off
    // writes the flags with only bit 7 cleared.
    const uint8_t flags = StoredMasterFlags();
    if (on) {
        MasterActive.store(1);
        if (flags & kMasterBit)
            return;
        QueueRegisterRequest(addr, kCmdWriteRegister, static_cast<uint8_t>(flags | kMasterBit));
    } else {
        MasterActive.store(0);
        if (!(flags & kMasterBit))
            return;
        QueueRegisterRequest(addr, kCmdWriteRegister, static_cast<uint8_t>(flags & ~kMasterBit));
    }
}

} // namespace chronavel

#include "link/switch_master.h"

#include "config/registers.h"
#include "config/write_settings.h"
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

bool SwitchMasterSleepSet()
{
    return sleeper.load() != &RealSleep;
}

SwitchResult SwitchMaster(uint8_t addr, bool on)
{
    // No answer ever carries 0xFF, and every clock would become a master
    // with its take-from-master bits cleared.
    if (addr == kBroadcast)
        return SwitchResult::kAllClocksRefused;
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
    // flags changes; without one a write would clear bits 0..6.
    const MasterFlagsRecord r = StoredMasterFlagsRecord();
    if (r.Serial == before || r.Addr != addr)
        return SwitchResult::kNoAnswer;
    const uint8_t flags = r.Value;
    const uint8_t wanted = on ? static_cast<uint8_t>(flags | master_bits::kMaster)
                              : static_cast<uint8_t>(flags & ~master_bits::kMaster);
    MasterActive.store(on ? 1 : 0);
    if (wanted == flags)
        return SwitchResult::kUnchanged;
    PutRequest(StandardRequest(addr, kCmdWriteRegister, kRegMasterFlags, wanted));
    return SwitchResult::kWritten;
}

std::string SwitchMasterText(SwitchResult result)
{
    switch (result) {
    case SwitchResult::kNoAnswer:
        return "Часы не сообщили свой регистр 0x4D, режим не изменён: ничего не записано. "
               "Проверьте связь и попробуйте снова.";
    case SwitchResult::kAllClocksRefused:
        return SaveRefusal(kBroadcast);
    default:
        return {};
    }
}

} // namespace chronavel

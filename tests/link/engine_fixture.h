// Common ground for the request-engine tests: a recording host, a fake port
// in PortHandle, a tick the test moves by hand (starting 1,000 ms short of
// the 2^32 wrap), and every piece of engine state reset before and after.
#pragma once

#include "app/core_state.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "link/switch_master.h"
#include "platform/tick.h"
#include "port/port.h"
#include "port/sync.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"
#include "testkit/fake_time.h"

#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace chronavel::test {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kNearWrap = 0xFFFFFFFFu - 999u; // 2^32 - 1,000

// The engine's time: the tick counter is stepped by hand; the wall and
// monotonic clocks move when the code under test sleeps (a timed write).
class FakeTick : public FakeTime {
public:
    explicit FakeTick(uint32_t start) : FakeTime(std::chrono::system_clock::now(), start) {}
    uint32_t Now() const { return TickNow(); }
    void Advance(uint32_t ms) { AdvanceTick(ms); }
    void Set(uint32_t t) { SetTick(t); }
};

// The reply a clock sends: a leading byte (the one that wakes the exchange
// loop), the header, and for data-bearing commands the block and its check.
inline Bytes ReplyFrame(uint8_t addr, uint8_t addr2, uint8_t cmd, uint8_t p1, uint8_t p2,
                        const Bytes& data = {})
{
    Bytes f{0x00, kSync, addr, addr2, cmd, p1, p2, 0, 0};
    CalcSum(f.data(), 1, 6, 7, 2);
    if (HasDataBlock(cmd)) {
        f.insert(f.end(), data.begin(), data.end());
        f.push_back(static_cast<uint8_t>(SumBytes(data.data(), data.size()) & 0xFF));
    }
    return f;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        port = std::make_shared<FakePort>();
        PortHandle.Set(port);
    }
    void TearDown() override { ResetCoreState(); }

    RecorderHost host;
    FakeTick tick{kNearWrap};
    std::shared_ptr<FakePort> port;
};

} // namespace chronavel::test

// Switching a clock's master mode through the queue.
#include "engine_fixture.h"

#include <optional>
#include <utility>

namespace chronavel::test {
namespace {

// Stands in for the exchange thread during SwitchMaster's waits: takes the
// queued read and, when told, stores the answer of a clock.
std::vector<TRequestRec> taken;
int sleeps = 0;
bool take_on_sleep = true;
std::optional<std::pair<uint8_t, uint8_t>> answer; // (from address, value)

void TakeWhileSleeping(int ms)
{
    EXPECT_EQ(ms, 3000);
    ++sleeps;
    if (take_on_sleep && !RingEmpty()) {
        taken.push_back(GetRequest());
        if (answer)
            StoreMasterFlags(answer->second, answer->first);
    }
}

class SwitchMasterTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        CreateRing(kRingRequests);
        taken.clear();
        sleeps = 0;
        take_on_sleep = true;
        answer.reset();
        SetSwitchMasterSleep(&TakeWhileSleeping);
    }
    std::vector<TRequestRec> Queued()
    {
        std::vector<TRequestRec> out = taken;
        while (!RingEmpty())
            out.push_back(GetRequest());
        return out;
    }
};

TEST_F(SwitchMasterTest, ReadIsQueuedAsAStandardRequest)
{
    answer = {{0x07, 0x05}};
    EXPECT_EQ(SwitchMaster(0x07, true), SwitchResult::kWritten);
    EXPECT_EQ(MasterActive.load(), 1);
    EXPECT_EQ(sleeps, 1);
    const auto q = Queued();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].Addr, 0x07);
    EXPECT_EQ(q[0].Cmd, kCmdReadRegister);
    EXPECT_EQ(q[0].Param1, 0x4D);
    EXPECT_EQ(q[0].Retries, 3);
    EXPECT_EQ(q[0].Interval, 3000);
    EXPECT_EQ(q[0].NextDue, tick.Now() + 3000u);
    EXPECT_EQ(q[1].Addr, 0x07);
    EXPECT_EQ(q[1].Cmd, kCmdWriteRegister);
    EXPECT_EQ(q[1].Param1, 0x4D);
    EXPECT_EQ(q[1].Param2, 0x85);
}

// Only the addressed clock's answer to this very read is used; without one
// nothing is written (a write would clear bits 0..6) and the mode stays.
TEST_F(SwitchMasterTest, WritesOnlyBitSevenOfTheAddressedClocksFreshAnswer)
{
    struct Case {
        const char* Name;
        bool On;
        std::optional<uint8_t> StoredBefore; // from clock 7, before the call
        std::optional<std::pair<uint8_t, uint8_t>> Answer;
        uint8_t Active;
        std::optional<uint8_t> Written;
        SwitchResult Result;
    };
    using R = SwitchResult;
    const Case cases[] = {
        {"on: bit 7 added", true, {}, {{7, 0x05}}, 1, 0x85, R::kWritten},
        {"on: already master", true, {}, {{7, 0x81}}, 1, {}, R::kUnchanged},
        {"off: bit 7 cleared", false, {}, {{7, 0x85}}, 0, 0x05, R::kWritten},
        {"off: already clear", false, {}, {{7, 0x05}}, 0, {}, R::kUnchanged},
        {"on: another clock answered", true, {}, {{9, 0x45}}, 0, {}, R::kNoAnswer},
        {"off: another clock answered", false, {}, {{9, 0xC5}}, 1, {}, R::kNoAnswer},
        {"on: only a stale value", true, 0x45, {}, 0, {}, R::kNoAnswer},
        {"off: only a stale value", false, 0xC5, {}, 1, {}, R::kNoAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CreateRing(kRingRequests);
        taken.clear();
        ResetMasterFlags();
        MasterActive.store(c.On ? 0 : 1);
        if (c.StoredBefore)
            StoreMasterFlags(*c.StoredBefore, 7);
        answer = c.Answer;
        EXPECT_EQ(SwitchMaster(7, c.On), c.Result);
        EXPECT_EQ(MasterActive.load(), c.Active);
        const auto q = Queued();
        ASSERT_EQ(q.size(), c.Written ? 2u : 1u);
        if (c.Written) {
            EXPECT_EQ(q[1].Param2, *c.Written);
        }
    }
}

TEST_F(SwitchMasterTest, WaitsAtMostThreeTimesForTheReadToBeAnswered)
{
    for (bool taken_at_all : {false, true}) {
        CreateRing(kRingRequests);
        taken.clear();
        sleeps = 0;
        take_on_sleep = taken_at_all;
        EXPECT_EQ(SwitchMaster(0x07, true), SwitchResult::kNoAnswer);
        EXPECT_EQ(sleeps, 3);
        EXPECT_EQ(Queued().size(), 1u); // the read only
    }
    // All clocks: nothing queued, nothing waited for.
    CreateRing(kRingRequests);
    sleeps = 0;
    EXPECT_EQ(SwitchMaster(0xFF, true), SwitchResult::kAllClocksRefused);
    EXPECT_TRUE(RingEmpty());
    EXPECT_EQ(sleeps, 0);
    EXPECT_FALSE(SwitchMasterText(SwitchResult::kNoAnswer).empty());
}

} // namespace
} // namespace chronavel::test

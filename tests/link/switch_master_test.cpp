// Switching a clock's master mode through the queue.
#include "engine_fixture.h"

namespace chronavel::test {
namespace {

// Stands in for the exchange thread during SwitchMaster's waits.
std::vector<TRequestRec> taken;
int sleeps = 0;
bool take_on_sleep = true;

void TakeWhileSleeping(int ms)
{
    EXPECT_EQ(ms, 3000);
    ++sleeps;
    if (take_on_sleep && !RingEmpty())
        taken.push_back(GetRequest());
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

TEST_F(SwitchMasterTest, OnWritesBitSevenIntoTheStoredFlags)
{
    StoreMasterFlags(0x05);
    SwitchMaster(0x07, true);
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
    EXPECT_EQ(q[1].Cmd, kCmdWriteRegister);
    EXPECT_EQ(q[1].Param1, 0x4D);
    EXPECT_EQ(q[1].Param2, 0x85);
}

TEST_F(SwitchMasterTest, OnWithBitSevenAlreadySetWritesNothing)
{
    StoreMasterFlags(0x81);
    SwitchMaster(0x07, true);
    EXPECT_EQ(MasterActive.load(), 1);
    EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(SwitchMasterTest, OffClearsOnlyBitSeven)
{
    MasterActive.store(1);
    StoreMasterFlags(0x85);
    SwitchMaster(0x07, false);
    EXPECT_EQ(MasterActive.load(), 0);
    const auto q = Queued();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[1].Param2, 0x05);
}

TEST_F(SwitchMasterTest, OffWithBitSevenClearWritesNothing)
{
    MasterActive.store(1);
    StoreMasterFlags(0x05);
    SwitchMaster(0x07, false);
    EXPECT_EQ(MasterActive.load(), 0);
    EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(SwitchMasterTest, WaitsAtMostThreeTimesForTheReadToBeTaken)
{
    take_on_sleep = false;
    SwitchMaster(0x07, true);
    EXPECT_EQ(sleeps, 3);
    EXPECT_EQ(Queued().size(), 2u);
}

} // namespace
} // namespace chronavel::test

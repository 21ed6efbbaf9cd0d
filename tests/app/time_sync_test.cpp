#include "app/core_state.h"
#include "app/time_sync.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "platform/tick.h"
#include "port/port.h"
#include "port/sync.h"
#include "support/local_time.h"
#include "testkit/fake_port.h"
#include "testkit/fake_time.h"

#include <gtest/gtest.h>
#include <vector>

namespace chronavel {
namespace {

using test::At;

class TimeSyncTest : public ::testing::Test {
protected:
    void SetUp() override { ResetCoreState(); }
    void TearDown() override { ResetCoreState(); }
};

TEST_F(TimeSyncTest, BlockForSundayInDecember)
{
    const TimeBlock b = MakeTimeBlock(At(2026, 12, 6, 14, 5, 9));
    EXPECT_EQ(b, (TimeBlock{0x09, 0x05, 0x14, 0x08, 0x06, 0x12, 0x26}));
}

TEST_F(TimeSyncTest, DayOfWeekFromJulianDay)
{
    EXPECT_EQ(DayOfWeekByte(2001, 1, 1), 2); // Monday
    EXPECT_EQ(JulianDay(2000, 1, 1), 2451545);
    EXPECT_EQ(DayOfWeekByte(2000, 1, 1), 7); // Saturday
    // March starts the year of the algorithm; February belongs to the one before.
    EXPECT_EQ(JulianDay(2000, 3, 1) - JulianDay(2000, 2, 29), 1);
    EXPECT_EQ(DayOfWeekByte(2000, 3, 1), 4);  // Wednesday
    EXPECT_EQ(DayOfWeekByte(2000, 2, 29), 3); // Tuesday
    EXPECT_EQ(DayOfWeekByte(2026, 12, 6), 8); // Sunday is 8, not 1
    // A run of days cycles 2..8 without a gap across month and year ends.
    int32_t j = JulianDay(1999, 12, 27);
    EXPECT_EQ(DayOfWeekByte(1999, 12, 27), 2);
    EXPECT_EQ(JulianDay(1999, 12, 31), j + 4);
    EXPECT_EQ(DayOfWeekByte(2000, 1, 2), 8);
    EXPECT_EQ(DayOfWeekByte(2000, 1, 3), 2);
}

TEST_F(TimeSyncTest, BcdOfEveryField)
{
    EXPECT_EQ(TimeBcd(45), 0x45);
    EXPECT_EQ(TimeBcd(0), 0x00);
    EXPECT_EQ(TimeBcd(59), 0x59);
    const TimeBlock b = MakeTimeBlock(At(2099, 1, 31, 23, 59, 58));
    EXPECT_EQ(b, (TimeBlock{0x58, 0x59, 0x23, DayOfWeekByte(2099, 1, 31), 0x31, 0x01, 0x99}));
    EXPECT_EQ(MakeTimeBlock(At(2100, 1, 1, 0, 0, 0))[6], 0x00); // year in the century
}

TEST_F(TimeSyncTest, RequestFields)
{
    test::FakeTime time(test::LocalWall(2026, 12, 6, 14, 5, 9), 1000);
    const TRequestRec r = TimeSyncRequest(0x05);
    EXPECT_EQ(r.Addr, 0x05);
    EXPECT_EQ(r.Cmd, 0x70);
    EXPECT_EQ(r.Param1, 0);
    EXPECT_EQ(r.Param2, 7);
    EXPECT_EQ(r.Retries, 3);
    EXPECT_EQ(r.Interval, 3000);
    EXPECT_EQ(r.NextDue, 4000u);
    EXPECT_EQ(r.ReplyBuf, nullptr);
    EXPECT_EQ(r.ReplyMode, 2);
    EXPECT_EQ(r.ReplyIndex, 0);
    EXPECT_EQ(r.Exhausted, 0);
    ASSERT_NE(r.Data, nullptr);
    EXPECT_EQ(r.Data->Bytes, (std::vector<uint8_t>{0x09, 0x05, 0x14, 0x08, 0x06, 0x12, 0x26}));
    EXPECT_EQ(TimeSyncRequest(0xFF).Addr, 0xFF);
}

// The frame carries the second its last byte leaves on, date and day of the
// week included, across day, month, year and leap-day ends; the resend three
// seconds on carries its own second.
TEST_F(TimeSyncTest, FrameCarriesTheSecondItEndsOnAcrossRollovers)
{
    using namespace std::chrono_literals;
    struct Case {
        WallTime queued;
        TimeBlock first;
        TimeBlock resend;
    } cases[] = {
        {test::LocalWall(2026, 12, 31, 23, 59, 59, 500),
         {0x00, 0x00, 0x00, 6, 0x01, 0x01, 0x27},
         {0x04, 0x00, 0x00, 6, 0x01, 0x01, 0x27}},
        // Too little of the last second left for 18 bytes at 9600 Bd.
        {test::LocalWall(2026, 12, 31, 23, 59, 59, 990),
         {0x01, 0x00, 0x00, 6, 0x01, 0x01, 0x27},
         {0x05, 0x00, 0x00, 6, 0x01, 0x01, 0x27}},
        {test::LocalWall(2028, 2, 28, 23, 59, 59, 200),
         {0x00, 0x00, 0x00, 3, 0x29, 0x02, 0x28},
         {0x04, 0x00, 0x00, 3, 0x29, 0x02, 0x28}},
        {test::LocalWall(2028, 2, 29, 23, 59, 56, 0),
         {0x57, 0x59, 0x23, 3, 0x29, 0x02, 0x28},
         {0x01, 0x00, 0x00, 4, 0x01, 0x03, 0x28}},
        {test::LocalWall(2027, 2, 28, 23, 59, 59, 600),
         {0x00, 0x00, 0x00, 2, 0x01, 0x03, 0x27},
         {0x04, 0x00, 0x00, 2, 0x01, 0x03, 0x27}},
    };
    for (const Case& c : cases) {
        ResetCoreState();
        test::FakeTime clocks(c.queued, 50000);
        auto port = std::make_shared<test::FakePort>();
        PortHandle.Set(port);
        auto loop = TNewThread::CreateManual();
        ExchangeThread.Set(loop);

        ASSERT_TRUE(Sinkhr_date(0x03));
        loop->RunPass();
        clocks.AdvanceTick(3000);
        clocks.ShiftWall(3s);
        loop->RunPass();

        const auto writes = port->Writes();
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[0], BuildDataFrame(0x03, 0x70, 0, 7, c.first.data()));
        EXPECT_EQ(writes[1], BuildDataFrame(0x03, 0x70, 0, 7, c.resend.data()));
    }
}

TEST_F(TimeSyncTest, SinkhrDateQueuesOneRequest)
{
    CreateRing(kRingRequests);
    ASSERT_TRUE(Sinkhr_date(0x07));
    ASSERT_FALSE(RingEmpty());
    const TRequestRec r = GetRequest();
    EXPECT_EQ(r.Addr, 0x07);
    EXPECT_EQ(r.Cmd, 0x70);
    EXPECT_TRUE(RingEmpty());
}

} // namespace
} // namespace chronavel

#include "platform/clock_sync.h"
#include "platform/time_source.h"
#include "testkit/fake_time.h"

#include <gtest/gtest.h>

using namespace chronavel::platform;

namespace {

TEST(ClockSync, InstalledTimeSourceReplacesTheSystemsAnswerUntilRemoved)
{
    const ClockSync fake{ClockSyncState::kUnsynchronised, 16000000};
    {
        chronavel::test::FakeTime time;
        time.SetSync(fake);
        EXPECT_EQ(QueryClockSync(), fake);
    }
    EXPECT_EQ(QueryClockSync().State, SystemClockSync().State);
}

} // namespace

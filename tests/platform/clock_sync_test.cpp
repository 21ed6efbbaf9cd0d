#include "platform/clock_sync.h"

#include <gtest/gtest.h>

using namespace chronavel::platform;

namespace {

TEST(ClockSync, SourceForTestsReplacesTheSystemsAnswerUntilReset)
{
    const ClockSync fake{ClockSyncState::kUnsynchronised, 16000000};
    SetClockSyncSource([&] { return fake; });
    EXPECT_EQ(QueryClockSync(), fake);
    SetClockSyncSource({});
    EXPECT_EQ(QueryClockSync().State, SystemClockSync().State);
}

} // namespace

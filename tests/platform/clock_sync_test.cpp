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

// Windows' answer: a steered clock is synchronised whatever the time
// service says; a service that can never synchronise is not; the rest,
// and no service at all (Wine), is unknown.
TEST(ClockSync, WindowsAnswersFromTheTimeService)
{
    const auto kSynced = ClockSyncState::kSynchronised;
    const auto kUnsynced = ClockSyncState::kUnsynchronised;
    const auto kUnknown = ClockSyncState::kUnknown;
    const struct {
        WindowsTimeFacts Facts;
        ClockSyncState Expected;
    } cases[] = {
        {{true, true, false, "NTP"}, kSynced},
        {{true, true, false, "NoSync"}, kSynced}, // another service steers it
        {{true, false, false, ""}, kSynced},
        {{false, true, false, "NTP"}, kUnknown}, // stopped between its syncs
        {{false, true, false, "NT5DS"}, kUnknown},
        {{false, true, false, "NoSync"}, kUnsynced},
        {{false, true, false, "nosync"}, kUnsynced},
        {{false, true, true, "NTP"}, kUnsynced},
        {{false, true, false, ""}, kUnknown},
        {{false, false, false, ""}, kUnknown},
        {{false, false, true, "NoSync"}, kUnknown}, // unread facts count for nothing
    };
    for (const auto& c : cases) {
        const ClockSync s = ClockSyncFromWindowsTime(c.Facts);
        EXPECT_EQ(s.State, c.Expected) << c.Facts.Steered << c.Facts.ServiceKnown
                                       << c.Facts.ServiceDisabled << " " << c.Facts.Type;
        EXPECT_FALSE(s.MaxErrorUs);
    }
}

} // namespace

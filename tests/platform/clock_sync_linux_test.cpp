#include "platform/clock_sync.h"

#include <gtest/gtest.h>
#include <sys/timex.h>

using namespace chronavel::platform;

namespace {

// The system's answer is the kernel's own, whatever this machine's state:
// a Linux kernel always keeps one, so it is never "unknown".
TEST(ClockSync, SystemAnswerIsTheKernels)
{
    timex tx{};
    const int rc = ntp_adjtime(&tx);
    ASSERT_GE(rc, 0);
    const bool unsynced = rc == TIME_ERROR || (tx.status & STA_UNSYNC) != 0;
    const ClockSync s = SystemClockSync();
    EXPECT_EQ(s.State, unsynced ? ClockSyncState::kUnsynchronised : ClockSyncState::kSynchronised);
    ASSERT_TRUE(s.MaxErrorUs.has_value());
    EXPECT_GE(*s.MaxErrorUs, 0);
}

} // namespace

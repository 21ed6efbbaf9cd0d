#include "app/time_source.h"

#include <gtest/gtest.h>

namespace chronavel {
namespace {

using platform::ClockSync;
using platform::ClockSyncState;

TEST(TimeSource, TextsForEveryState)
{
    struct Case {
        ClockSync s;
        std::string window, words, key;
    };
    const Case cases[] = {
        {{ClockSyncState::kSynchronised, 12345},
         "Время ПК синхронизировано (погрешность до 12 мс)",
         "synchronised (maximum error 12 ms)",
         "synchronised"},
        {{ClockSyncState::kSynchronised, std::nullopt},
         "Время ПК синхронизировано",
         "synchronised",
         "synchronised"},
        {{ClockSyncState::kUnsynchronised, 16000000},
         "Время ПК не синхронизировано!",
         "not synchronised (maximum error 16 s)",
         "unsynchronised"},
        {{ClockSyncState::kUnknown, std::nullopt},
         "Синхронизация времени ПК неизвестна",
         "state unknown",
         "unknown"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeSourceText(c.s), c.window);
        EXPECT_EQ(TimeSourceWords(c.s), c.words);
        EXPECT_EQ(TimeSourceKey(c.s.State), c.key);
    }
}

TEST(TimeSource, ErrorBoundsReadAsAPersonWould)
{
    EXPECT_EQ(ErrorBoundText(800, false), "800 us");
    EXPECT_EQ(ErrorBoundText(1499, false), "1 ms");
    EXPECT_EQ(ErrorBoundText(999499, false), "999 ms");
    EXPECT_EQ(ErrorBoundText(1560000, true), "1,5 с");
    EXPECT_EQ(ErrorBoundText(1560000, false), "1.5 s");
    EXPECT_EQ(ErrorBoundText(16000000, false), "16 s");
}

// Only a PC clock known to be unsynchronised holds a synchronisation back,
// and only when asked to.
TEST(TimeSource, OnlyAKnownUnsynchronisedClockHoldsASyncBack)
{
    EXPECT_TRUE(SyncMayProceed(ClockSyncState::kUnsynchronised, false));
    EXPECT_FALSE(SyncMayProceed(ClockSyncState::kUnsynchronised, true));
    EXPECT_TRUE(SyncMayProceed(ClockSyncState::kSynchronised, true));
    EXPECT_TRUE(SyncMayProceed(ClockSyncState::kUnknown, true));
}

} // namespace
} // namespace chronavel

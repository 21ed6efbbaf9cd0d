// Steps of the PC's clock, summer time, a new zone, a resume and the PC's
// clock becoming synchronised, on the fake time source: each brings one
// synchronisation at once (through the exchange, as the windows and the
// daemon make it), carrying the new local time, and at most one per 10 s.
#include "app/core_state.h"
#include "app/main_logic.h"
#include "app/time_events.h"
#include "link/exchange.h"
#include "port/port.h"
#include "testkit/fake_port.h"
#include "testkit/fake_time.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace chronavel {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using test::FakeTime;

// 2026-03-29 00:59:55 UTC: 01:59:55 in a zone one hour east, five seconds
// before summer time begins there.
const platform::WallTime kStart = sys_days{year{2026} / March / 29} + 59min + 55s;
const std::time_t kSummerFrom = system_clock::to_time_t(kStart + 5s);

TEST(TimeEvents, EachChangeBringsOneSyncWithinTwoSecondsAtMostOnePerTenSeconds)
{
    struct Case {
        const char* what;
        std::function<void(FakeTime&)> change; // made 5 s after the start
        TimeEventKind kind;
        const char* words;
        const char* text;
        uint8_t hour, minute; // what the frame after it carries (BCD)
    } cases[] = {
        {"summer time", [](FakeTime&) {}, TimeEventKind::kSummerTime,
         "summer time began (UTC+01:00 to UTC+02:00)", "переход на летнее время", 0x03, 0x00},
        {"step +90 s", [](FakeTime& t) { t.ShiftWall(90s); }, TimeEventKind::kStep,
         "PC clock stepped by +90 s", "часы ПК переставлены на +90 с", 0x02, 0x01},
        {"new zone", [](FakeTime& t) { t.SetUtcOffset(3 * 3600); }, TimeEventKind::kZoneChange,
         "time zone changed (UTC+01:00 to UTC+03:00)", "смена часового пояса (UTC+03:00)", 0x04,
         0x00},
        {"resume", [](FakeTime& t) { t.Suspend(600s); }, TimeEventKind::kResume,
         "resumed after 600 s asleep", "выход из спящего режима", 0x02, 0x10},
        {"synchronised",
         [](FakeTime& t) {
             t.SetSync({platform::ClockSyncState::kSynchronised, 1000});
         },
         TimeEventKind::kSynchronised, "PC clock synchronised", "время ПК синхронизировано", 0x02,
         0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetCoreState();
        FakeTime time(kStart, 10'000);
        if (c.kind == TimeEventKind::kSummerTime)
            time.SetSummerTimeFrom(3600, kSummerFrom);
        else
            time.SetUtcOffset(3600);
        time.SetSync({platform::ClockSyncState::kUnsynchronised, 16'000'000});
        auto port = std::make_shared<test::FakePort>();
        PortHandle.Set(port);
        auto loop = TNewThread::CreateManual();
        ExchangeThread.Set(loop);

        // One look a second, as the display tick and the daemon's pass make
        // it; a second change 3 s after the first waits for the spacing.
        TimeEventWatch watch;
        std::vector<std::pair<int, TimeEvent>> fired;
        for (int s = 0; s <= 20; ++s) {
            if (s == 5)
                c.change(time);
            if (s == 8)
                time.ShiftWall(5s);
            if (const std::optional<TimeEvent> e = watch.Check()) {
                fired.emplace_back(s, *e);
                ASSERT_EQ(SyncTime(0x02), SyncOutcome::kQueued);
                loop->RunPass();
            }
            time.Advance(1s);
        }
        ASSERT_EQ(fired.size(), 2u);
        EXPECT_LE(fired[0].first - 5, 2);
        EXPECT_EQ(fired[0].second.Kind, c.kind);
        EXPECT_EQ(TimeEventWords(fired[0].second), c.words);
        EXPECT_EQ(TimeEventText(fired[0].second), c.text);
        // The windows' service line: when and why.
        platform::LocalMoment at;
        at.Tm.tm_hour = 3;
        at.Tm.tm_sec = 1;
        EXPECT_EQ(ExtraSyncText(at, fired[0].second),
                  std::string("Внеочередная синхронизация в 03:00:01: ") + c.text);
        EXPECT_GE(fired[1].first - fired[0].first, 10);
        EXPECT_EQ(TimeEventWords(fired[1].second), "PC clock stepped by +5 s");

        const auto writes = port->Writes();
        ASSERT_GE(writes.size(), 1u);
        ASSERT_EQ(writes[0].size(), 18u);
        EXPECT_EQ(writes[0][12], c.hour);
        EXPECT_EQ(writes[0][11], c.minute);
        ResetExchangeState();
        PortHandle.Set(nullptr);
    }
}

} // namespace
} // namespace chronavel

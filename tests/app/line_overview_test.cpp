// The overview's decisions: what a row says after probes, checks and the
// watch's polls, when the census must let a time frame go first, and which
// clock "Настройки…" opens.
#include "app/line_overview.h"

#include <gtest/gtest.h>

namespace chronavel {
namespace {

using std::chrono::milliseconds;

TEST(LineOverview, RowsFollowProbesAndChecks)
{
    const WallTime t0{std::chrono::hours(1000)};
    const WallTime t1 = t0 + std::chrono::seconds(30);
    LineOverview o;
    o.Probed(9, false, false, t0); // never answered: no row
    o.Probed(5, true, true, t0);
    o.Probed(2, true, false, t0);
    o.Probed(5, false, false, t1); // the master went quiet: still master, silent now
    o.Checked(2, true, t1);
    o.SettingsRead(2);
    o.SettingsRead(9); // no row, nothing made up
    const auto rows = o.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (OverviewRow{2, 2, false, t1, false, true}));
    EXPECT_EQ(rows[1], (OverviewRow{5, 1, true, t0, true, false}));

    const auto texts = OverviewRowTexts(rows[1]);
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[0], "$05/5");
    EXPECT_EQ(texts[2], "мастер");
    EXPECT_EQ(texts[3].rfind("нет ответа (был в ", 0), 0u) << texts[3];
    EXPECT_EQ(OverviewRowTexts(rows[0])[4], "прочитаны");
    EXPECT_EQ(OverviewRowTexts(OverviewRow{0xFE, 0, false, std::nullopt, true, false})[0],
              "$FE/254");
}

// Between censuses the rows follow the watch's verdicts: a single miss does
// not make a row say "нет ответа", the third in a row does, an answer
// clears it, a swept address that answers gets a row, and no poll starts
// that could hold the port as a time frame falls due.
TEST(LineOverview, TheWatchKeepsTheRowsFresh)
{
    const WallTime wall{std::chrono::hours(1000)};
    const WatchTime t0{std::chrono::hours(1000)};
    LineOverview o;
    o.Probed(4, true, false, wall);
    o.Probed(7, true, true, wall);
    OverviewWatch w(9600, o, t0);

    const auto silent = [&](uint8_t addr) {
        for (const OverviewRow& r : o.Rows())
            if (r.Addr == addr)
                return r.SilentNow;
        return false;
    };
    const WatchProbe four{4, WatchAsk::kPoll}, again{4, WatchAsk::kAgain};
    w.Result(o, four, false, false, {}, wall, t0);
    EXPECT_FALSE(silent(4));
    EXPECT_EQ(w.Next(t0 + std::chrono::seconds(2), std::nullopt, false), again);
    EXPECT_TRUE(w.Patient(again));
    // A frame queued, or the period's tick too near: the asking waits.
    EXPECT_FALSE(w.Next(t0 + std::chrono::seconds(2), std::nullopt, true));
    EXPECT_FALSE(w.Next(t0 + std::chrono::seconds(2), milliseconds(300), false));
    w.Result(o, again, false, false, {}, wall, t0 + std::chrono::seconds(2));
    EXPECT_FALSE(silent(4));
    const auto events = w.Result(o, again, false, false, {}, wall, t0 + std::chrono::seconds(7));
    EXPECT_EQ(events, (std::vector<WatchEvent>{{WatchChange::kSilent, 4}}));
    EXPECT_TRUE(silent(4));
    w.Result(o, four, true, false, {}, wall, t0 + std::chrono::seconds(50));
    EXPECT_FALSE(silent(4));

    // Heard on the line while a probe waited: asked at once; its answer
    // gives it a row.
    w.Result(o, {7, WatchAsk::kPoll}, true, true, {0x30}, wall, t0 + std::chrono::seconds(60));
    EXPECT_EQ(w.Next(t0 + std::chrono::seconds(60), std::nullopt, false),
              (WatchProbe{0x30, WatchAsk::kAgain}));
    w.Result(o, {0x30, WatchAsk::kAgain}, true, false, {}, wall, t0 + std::chrono::seconds(61));
    ASSERT_EQ(o.Rows().size(), 3u);
    EXPECT_EQ(o.Rows()[2].Addr, 0x30);
}

TEST(LineOverview, CensusLetsTheTimeFrameGoFirst)
{
    const milliseconds bound{60};
    const struct {
        std::optional<milliseconds> until_tick;
        bool queued;
        bool may_probe;
    } cases[] = {
        {std::nullopt, false, true}, // no period running
        {std::nullopt, true, false}, // "Синхронизация времени" just queued one
        {milliseconds{5000}, false, true},
        {milliseconds{161}, false, true}, // the probe ends before the tick
        {milliseconds{160}, false, false},
        {milliseconds{0}, false, false},
        {milliseconds{-20}, false, false}, // the tick is late in coming
        {milliseconds{5000}, true, false}, // the frame still waits or is answered
    };
    for (const auto& c : cases)
        EXPECT_EQ(CensusMayProbe(c.until_tick, bound, c.queued), c.may_probe)
            << (c.until_tick ? c.until_tick->count() : -1) << " " << c.queued;
}

TEST(LineOverview, SettingsOpenTheChosenRowsClock)
{
    std::vector<OverviewRow> rows(3);
    rows[0].Addr = 3;
    rows[1].Addr = 7;
    rows[2].Addr = 200;
    EXPECT_EQ(SettingsTargetOf(rows, 1), 7);
    EXPECT_EQ(SettingsTargetOf(rows, 2), 200);
    EXPECT_EQ(SettingsTargetOf(rows, -1), std::nullopt);
    EXPECT_EQ(SettingsTargetOf(rows, 3), std::nullopt);
}

} // namespace
} // namespace chronavel

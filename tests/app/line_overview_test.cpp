// The overview's decisions: what a row says after probes and checks, when
// the census must let a time frame go first, and which clock "Настройки…"
// opens.
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

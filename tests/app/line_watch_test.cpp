// The watch's decisions: when a clock that misses is called silent and when
// it is back, which address is asked next (re-askings, the cycle's polls,
// the sweep), and how long the cycle gets.
#include "app/line_watch.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <tuple>

namespace chronavel {
namespace {

using std::chrono::seconds;

const WatchTime t0{std::chrono::hours(1000)};

// Answers each probe the watch asks for up to `until`: clock addr is dark
// from `dark` on and answers again from `back` on; every other address in
// `clocks` answers, any other is silent. The changes, each with its time.
struct Outcome {
    std::vector<std::pair<WatchEvent, WatchTime>> Events;
    int Probes = 0;
};
Outcome Drive(LineWatch& w, const std::vector<uint8_t>& clocks, uint8_t addr, WatchTime dark,
              WatchTime back, WatchTime until, double loss = 0)
{
    std::mt19937 rng(7);
    std::bernoulli_distribution lost(loss);
    Outcome r;
    for (WatchTime now = t0; now < until; now += std::chrono::milliseconds(100)) {
        while (const auto p = w.Due(now)) {
            const bool exists = std::find(clocks.begin(), clocks.end(), p->Addr) != clocks.end();
            const bool answers =
                exists && !(p->Addr == addr && now >= dark && now < back) && !lost(rng);
            for (const WatchEvent& e : w.Result(*p, answers, false, now))
                r.Events.push_back({e, now});
            ++r.Probes;
        }
    }
    return r;
}

TEST(LineWatch, AClockGoneDarkIsSilentWithinTheLimitAndBackWithinACycle)
{
    LineWatch w(9600);
    const std::vector<uint8_t> clocks = {1, 5, 9};
    for (uint8_t a : clocks)
        w.Know(a, false, t0);
    const WatchTime dark = t0 + seconds(100), back = t0 + seconds(300);
    const Outcome r = Drive(w, clocks, 5, dark, back, t0 + seconds(500));
    ASSERT_EQ(r.Events.size(), 2u);
    EXPECT_EQ(r.Events[0].first, (WatchEvent{WatchChange::kSilent, 5}));
    EXPECT_LE(r.Events[0].second - dark, seconds(100));
    // Not before three misses: the first and two askings after it.
    EXPECT_GE(r.Events[0].second - dark, kAgainAfter[0] + kAgainAfter[1]);
    EXPECT_EQ(r.Events[1].first, (WatchEvent{WatchChange::kBack, 5}));
    EXPECT_LE(r.Events[1].second - back, w.Cycle());
    // Three misses, then one a cycle while it was dark.
    EXPECT_EQ(w.Clocks().at(5).MissedPolls,
              static_cast<uint64_t>(3 + (back - dark - seconds(10)) / w.Cycle()));
}

TEST(LineWatch, MissesShortOfTheLimitChangeNothing)
{
    LineWatch w(9600);
    w.Know(5, false, t0);
    // Two misses, then an answer: the count of misses in a row starts again.
    for (int round = 0; round < 3; ++round) {
        WatchTime now = t0 + std::chrono::hours(round + 1);
        EXPECT_EQ(w.Due(now), (WatchProbe{5, WatchAsk::kPoll}));
        EXPECT_TRUE(w.Result({5, WatchAsk::kPoll}, false, false, now).empty());
        now += seconds(10);
        EXPECT_EQ(w.Due(now), (WatchProbe{5, WatchAsk::kAgain}));
        EXPECT_TRUE(w.Result({5, WatchAsk::kAgain}, false, false, now).empty());
        now += seconds(10);
        EXPECT_EQ(w.Due(now), (WatchProbe{5, WatchAsk::kAgain}));
        EXPECT_TRUE(w.Result({5, WatchAsk::kAgain}, true, false, now).empty());
    }
    EXPECT_TRUE(w.Clocks().at(5).Answering);
    EXPECT_EQ(w.Clocks().at(5).MissedPolls, 6u);
}

TEST(LineWatch, WhatIsAskedNext)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> known;
        std::optional<uint8_t> heard;
        std::vector<WatchProbe> expected; // the next probes, each answered "no" (sweep) or "yes"
    };
    const Case cases[] = {
        {"the sweep skips known clocks", {1, 2}, {}, {{1, WatchAsk::kPoll}, {3, WatchAsk::kSweep}}},
        {"a clock heard on the line is asked at once",
         {1},
         77,
         {{77, WatchAsk::kAgain}, {1, WatchAsk::kPoll}, {2, WatchAsk::kSweep}}},
        {"an empty line is only swept", {}, {}, {{1, WatchAsk::kSweep}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineWatch w(9600);
        for (uint8_t a : c.known)
            w.Know(a, false, t0);
        if (c.heard)
            w.Heard(*c.heard, t0);
        WatchTime now = t0 + std::chrono::hours(1);
        for (const WatchProbe& want : c.expected) {
            const auto p = w.Due(now);
            ASSERT_TRUE(p);
            EXPECT_EQ(*p, want);
            const bool known = std::find(c.known.begin(), c.known.end(), p->Addr) != c.known.end();
            const auto events = w.Result(*p, known || p->Addr == c.heard, false, now);
            if (p->Addr == c.heard) {
                EXPECT_EQ(events, (std::vector<WatchEvent>{{WatchChange::kNew, *c.heard}}));
            }
        }
    }
}

TEST(LineWatch, TheCycleKeepsTheShareOrTheLimit)
{
    for (const auto& [speed, clocks, cycle] :
         {std::tuple{9600, 20, kShortestCycle}, std::tuple{9600, 250, kLongestCycle},
          std::tuple{115200, 20, kShortestCycle}}) {
        LineWatch w(speed);
        for (int a = 1; a <= clocks; ++a)
            w.Know(static_cast<uint8_t>(a), false, t0);
        EXPECT_EQ(w.Cycle(), cycle) << speed << " Bd, " << clocks << " clocks";
    }
    // Twenty clocks: each polled once a cycle, the sweep on its spacing.
    LineWatch w(9600);
    std::vector<uint8_t> clocks;
    for (uint8_t a = 1; a <= 20; ++a) {
        clocks.push_back(a);
        w.Know(a, false, t0);
    }
    const Outcome r = Drive(w, clocks, 0, t0, t0, t0 + seconds(600));
    EXPECT_TRUE(r.Events.empty());
    EXPECT_NEAR(r.Probes, 20 * (seconds(600) / kShortestCycle) + seconds(600) / kSweepSpacing, 25);
}

TEST(LineWatch, OneReplyInAHundredLostRaisesNothingInTwoHours)
{
    LineWatch w(9600);
    std::vector<uint8_t> clocks;
    for (uint8_t a = 1; a <= 20; ++a) {
        clocks.push_back(a);
        w.Know(a, false, t0);
    }
    const Outcome r = Drive(w, clocks, 0, t0, t0, t0 + std::chrono::hours(2), 0.01);
    EXPECT_TRUE(r.Events.empty());
    uint64_t missed = 0;
    for (const auto& [a, c] : w.Clocks())
        missed += c.MissedPolls;
    EXPECT_GT(missed, 20u); // the losses did happen, and were asked past
}

} // namespace
} // namespace chronavel

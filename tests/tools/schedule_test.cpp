// The daemon's schedule of line tasks: which task runs, and that nothing
// runs into a time frame.
#include "tools/daemon/schedule.h"

#include <gtest/gtest.h>

namespace chronavel::ctl {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const TaskTime t0{std::chrono::hours(1000)};

TEST(Schedule, TimeFramesFirstAndNothingRunsIntoThem)
{
    const TaskSlot due{t0, milliseconds(400)};
    const TaskSlot later{t0 + seconds(5), milliseconds(400)};
    const TaskSlot none{};
    struct Case {
        const char* name;
        std::optional<TaskTime> frame;
        bool event;
        TaskSlot poll, census, drift, sweep;
        LineTask want;
        std::optional<TaskTime> wake;
    };
    const Case cases[] = {
        {"the frame due goes before all", t0, true, due, due, due, due, LineTask::kTimeFrame, {}},
        {"a time event next", t0 + seconds(9), true, due, due, due, due, LineTask::kEventSync, {}},
        {"a poll before the census",
         t0 + seconds(9),
         false,
         due,
         due,
         due,
         due,
         LineTask::kPoll,
         {}},
        {"the census before settings reads",
         t0 + seconds(9),
         false,
         none,
         due,
         due,
         due,
         LineTask::kCensus,
         {}},
        {"settings reads before the sweep",
         t0 + seconds(9),
         false,
         none,
         none,
         due,
         due,
         LineTask::kDriftRead,
         {}},
        {"the sweep last", t0 + seconds(9), false, later, none, none, due, LineTask::kSweep, {}},
        {"a task that would run into the frame waits for it", t0 + milliseconds(600), false, due,
         due, none, due, LineTask::kNone, t0 + milliseconds(600)},
        {"one that ends in time runs",
         t0 + milliseconds(700),
         false,
         due,
         none,
         none,
         none,
         LineTask::kPoll,
         {}},
        {"nothing due: woken at the first due time", t0 + seconds(9), false, later, none, none,
         none, LineTask::kNone, t0 + seconds(5)},
        {"nothing due: woken for the frame", t0 + seconds(3), false, later, none, none, none,
         LineTask::kNone, t0 + seconds(3)},
        {"no port: no frame, tasks wait for nothing",
         {},
         true,
         none,
         none,
         none,
         due,
         LineTask::kSweep,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScheduleChoice got =
            NextTask({t0, c.frame, c.event, c.poll, c.census, c.drift, c.sweep});
        EXPECT_EQ(LineTaskName(got.Task), std::string(LineTaskName(c.want)));
        EXPECT_EQ(got.WakeAt, c.wake);
    }
}

TEST(Schedule, TheFrameAfterASyncKeepsItsBeatAndLeavesTheWatchRoom)
{
    const std::optional<milliseconds> unwatched;
    struct Case {
        const char* name;
        TaskClock::duration period, sync_took;
        std::optional<milliseconds> longest;
        TaskClock::duration want; // after the frame that was due at t0
    };
    const Case cases[] = {
        {"on its beat, whatever the sync took", seconds(60), seconds(1), milliseconds(900),
         seconds(60)},
        {"unwatched, a late sync goes on at once", seconds(60), seconds(75), unwatched,
         seconds(75)},
        {"a late sync leaves half a period", seconds(60), seconds(75), milliseconds(900),
         seconds(75 + 30)},
        {"at least 5 s, never over the period", seconds(4), seconds(6), milliseconds(900),
         seconds(6 + 4)},
        // A 2 s period with a patient asking of 2.4 s: without the room the
        // asking never fits and the silent clock is never called silent.
        {"room for the longest task", seconds(2), milliseconds(1100), milliseconds(2400),
         milliseconds(1100 + 2400 + 400)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TaskTime next = NextFrameAfterSync(t0, t0 + c.sync_took, c.period, c.longest);
        EXPECT_EQ(next - t0, c.want);
        // Whatever waits fits between the sync and the frame.
        if (c.longest)
            EXPECT_TRUE(NextTask({t0 + c.sync_took + milliseconds(90),
                                  next,
                                  false,
                                  {t0, *c.longest},
                                  {},
                                  {},
                                  {}})
                            .Task == LineTask::kPoll);
    }
}

TEST(Schedule, TheShareIsTheBusyTimeOfTheLastMinutes)
{
    LineShare share;
    EXPECT_EQ(share.Share(t0), 0);
    // 60 ms every 2 s for ten minutes: 3 %, whatever came before the window.
    share.Took(t0 - std::chrono::hours(1), t0 - std::chrono::minutes(30));
    for (TaskTime t = t0; t < t0 + std::chrono::minutes(10); t += seconds(2))
        share.Took(t, t + milliseconds(60));
    EXPECT_NEAR(share.Share(t0 + std::chrono::minutes(10)), 0.03, 0.001);
    // Just started: over the first minute, not over five.
    LineShare fresh;
    fresh.Took(t0, t0 + seconds(6));
    EXPECT_NEAR(fresh.Share(t0 + seconds(10)), 0.1, 0.001);
}

} // namespace
} // namespace chronavel::ctl

// The daemon's alarms judged from what it knows, step by step: each alarm
// raised once when its cause appears and cleared once when it goes, and
// the history that carries them over a restart.
#include "support/temp_dir.h"
#include "tools/supervision/alarm_runner.h"
#include "tools/supervision/alarms.h"

#include <gtest/gtest.h>

namespace chronavel::test {
namespace {

using ctl::AlarmEvent;
using ctl::AlarmKind;
using ctl::ClockRecord;
using Clocks = std::map<uint8_t, ClockRecord>;

ClockRecord Up(bool master = false)
{
    return {.Master = master, .Answering = true, .LastAnswer = 1, .LastSync = {}};
}
ClockRecord Down()
{
    return {.Master = false, .Answering = false, .LastAnswer = 1, .LastSync = {}};
}

struct Step {
    std::string what;
    std::time_t at;
    bool port_open = true;
    std::optional<Clocks> clocks; // nullopt: no census yet
    std::time_t last_answered = 0;
    platform::ClockSyncState source = platform::ClockSyncState::kSynchronised;
    std::vector<std::string> events; // "+clock_silent 0x02", "-port_lost"
};

std::string Short(const AlarmEvent& e)
{
    char addr[8] = "";
    if (e.Id.Addr)
        std::snprintf(addr, sizeof addr, " 0x%02X", *e.Id.Addr);
    return std::string(e.Raised ? "+" : "-") + ctl::AlarmName(e.Id.Kind) + addr;
}

void Judged(ctl::Alarms& alarms, const std::vector<Step>& steps)
{
    for (const Step& s : steps) {
        ctl::LineFacts f;
        f.PortOpen = s.port_open;
        f.Clocks = s.clocks ? &*s.clocks : nullptr;
        f.LastAnsweredSync = s.last_answered;
        f.CycleSeconds = 100;
        f.Source = s.source;
        std::vector<std::string> got;
        for (const AlarmEvent& e : alarms.Judge(f, s.at))
            got.push_back(Short(e));
        EXPECT_EQ(got, s.events) << s.what;
    }
}

TEST(Alarms, EachIsRaisedOnceAndClearedOnce)
{
    const Clocks both = {{1, Up(true)}, {2, Up()}};
    const Clocks two_silent = {{1, Up(true)}, {2, Down()}};
    const Clocks master_silent = {{1, Down()}, {2, Up()}};
    const Clocks master_moved = {{1, Up()}, {2, Up(true)}};
    ctl::Alarms alarms("ttyUSB0");
    Judged(
        alarms,
        {
            {"before the first census", 10, true, {}, 0, {}, {}},
            {"first census", 20, true, both, 20, {}, {}},
            {"a clock falls silent", 30, true, two_silent, 20, {}, {"+clock_silent 0x02"}},
            {"still silent", 40, true, two_silent, 40, {}, {}},
            {"back", 50, true, both, 50, {}, {"-clock_silent 0x02"}},
            {"the master goes dark",
             60,
             true,
             master_silent,
             60,
             {},
             {"+clock_silent 0x01", "+master_lost 0x01"}},
            {"another takes over",
             70,
             true,
             master_moved,
             70,
             {},
             {"-clock_silent 0x01", "-master_lost 0x01", "+master_changed 0x02"}},
            {"the change holds", 600, true, master_moved, 600, {}, {}},
            {"and clears on its own", 671, true, master_moved, 671, {}, {"-master_changed 0x02"}},
            {"the port goes", 680, false, master_moved, 671, {}, {"+port_lost"}},
            {"no answered sync for two periods",
             872,
             false,
             master_moved,
             671,
             {},
             {"+sync_failing"}},
            {"the port is back, a sync answered",
             880,
             true,
             master_moved,
             880,
             {},
             {"-port_lost", "-sync_failing"}},
            {"the PC's clock loses its source",
             890,
             true,
             master_moved,
             890,
             platform::ClockSyncState::kUnsynchronised,
             {"+pc_clock_unsynchronised"}},
            {"unknown is not an alarm",
             900,
             true,
             master_moved,
             900,
             platform::ClockSyncState::kUnknown,
             {"-pc_clock_unsynchronised"}},
        });
    EXPECT_TRUE(alarms.Active().empty());
    ASSERT_EQ(alarms.History().size(), 14u);
    const AlarmEvent& cleared = alarms.History()[1];
    EXPECT_EQ(cleared.Since, 30);
    EXPECT_EQ(cleared.Text, "Часы $02/2 на линии ttyUSB0 не отвечают");
    const auto j = alarms.Json();
    EXPECT_EQ(j["history"][1]["duration_seconds"], 20);
    EXPECT_EQ(j["history"][1]["address"], "0x02");
    EXPECT_EQ(j["history"][1]["state"], "cleared");
}

// Syncs held back while the PC's clock is not synchronised asked no clock:
// they neither fail nor answer, so only the PC's clock is an alarm then.
TEST(Alarms, SyncsHeldBackAreNoFailingSyncs)
{
    const struct {
        std::optional<std::time_t> Answered, HeldBack;
        std::time_t Now;
        bool Failing;
    } cases[] = {
        {0, {}, 121, true},    // two 60 s periods unanswered
        {0, 100, 121, false},  // held back since, for less than two periods
        {0, 100, 221, true},   // and syncs failing two periods after it
        {110, 100, 121, false} // an answer after the hold
    };
    for (const auto& c : cases) {
        ctl::Alarms alarms("ttyUSB0");
        ctl::LineFacts f;
        f.LastAnsweredSync = c.Answered;
        f.LastHeldBackSync = c.HeldBack;
        f.CycleSeconds = 60;
        const auto events = alarms.Judge(f, c.Now);
        EXPECT_EQ(!events.empty(), c.Failing) << c.Now;
    }
}

// The history file: events survive a restart, alarms left open are raised
// again with their own times and judged afresh, bad lines are skipped, and
// the file is rotated instead of growing.
TEST(Alarms, HistoryOutlivesARestart)
{
    TempDir dir;
    const std::string path = (dir.path() / "state.json.alarms.jsonl").string();
    ctl::AlarmLog log(path, 600);
    {
        ctl::Alarms alarms("ttyUSB0");
        Judged(alarms, {{"census", 20, true, Clocks{{5, Up(true)}}, 20, {}, {}},
                        {"silent",
                         30,
                         true,
                         Clocks{{5, Down()}},
                         30,
                         {},
                         {"+clock_silent 0x05", "+master_lost 0x05"}}});
        for (const AlarmEvent& e : alarms.History())
            ASSERT_EQ(log.Append("ttyUSB0", e), "");
    }
    PutFile(path, GetFile(path) + "not json\n{\"alarm\":\"nonsense\"}\n");

    ctl::Alarms again("ttyUSB0");
    again.Restore(log.Load(ctl::kAlarmHistory));
    EXPECT_EQ(again.Active().size(), 2u);
    EXPECT_EQ(again.Active().begin()->second.At, 30);
    // Before a census nothing is concluded; the first census clears what
    // answers and keeps what does not.
    Judged(again, {{"restart", 100, true, {}, 100, {}, {}},
                   {"census: 5 answers, the master again",
                    120,
                    true,
                    Clocks{{5, Up(true)}},
                    120,
                    {},
                    {"-clock_silent 0x05", "-master_lost 0x05"}}});
    EXPECT_EQ(again.History().size(), 4u);

    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(log.Append("ttyUSB0", again.History().back()), "");
    EXPECT_LE(std::filesystem::file_size(path), 600u + 400u);
    EXPECT_TRUE(std::filesystem::exists(path + ".1"));
    const auto last = log.Load(3);
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last.back().At, again.History().back().At);
}

// Damaged lines of the history are skipped, never read as something
// else: numbers that are not whole (or out of range) are not converted, and
// a line a crash cut short does not take the event written after it.
// Alarms a history left open that nothing would judge again are cleared,
// with the reason: a drift of a clock the settings file no longer lists,
// and every alarm of a clock forgotten for good.
TEST(Alarms, RestoredAlarmsNothingJudgesAreClearedWithTheReason)
{
    ctl::Alarms before("ttyUSB0");
    std::vector<AlarmEvent> history = before.Drift(5, {"Громкость 3, в файле 6"}, 10);
    for (const AlarmEvent& e : before.Drift(6, {"Громкость 3, в файле 6"}, 10))
        history.push_back(e);

    ctl::Alarms again("ttyUSB0");
    again.Restore(history);
    ASSERT_EQ(again.Active().size(), 2u);
    const auto unwatched = again.DriftUnwatched([](uint8_t a) { return a == 6; }, 20);
    ASSERT_EQ(unwatched.size(), 1u);
    EXPECT_EQ(unwatched[0].Id.Addr, 5);
    EXPECT_FALSE(unwatched[0].Raised);
    EXPECT_NE(unwatched[0].Text.find(ctl::Alarms::kDriftUnwatched), std::string::npos);
    const auto forgotten = again.Forget(6, "часы убраны из наблюдения", 30);
    ASSERT_EQ(forgotten.size(), 1u);
    EXPECT_NE(forgotten[0].Text.find("(часы убраны из наблюдения)"), std::string::npos);
    EXPECT_TRUE(again.Active().empty());
}

TEST(Alarms, DamagedHistoryIsSkippedLineByLine)
{
    const AlarmEvent raised{{AlarmKind::kClockSilent, 0x05}, true, "Часы $05/5", 1000, 1000};
    const AlarmEvent cleared{{AlarmKind::kClockSilent, 0x05}, false, "Часы $05/5", 1300, 1000};
    const std::string good = ctl::AlarmLine("ttyUSB0", raised);
    const std::string next = ctl::AlarmLine("ttyUSB0", cleared);
    const auto damaged = [&](const std::string& from, const std::string& to) {
        std::string line = good;
        const size_t at = line.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return line.replace(at, from.size(), to);
    };
    struct Case {
        std::string damage;
        std::string text; // the file
        std::vector<std::time_t> loaded;
    };
    const std::vector<Case> cases = {
        {"none", good + "\n" + next + "\n", {1000, 1300}},
        {"address a fraction",
         damaged("\"address\":5", "\"address\":5.5") + "\n" + next + "\n",
         {1300}},
        {"address out of range", damaged("\"address\":5", "\"address\":1e300") + "\n", {}},
        {"time a fraction", damaged("\"t\":1000", "\"t\":1000.5") + "\n", {}},
        {"time out of range", damaged("\"t\":1000", "\"t\":1e300") + "\n", {}},
        {"time a text", damaged("\"since_t\":1000", "\"since_t\":\"1000\"") + "\n", {}},
        {"time negative", damaged("\"t\":1000", "\"t\":-5") + "\n", {}},
        {"line cut by a crash", good.substr(0, 40) + next + "\n", {1300}},
        {"cut line last", good + "\n" + next.substr(0, 50), {1000}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = (dir.path() / "h.jsonl").string();
        PutFile(path, c.text);
        ctl::AlarmLog log(path);
        std::vector<std::time_t> loaded;
        for (const AlarmEvent& e : log.Load(ctl::kAlarmHistory))
            loaded.push_back(e.At);
        EXPECT_EQ(loaded, c.loaded) << c.damage;
        // The next event appended after it is read back whole.
        ASSERT_EQ(log.Append("ttyUSB0", cleared), "") << c.damage;
        const auto after = log.Load(ctl::kAlarmHistory);
        ASSERT_EQ(after.size(), c.loaded.size() + 1) << c.damage << "\n" << GetFile(path);
        EXPECT_EQ(after.back().At, 1300) << c.damage;
    }
}

TEST(Alarms, TheProgramsEnvironment)
{
    AlarmEvent e{
        {AlarmKind::kClockSilent, 0x05}, false, "Часы $05/5 не отвечают", 1796040000, 1796039000};
    const auto env = ctl::AlarmEnvironment("ttyUSB0", e, 2);
    const platform::ChildProcess::Environment expected = {
        {"CHRONAVEL_ALARM", "clock_silent"},
        {"CHRONAVEL_STATE", "cleared"},
        {"CHRONAVEL_PORT", "ttyUSB0"},
        {"CHRONAVEL_ADDR", "0x05"},
        {"CHRONAVEL_TEXT", "Часы $05/5 не отвечают"},
        {"CHRONAVEL_TIME", "2026-11-30T12:00:00Z"},
        {"CHRONAVEL_LEFT_OUT", "2"}};
    EXPECT_EQ(env, expected);
    e.Id = {AlarmKind::kPortLost, {}};
    EXPECT_EQ(ctl::AlarmEnvironment("ttyUSB0", e, 0)[3].second, "");
}

} // namespace
} // namespace chronavel::test

#include "app/core_state.h"
#include "app/master_search.h"
#include "config/registers.h"
#include "link/frames.h"
#include "link/reception.h"
#include "port/decode.h"
#include "port/port.h"
#include "port/sync.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"
#include "testkit/fake_time.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace chronavel {
namespace {

// The answer of a clock to a register read: a wake byte, then the reply
// header with its two check bytes.
std::vector<uint8_t> RegisterAnswer(uint8_t addr, uint8_t reg, uint8_t value)
{
    std::vector<uint8_t> h{kSync, addr, addr, kReplyRegister, reg, value};
    const uint16_t sum = SumBytes(h.data(), h.size());
    std::vector<uint8_t> out{0x00};
    out.insert(out.end(), h.begin(), h.end());
    out.push_back(CheckByte1(sum));
    out.push_back(CheckByte2(sum));
    return out;
}

class MasterSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        port = std::make_shared<test::FakePort>();
        port->on_write = [this](const std::vector<uint8_t>& w) {
            // Short frame: 00 E0 00 addr cmd p1 p2 ck ck.
            if (w.size() != kShortFrameSize || w[4] != kCmdReadRegister)
                return;
            const uint8_t addr = w[3];
            if (addr == deaf_addr && deaf_writes++ == 0)
                return; // misses its first probe
            if (addr == busy_addr && busy_writes++ == 0) {
                port->Feed(std::vector<uint8_t>(30, 0x55)); // another clock's data block
                return;
            }
            for (const auto& [a, flags] : clocks)
                if (a == addr)
                    port->Feed(RegisterAnswer(addr, w[5], flags));
        };
        PortHandle.Set(port);
    }
    void TearDown() override { ResetCoreState(); }

    std::vector<uint8_t> ProbedAddresses() const
    {
        std::vector<uint8_t> out;
        for (const auto& w : port->Writes()) {
            EXPECT_EQ(w, BuildShortFrame(w[3], kCmdReadRegister, 0x4D, 0));
            out.push_back(w[3]);
        }
        return out;
    }

    test::RecorderHost host;
    std::shared_ptr<test::FakePort> port;
    std::vector<std::pair<uint8_t, uint8_t>> clocks; // address, value of 0x4D
    uint8_t busy_addr = 0;                           // its first probe meets only foreign bytes
    int busy_writes = 0;
    uint8_t deaf_addr = 0; // its first probe goes unanswered
    int deaf_writes = 0;
};

TEST_F(MasterSearchTest, SilentLineProbesEveryAddressOnceInOrder)
{
    std::vector<uint8_t> progress;
    const uint8_t found = SearchMaster(9600, [&](uint8_t a) { progress.push_back(a); });
    EXPECT_EQ(found, 0);
    EXPECT_EQ(MasterAddress.load(), 0);
    std::vector<uint8_t> all;
    for (int a = 1; a <= 254; ++a)
        all.push_back(static_cast<uint8_t>(a));
    EXPECT_EQ(progress, all);
    EXPECT_EQ(ProbedAddresses(), all);    // never 0, never 255
    EXPECT_TRUE(host.Messages().empty()); // silent probes raise no message
}

TEST_F(MasterSearchTest, StopsAtTheFirstClockWithTheMasterBit)
{
    clocks = {{3, 0x7F}, {5, 0x81}, {9, 0x80}};
    std::vector<uint8_t> progress;
    EXPECT_EQ(SearchMaster(9600, [&](uint8_t a) { progress.push_back(a); }), 5);
    EXPECT_EQ(MasterAddress.load(), 5);
    EXPECT_EQ(progress, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(ProbedAddresses(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(MasterSearchTest, MasterAtTheLastAddress)
{
    clocks = {{254, 0x80}};
    EXPECT_EQ(SearchMaster(9600), 254);
    EXPECT_EQ(port->WriteCount(), 254u);
}

TEST_F(MasterSearchTest, SilentAddressesAreNoNews)
{
    EXPECT_EQ(SearchMaster(9600), 0);
    EXPECT_TRUE(host.Messages().empty()); // a silent address is not a failed link
    clocks = {{2, 0x80}};
    EXPECT_EQ(SearchMaster(9600), 2);
}

TEST_F(MasterSearchTest, CancelEndsTheSearch)
{
    std::atomic<bool> cancel{false};
    const uint8_t found = SearchMaster(
        9600,
        [&](uint8_t a) {
            if (a == 10)
                cancel.store(true);
        },
        &cancel);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(port->WriteCount(), 10u);
}

TEST_F(MasterSearchTest, ThePortsReadTimeOutIsPutBack)
{
    SearchMaster(9600);
    EXPECT_EQ(port->ReadTimeoutPerByte(), 80);
}

// The window drives the search a probe at a time; the run ends at a master,
// after 254, or when the port vanishes. A probe that met another clock's bytes on the line is
// asked again (at most eight times more); a silent one is not.
TEST_F(MasterSearchTest, RunProbesOneAddressPerStep)
{
    struct Case {
        std::vector<std::pair<uint8_t, uint8_t>> clocks;
        int lose_port_at; // 0: never
        int busy_at;      // this address's first probes meet only foreign bytes
        int busy_times;
        int steps; // at most this many steps, then the run is dropped
        std::vector<uint8_t> probed;
        bool done;
        uint8_t found;
        bool lost;
    };
    const Case cases[] = {
        {{{1, 0x80}}, 0, 0, 0, 300, {1}, true, 1, false},
        {{{2, 0x01}, {3, 0xC0}}, 0, 0, 0, 300, {1, 2, 3}, true, 3, false},
        {{}, 0, 0, 0, 2, {1, 2}, false, 0, false},
        {{{9, 0x80}}, 4, 0, 0, 300, {1, 2, 3, 4}, true, 0, true},
        {{{2, 0x80}}, 0, 2, 2, 300, {1, 2, 2, 2}, true, 2, false},
        {{{2, 0x80}}, 0, 2, 20, 3, {1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3}, false, 0, false},
    };
    for (const auto& c : cases) {
        SetUp();
        clocks = c.clocks;
        int busy_left = c.busy_times;
        auto answer = port->on_write;
        port->on_write = [&, answer](const std::vector<uint8_t>& w) {
            if (w[3] == c.busy_at && busy_left > 0) {
                --busy_left;
                port->Feed({0x11, 0x22, 0x33}); // a master's block going by
                return;
            }
            answer(w);
            if (c.lose_port_at != 0 && w[3] == c.lose_port_at)
                port->lost.store(true);
        };
        {
            MasterSearchRun run(9600);
            EXPECT_EQ(MasterAddress.load(), 0);
            for (int i = 0; i < c.steps && !run.Done(); ++i) {
                const bool over = run.Step();
                EXPECT_EQ(over, run.Done());
            }
            EXPECT_EQ(ProbedAddresses(), c.probed);
            EXPECT_EQ(run.Done(), c.done);
            EXPECT_EQ(run.Next(), c.done ? 0 : c.probed.back() + 1);
            EXPECT_EQ(run.Found(), c.found);
            EXPECT_EQ(run.PortLost(), c.lost);
        }
        TearDown();
    }
}

// The census goes on past a master, lists every answering clock with the
// master bit alone deciding its flag, probes again an address whose wait
// other traffic cut short, and leaves the search's state alone.
TEST_F(MasterSearchTest, CensusListsEveryAnsweringClockAndItsMasterBit)
{
    clocks = {{1, 0x00}, {5, 0x81}, {9, 0x7F}, {254, 0x80}};
    busy_addr = 9;
    MasterAddress.store(77);
    std::atomic<bool> cancel{false};
    int probes = 0;
    EXPECT_EQ(TakeCensus(
                  9600, [&](uint8_t) { ++probes; }, &cancel),
              (std::vector<CensusEntry>{{1, false}, {5, true}, {9, false}, {254, true}}));
    EXPECT_EQ(probes, 254);
    EXPECT_EQ(port->WriteCount(), 255u); // address 9 twice
    EXPECT_EQ(MasterAddress.load(), 77);
    EXPECT_TRUE(host.Messages().empty());

    // Cancelled at address 7: what answered up to there.
    const auto partial = TakeCensus(
        9600,
        [&](uint8_t a) {
            if (a == 7)
                cancel.store(true);
        },
        &cancel);
    EXPECT_EQ(partial, (std::vector<CensusEntry>{{1, false}, {5, true}}));
}

// A clock that answered before and misses the fast probe gets a patient
// second one; an address nobody expects does not.
TEST_F(MasterSearchTest, CensusProbesAnExpectedClockAgain)
{
    clocks = {{4, 0x00}, {6, 0x80}};
    deaf_addr = 4;
    EXPECT_EQ(TakeCensus(9600, {}, nullptr, {4, 6, 8}),
              (std::vector<CensusEntry>{{4, false}, {6, true}}));
    EXPECT_EQ(port->WriteCount(), 256u); // 4 and the silent 8 twice
    deaf_writes = 0;
    EXPECT_EQ(TakeCensus(9600), (std::vector<CensusEntry>{{6, true}}));
}

// The census's second round: an address that missed its probe is asked
// again, patiently, when it was expected or was heard on the line during the
// run (its answer coming in during a later probe, a frame of its own); a
// silent address nobody knows of is not. The run remembers what it found
// only when it ran to its end.
TEST_F(MasterSearchTest, CensusRunAsksAgainWhatItHeardOrExpected)
{
    struct Speaks {
        uint8_t At = 0;    // asking this address
        uint8_t Who = 0;   // makes this clock talk (another register's answer)
        int FromWrite = 1; // from this asking of At on
    };
    struct Case {
        std::vector<std::pair<uint8_t, uint8_t>> clocks;
        std::set<uint8_t> late; // its first answer comes while the next address is asked
        std::set<uint8_t> deaf; // misses its first probe, unheard
        std::vector<uint8_t> expected;
        Speaks speaks;
        int lose_port_at;           // 0: never
        std::vector<uint8_t> again; // the steps after the 254 first ones
        std::vector<CensusEntry> found;
    };
    const Case cases[] = {
        {{{2, 0}, {5, 0x80}, {9, 0}}, {5}, {}, {}, {}, 0, {5}, {{2, false}, {5, true}, {9, false}}},
        {{{2, 0}, {5, 0}}, {}, {5}, {}, {}, 0, {}, {{2, false}}},
        {{{2, 0}, {5, 0}}, {}, {5}, {7, 5}, {}, 0, {5, 7}, {{2, false}, {5, false}}},
        {{{6, 0}, {200, 0x80}}, {}, {200}, {}, {3, 200}, 0, {200}, {{6, false}, {200, true}}},
        // Heard only while another is asked again: asked again after it.
        {{{4, 0}}, {}, {4}, {2}, {2, 4, 2}, 0, {2, 4}, {{4, false}}},
        {{{2, 0}}, {}, {}, {2, 7}, {}, 4, {}, {{2, false}}},
    };
    for (const auto& c : cases) {
        SetUp();
        clocks = c.clocks;
        std::map<uint8_t, int> writes;
        uint8_t late_pending = 0;
        port->on_write = [&](const std::vector<uint8_t>& w) {
            const uint8_t addr = w[3];
            const int n = ++writes[addr];
            if (late_pending != 0)
                port->Feed(RegisterAnswer(std::exchange(late_pending, 0), kRegMasterFlags, 0));
            if (c.lose_port_at == addr)
                port->lost.store(true);
            if (addr == c.speaks.At && n >= c.speaks.FromWrite)
                port->Feed(RegisterAnswer(c.speaks.Who, 0x43, 0));
            if (n == 1 && c.late.contains(addr)) {
                late_pending = addr;
                return;
            }
            if (n == 1 && c.deaf.contains(addr))
                return;
            for (const auto& [a, flags] : clocks)
                if (a == addr)
                    port->Feed(RegisterAnswer(addr, kRegMasterFlags, flags));
        };
        std::vector<uint8_t> again;
        CensusRun run(9600, c.expected);
        for (int step = 0; !run.Done(); ++step) {
            const uint8_t next = run.Next();
            const bool over = run.Step();
            EXPECT_EQ(over, run.Done());
            EXPECT_EQ(run.Last().Addr, next);
            EXPECT_EQ(run.Last().Again, step >= 254);
            const bool clock = std::any_of(c.clocks.begin(), c.clocks.end(),
                                           [&](const auto& a) { return a.first == next; });
            const bool missed = step < 254 && (c.late.contains(next) || c.deaf.contains(next));
            EXPECT_EQ(run.Last().Answered, clock && !missed) << int(next);
            if (step >= 254)
                again.push_back(next);
        }
        EXPECT_EQ(run.Next(), 0);
        EXPECT_EQ(again, c.again);
        EXPECT_EQ(run.Found(), c.found);
        EXPECT_EQ(run.PortLost(), c.lose_port_at != 0);
        // Remembered only when the census ran to its end.
        EXPECT_EQ(CensusSawClockAt(c.found.front().Addr), c.lose_port_at == 0);
        EXPECT_EQ(MasterAddress.load(), 0);
        TearDown();
    }
}

// A census probe is made again for other traffic only when its wait ended
// amid bytes it could not make out; a whole frame read past left the line
// quiet for the clock to answer, so asking again would only slow the census
// on a line with a master.
TEST_F(MasterSearchTest, CensusAsksAgainOnlyAWaitThatEndedAmidTraffic)
{
    struct Case {
        std::vector<uint8_t> traffic; // on the first probe of address 7
        size_t probes_of_7;
    };
    const Case cases[] = {
        {RegisterAnswer(1, 0x43, 0), 1},
        {std::vector<uint8_t>(30, 0x55), 2},
    };
    for (const auto& c : cases) {
        SetUp();
        int writes_to_7 = 0;
        port->on_write = [&](const std::vector<uint8_t>& w) {
            if (w[3] == 7 && writes_to_7++ == 0)
                port->Feed(c.traffic);
        };
        CensusRun run(9600);
        while (run.Next() <= 7)
            run.Step();
        EXPECT_EQ(static_cast<size_t>(writes_to_7), c.probes_of_7);
        TearDown();
    }
}

// An answer that begins to come in just as a census probe's wait runs out
// is still taken (a port that can tell what is waiting); the master search,
// which does not listen so, leaves it.
TEST_F(MasterSearchTest, CensusTakesAnAnswerComingInAsItsWaitEnds)
{
    struct Case {
        bool census;
        bool port_tells_waiting;
        bool answered;
    };
    const Case cases[] = {{true, true, true}, {true, false, false}, {false, true, false}};
    for (const auto& c : cases) {
        SetUp();
        port->tell_input_waiting = c.port_tells_waiting;
        port->on_write = [&](const std::vector<uint8_t>& w) {
            port->FeedPause(ProbePatience(9600).EmptyReadLimit); // the whole wait silent
            port->Feed(RegisterAnswer(w[3], kRegMasterFlags, 0x80));
        };
        if (c.census) {
            CensusRun run(9600);
            run.Step();
            EXPECT_EQ(run.Last().Answered, c.answered);
        } else {
            MasterSearchRun run(9600);
            run.Step();
            EXPECT_EQ(run.Found() != 0, c.answered);
        }
        EXPECT_EQ(port->WriteCount(), 1u);
        TearDown();
    }
}

// The fast probe waits by the answers this line has given: a clean answer's
// delay (one that met no other traffic), and one heard only during the next
// probe, count; the wait never drops below the fast probe's, and is capped.
TEST_F(MasterSearchTest, CensusWaitFollowsTheAnswersSeen)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> slow; // answer 35 ms after the write
        bool crowded;              // each answer behind another clock's frame
        uint8_t late;              // answers 45 ms late, during the next probe
        std::vector<uint32_t> handed;
        uint8_t silent; // the address whose wait is measured
        int wait_ms;
    };
    const Case cases[] = {
        {"nothing seen", {}, false, 0, {}, 1, 40},
        {"slow clocks", {1, 2}, false, 0, {}, 3, 55},
        {"slow clocks behind other frames", {1, 2}, true, 0, {}, 3, 40},
        {"an answer heard late", {}, false, 1, {}, 3, 70},
        {"delays handed in, capped", {}, false, 0, {100}, 1, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        test::FakeTime time(test::FakeTime::TickOnly{}, 1000);
        uint32_t due_at_read = 0, due_at_purge = 0;
        uint8_t late_pending = 0;
        bool late_done = false;
        port->on_read = [&] { time.AdvanceTick(std::exchange(due_at_read, 0)); };
        port->on_purge = [&] { time.AdvanceTick(std::exchange(due_at_purge, 0)); };
        port->on_write = [&](const std::vector<uint8_t>& w) {
            const uint8_t addr = w[3];
            if (late_pending != 0)
                port->Feed(RegisterAnswer(std::exchange(late_pending, 0), kRegMasterFlags, 0));
            if (addr == c.late && !std::exchange(late_done, true)) {
                late_pending = addr;
                due_at_purge = 45;
                return;
            }
            if (std::find(c.slow.begin(), c.slow.end(), addr) == c.slow.end())
                return;
            if (c.crowded)
                port->Feed(std::vector<uint8_t>(30, 0x55)); // a block going by
            port->Feed(RegisterAnswer(addr, kRegMasterFlags, 0));
            due_at_read = 35;
        };
        ReplyDelays handed;
        for (const uint32_t d : c.handed)
            handed.Add(d);
        const auto fresh_bound = CensusRun(115200).StepBound();
        CensusRun run(115200, {}, handed);
        while (run.Next() != c.silent)
            run.Step();
        // The bound holds the wait twice: a busy line's first try and its last.
        EXPECT_EQ(run.StepBound() - fresh_bound, std::chrono::milliseconds(2 * (c.wait_ms - 40)));
        const int reads = port->Reads();
        run.Step();
        EXPECT_FALSE(run.Last().Answered);
        EXPECT_EQ((port->Reads() - reads) * 5, c.wait_ms); // 5 ms reads
        TearDown();
    }
}

TEST(CensusPatience, FollowsTheDelaysSeen)
{
    struct Case {
        int speed;
        std::vector<uint32_t> delays; // oldest first
        int wait_ms;
    };
    std::vector<uint32_t> rolled_off(20, 500);
    rolled_off.insert(rolled_off.end(), 32, 10);
    const Case cases[] = {
        {115200, {}, 40},                 // the fast probe's own wait
        {115200, {6, 7, 8}, 40},          // never below it
        {115200, {35}, 55},               // half as long again
        {115200, {500}, 120},             // three times the fast wait at most
        {115200, {7, 90, 8, 7, 150}, 40}, // answers the PC's load stretched
        {115200, {35, 7, 40, 36}, 55},    // most answers late
        {115200, rolled_off, 40},         // the latest 32 count
        {9600, {}, 60},
        {9600, {50}, 75},
        {9600, {1000}, 180},
    };
    for (const auto& c : cases) {
        ReplyDelays seen;
        for (const uint32_t d : c.delays)
            seen.Add(d);
        const SyncPatience p = CensusPatience(c.speed, seen);
        EXPECT_EQ(p.ReadTimeoutMs, ProbePatience(c.speed).ReadTimeoutMs);
        EXPECT_EQ(p.ReadTimeoutMs * p.EmptyReadLimit, c.wait_ms)
            << c.speed << " " << seen.Typical();
    }
}

TEST(ProbePatience, FitsTheLineSpeed)
{
    const auto wait_ms = [](const SyncPatience& p) { return p.ReadTimeoutMs * p.EmptyReadLimit; };
    // At 9600 Bd: our 9 bytes and a reply header take about 18 ms on the wire,
    // plus the clock's turnaround and a USB adapter's latency timer; far less
    // than ten 80 ms reads.
    const SyncPatience p9600 = ProbePatience(9600);
    EXPECT_GE(wait_ms(p9600), 18 + 20 + 16);
    EXPECT_LE(wait_ms(p9600), 80);
    EXPECT_LE(254 * (wait_ms(p9600) + 20), 30000); // a silent line's whole search
    // Slower lines wait longer, faster ones not below a floor.
    EXPECT_GT(wait_ms(ProbePatience(1200)), 150);
    EXPECT_GE(wait_ms(ProbePatience(115200)), 20 + 16);
    EXPECT_GE(ProbePatience(115200).ReadTimeoutMs, 5);
    EXPECT_GE(ProbePatience(0).EmptyReadLimit, 2); // nonsense speed: still a bounded wait
}

} // namespace
} // namespace chronavel

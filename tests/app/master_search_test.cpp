#include "app/core_state.h"
#include "app/master_search.h"
#include "link/frames.h"
#include "link/reception.h"
#include "port/decode.h"
#include "port/port.h"
#include "port/sync.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
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

TEST_F(MasterSearchTest, LeavesNoAnswerAsItWas)
{
    SearchMaster(9600);
    EXPECT_EQ(NoAnswer.load(), 0); // the last silent probe does not linger
    NoAnswer.store(1);
    clocks = {{2, 0x80}};
    EXPECT_EQ(SearchMaster(9600), 2); // an earlier failure does not stop the search
    EXPECT_EQ(NoAnswer.load(), 1);
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
// after 254, or when the port vanishes, and dropping it half-way leaves
// NoAnswer as it was. A probe that met another clock's bytes on the line is
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
        NoAnswer.store(1);
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
        EXPECT_EQ(NoAnswer.load(), 1);
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
    NoAnswer.store(1);
    MasterAddress.store(77);
    std::atomic<bool> cancel{false};
    int probes = 0;
    EXPECT_EQ(TakeCensus(
                  9600, [&](uint8_t) { ++probes; }, &cancel),
              (std::vector<CensusEntry>{{1, false}, {5, true}, {9, false}, {254, true}}));
    EXPECT_EQ(probes, 254);
    EXPECT_EQ(port->WriteCount(), 255u); // address 9 twice
    EXPECT_EQ(NoAnswer.load(), 1);
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

// The frame trace: the lines it makes, where the engine reports frames, and
// the hand-over of lines to another thread.
#include "engine_fixture.h"
#include "link/frame_trace.h"

#include <ctime>
#include <string>
#include <thread>

namespace chronavel::test {
namespace {

// "HH:MM:SS.mmm" of a time point, in local time, made independently of the
// formatter.
std::string LocalClock(std::chrono::system_clock::time_point t)
{
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    // One thread here, so the C library's shared result is safe to use.
    const std::tm tm = *std::localtime(&secs);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

TEST(FrameTraceLine, EachKindOfEventMakesItsLine)
{
    // 2026-12-07 10:15:02.047 UTC; the clock text is checked in local time.
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796638502047));
    const Bytes sent = BuildShortFrame(0x01, 0x74, 0x4D, 0x00);
    const Bytes header{0xE0, 0x05, 0x00, 0x52, 0x00, 0x02, 0x39, 0x37};
    const Bytes block{0x10, 0x20, 0x30};
    struct Case {
        FrameDirection dir;
        uint8_t addr, cmd;
        Bytes bytes;
        bool ok;
        size_t announced;
        std::string tail;
    } cases[] = {
        {FrameDirection::Sent, 0x01, 0x74, sent, true, 0,
         " TX addr $01 cmd $74: 00 E0 00 01 74 4D 00 A3 A2"},
        {FrameDirection::Sent, 0xFF, 0x74, sent, false, 0,
         " TX addr $FF cmd $74 write failed: 00 E0 00 01 74 4D 00 A3 A2"},
        {FrameDirection::Header, 0x05, 0x52, header, true, 0,
         " RX addr $05 cmd $52: E0 05 00 52 00 02 39 37"},
        {FrameDirection::DataBlock, 0x05, 0x52, block, true, 2,
         " RX addr $05 cmd $52 data 2, check ok: 10 20 30"},
        {FrameDirection::DataBlock, 0x05, 0x52, block, false, 2,
         " RX addr $05 cmd $52 data 2, check failed: 10 20 30"},
        {FrameDirection::DataBlock, 0x05, 0x53, block, false, 4,
         " RX addr $05 cmd $53 data 4, check failed (3 bytes arrived): 10 20 30"},
        {FrameDirection::DataBlock,
         0x05,
         0x53,
         {},
         false,
         0,
         " RX addr $05 cmd $53 data 0, check failed (0 bytes arrived):"},
    };
    for (const auto& c : cases) {
        FrameEvent e;
        e.When = at;
        e.Direction = c.dir;
        e.Addr = c.addr;
        e.Cmd = c.cmd;
        e.Bytes = c.bytes.data();
        e.Count = c.bytes.size();
        e.Ok = c.ok;
        e.Announced = c.announced;
        EXPECT_EQ(FormatFrameLine(e), LocalClock(at) + ".047" + c.tail);
    }
}

class FrameTraceTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        id = AddFrameObserver([this](const FrameEvent& e) {
            lines.push_back(FormatFrameLine(e).substr(12)); // without the clock
        });
    }
    void TearDown() override
    {
        RemoveFrameObserver(id);
        EngineTest::TearDown();
    }
    int id = 0;
    std::vector<std::string> lines;
};

TEST_F(FrameTraceTest, WritesHeadersAndBlocksAreTracedWhereTheyHappen)
{
    const uint8_t time[] = {0x56, 0x34, 0x12, 0x04, 0x15, 0x06, 0x24};
    WriteShortFrame(*port, 0x01, 0x74, 0x4D, 0x00);
    WriteDataFrame(*port, 0xFF, kCmdSetTime, 0x00, 0x07, time);
    // Noise and a header with a bad check byte are not traced; a register
    // reply, a status block, a text block with a bad check byte and one cut
    // short are.
    port->Feed({0x11, 0xE0, 0x01, 0x00, 0x74, 0x4D, 0x5A, 0xFD, 0xFB});
    port->Feed(ReplyFrame(0x01, 0x00, 0x74, 0x4D, 0x80));
    ASSERT_TRUE(HuntFrame());
    port->Feed(ReplyFrame(0x02, 0x00, 0x52, 0x00, 0x02, {0x10, 0x20}));
    ASSERT_TRUE(HuntFrame());
    ReadDataBlock(2);
    Bytes bad = ReplyFrame(0x03, 0x00, 0x53, 0x00, 0x01, {0x41});
    bad.back() = 0x42;
    port->Feed(bad);
    ASSERT_TRUE(HuntFrame());
    ReadDataBlock(1);
    Bytes cut = ReplyFrame(0x03, 0x00, 0x53, 0x00, 0x03, {0x41, 0x42, 0x43});
    cut.resize(cut.size() - 2);
    port->Feed(cut);
    ASSERT_TRUE(HuntFrame());
    ReadDataBlock(3);

    EXPECT_EQ(lines, (std::vector<std::string>{
                         " TX addr $01 cmd $74: 00 E0 00 01 74 4D 00 A3 A2",
                         " TX addr $FF cmd $70: 00 00 E0 00 FF 70 00 07 58 56 56 34 12 04 15 06 "
                         "24 DF",
                         " RX addr $01 cmd $74: E0 01 00 74 4D 80 24 22",
                         " RX addr $02 cmd $52: E0 02 00 52 00 02 37 36",
                         " RX addr $02 cmd $52 data 2, check ok: 10 20 30",
                         " RX addr $03 cmd $53: E0 03 00 53 00 01 38 37",
                         " RX addr $03 cmd $53 data 1, check failed: 41 42",
                         " RX addr $03 cmd $53: E0 03 00 53 00 03 3A 39",
                         " RX addr $03 cmd $53 data 3, check failed (2 bytes arrived): 41 42",
                     }));
}

TEST_F(FrameTraceTest, RemovedListenerHearsNothingAndTheTraceIsOffWithoutListeners)
{
    EXPECT_TRUE(FrameTraceOn());
    const int second = AddFrameObserver([](const FrameEvent&) { throw 1; });
    WriteShortFrame(*port, 0x01, 0x80, 0x00, 0x00); // a throwing listener breaks nothing
    RemoveFrameObserver(second);
    RemoveFrameObserver(id);
    EXPECT_FALSE(FrameTraceOn());
    WriteShortFrame(*port, 0x02, 0x80, 0x00, 0x00);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(port->WriteCount(), 2u);
}

TEST(FrameLineQueueTest, WakesOnceKeepsTheNewestAndHandsOverAcrossThreads)
{
    FrameLineQueue q(3);
    EXPECT_TRUE(q.Push("a"));
    EXPECT_FALSE(q.Push("b")); // the reader is already woken
    EXPECT_FALSE(q.Push("c"));
    EXPECT_FALSE(q.Push("d"));
    EXPECT_EQ(q.TakeAll(), (std::vector<std::string>{"b", "c", "d"}));
    EXPECT_EQ(q.Dropped(), 1u);
    EXPECT_TRUE(q.TakeAll().empty());
    EXPECT_TRUE(q.Push("e"));

    // A writer thread and a reader: every line arrives once, in order.
    FrameLineQueue big(100000);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            big.Push(std::to_string(i));
        done = true;
    });
    std::vector<std::string> got;
    for (;;) {
        const bool finished = done.load();
        auto part = big.TakeAll();
        got.insert(got.end(), part.begin(), part.end());
        if (finished)
            break;
    }
    writer.join();
    ASSERT_EQ(got.size(), 20000u);
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(got[static_cast<size_t>(i)], std::to_string(i));
}

} // namespace
} // namespace chronavel::test

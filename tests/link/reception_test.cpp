// Hunting reply headers in the byte stream and reading data blocks.
#include "engine_fixture.h"

namespace chronavel::test {
namespace {

using HuntTest = EngineTest;
using namespace std::chrono_literals;

const Bytes kExample{0x00, 0xE0, 0x01, 0x00, 0x74, 0x4D, 0x5A, 0xFD, 0xFC};

void ExpectHeader(uint8_t a, uint8_t a2, uint8_t c, uint8_t p1, uint8_t p2)
{
    EXPECT_EQ(Reception.ReplyAddr.load(), a);
    EXPECT_EQ(Reception.ReplyAddr2.load(), a2);
    EXPECT_EQ(Reception.ReplyCmd.load(), c);
    EXPECT_EQ(Reception.ReplyParam1.load(), p1);
    EXPECT_EQ(Reception.ReplyParam2.load(), p2);
}

TEST_F(HuntTest, FindsTheRegisterReplyOfTheExample)
{
    port->Feed(kExample);
    ASSERT_TRUE(HuntFrame());
    ExpectHeader(0x01, 0x00, 0x74, 0x4D, 0x5A);
    EXPECT_EQ(port->Reads(), 9); // one byte at a time, stops at the last
}

TEST_F(HuntTest, LastByteChangedIsNotFoundAfterTenEmptyReads)
{
    Reception.ReplyAddr = 0x33; // left over from an earlier search
    Bytes bad = kExample;
    bad.back() = 0xFB;
    port->Feed(bad);
    EXPECT_FALSE(HuntFrame());
    ExpectHeader(0, 0, 0, 0, 0);
    EXPECT_EQ(port->Reads(), 9 + 10);
    EXPECT_EQ(Reception.EmptyReads.load(), 10);
}

TEST_F(HuntTest, StrayBytesAndStraySyncBytesAreSkipped)
{
    port->Feed({0x13, 0xE0, 0xE0, 0x44, 0xE0, 0x00, 0xE0});
    port->Feed(kExample);
    ASSERT_TRUE(HuntFrame());
    ExpectHeader(0x01, 0x00, 0x74, 0x4D, 0x5A);
}

TEST_F(HuntTest, HeaderInsideARejectedCandidateIsStillFound)
{
    // A false start whose window runs into the real header.
    port->Feed({0xE0, 0x01, 0x00});
    port->Feed(Bytes(kExample.begin() + 1, kExample.end()));
    ASSERT_TRUE(HuntFrame());
    ExpectHeader(0x01, 0x00, 0x74, 0x4D, 0x5A);
}

// Our own frames heard back are dropped, the last one with the rest of it,
// however late they come; a clock's answer of the same command is an
// answer. Bytes without a header end the search as an empty read would,
// after twice the longest reply.
TEST_F(HuntTest, EchoIsDroppedAndEndlessBytesEndTheSearch)
{
    const uint8_t time_data[7] = {0x05, 0x00, 0x12, 0x02, 0x07, 0x12, 0x26};
    const Bytes time_frame = BuildDataFrame(0x02, 0x70, 0, 7, time_data);
    const Bytes read_frame = BuildShortFrame(0x02, 0x74, 0x43, 0);
    const Bytes answer = ReplyFrame(0x02, 0x02, 0x74, 0x43, 0x5A);
    struct Case {
        const char* what;
        Bytes written;
        std::vector<Bytes> heard;        // in order
        std::chrono::milliseconds later; // between the write and the search
        bool found;
        uint32_t echoes;
    } cases[] = {
        {"echo of a read", read_frame, {read_frame}, 0ms, false, 1},
        {"echo, then the answer", read_frame, {read_frame, answer}, 0ms, true, 1},
        {"echo of a time frame, data and all, then the answer",
         time_frame,
         {time_frame, ReplyFrame(0x02, 0x02, 0x70, 0, 0)},
         0ms,
         true,
         1},
        {"the same header long after the write", read_frame, {read_frame}, 60ms, false, 1},
        {"an older frame of ours after a newer one",
         time_frame,
         {read_frame, time_frame},
         0ms,
         false,
         2},
        {"a line that never falls quiet", read_frame, {Bytes(3000, 0x55)}, 0ms, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetReception();
        port = std::make_shared<FakePort>();
        PortHandle.Set(port);
        NoteWrittenFrame(c.written.data(), c.written.size());
        ReadByte(); // listening from the write on
        tick.FakeTime::Advance(std::chrono::nanoseconds(c.later) +
                               WireTime(c.written.size(), 9600));
        for (const Bytes& b : c.heard)
            port->Feed(b);
        EXPECT_EQ(HuntFrame(), c.found);
        EXPECT_EQ(Reception.EchoesDropped.load(), c.echoes);
        if (c.found)
            EXPECT_NE(Reception.ReplyCmd.load(), 0x00);
        else
            EXPECT_LE(port->Reads(), static_cast<int>(kHuntByteLimit) + 10);
    }
}

TEST_F(HuntTest, PausesCountOverTheWholeSearch)
{
    // Nine pauses spread through the frame: still found.
    port->FeedPause();
    for (uint8_t b : kExample) {
        port->Feed({b});
        if (b != 0xFC)
            port->FeedPause();
    }
    EXPECT_TRUE(HuntFrame());

    // A tenth pause before the last byte: the search has ended.
    ResetReception();
    port->FeedPause(10);
    port->Feed(kExample);
    EXPECT_FALSE(HuntFrame());
    EXPECT_EQ(port->Pending(), kExample.size());
}

TEST_F(HuntTest, SyncByteFirstOnTheLineIsStillFoundByTheSearchItself)
{
    // Only the exchange loop's wake-up read loses the first byte.
    port->Feed(Bytes(kExample.begin() + 1, kExample.end()));
    EXPECT_TRUE(HuntFrame());
}

TEST_F(HuntTest, FailingPortEndsTheSearchWithOneMessage)
{
    port->fail_reads = true;
    EXPECT_FALSE(HuntFrame());
    EXPECT_EQ(port->Reads(), 10);
    ASSERT_EQ(host.Messages().size(), 1u);
    EXPECT_EQ(host.Messages()[0], "Error reading port");
    // The next search may show it again.
    EXPECT_FALSE(HuntFrame());
    EXPECT_EQ(host.Messages().size(), 2u);
}

TEST_F(HuntTest, NoPortReadsAsFailed)
{
    PortHandle.Set(nullptr);
    EXPECT_EQ(ReadByte(), 0u);
    EXPECT_EQ(Reception.EmptyReads.load(), 1);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Error reading port"});
    EXPECT_EQ(ReadBlock(4).Failure,
              (ReadFailure{PortErrorKind::kReadFailed, "Error reading port"}));
}

TEST_F(HuntTest, RunOfFailedReadsShowsOneMessageUntilAReadWorks)
{
    port->fail_reads = true;
    for (int i = 0; i < 5; ++i)
        ReadByte();
    EXPECT_EQ(host.Messages().size(), 1u);
    port->fail_reads = false;
    ReadByte();
    port->fail_reads = true;
    ReadByte();
    EXPECT_EQ(host.Messages().size(), 2u);
}

// "Stop and close" or a reconnect closes the port under a read in flight:
// the failed read is no fault of the line, and nothing is shown or thrown.
TEST_F(HuntTest, ReadFailingBecauseThePortWasClosedIsQuiet)
{
    const auto close_under_the_read = [this] {
        port->on_read = [this] {
            port->on_read = nullptr;
            ClosePort();
            port->fail_reads = true;
        };
    };
    close_under_the_read();
    EXPECT_EQ(ReadByte(), 0u);
    PortHandle.Set(port);
    close_under_the_read();
    const BlockRead closed = ReadBlock(4);
    EXPECT_EQ(closed.Count, 0u);
    EXPECT_FALSE(closed.Failure);
    EXPECT_TRUE(host.Messages().empty());
    // A read failing on the port still open is the line's fault.
    PortHandle.Set(port);
    EXPECT_EQ(ReadByte(), 0u);
    EXPECT_EQ(host.Messages().size(), 1u);
}

TEST_F(HuntTest, ReadByteKeepsWhatCameForTheDisplay)
{
    port->Feed({0x42});
    EXPECT_EQ(ReadByte(), 1u);
    EXPECT_EQ(ReceivedBytes(), Bytes{0x42});
    EXPECT_EQ(ReadByte(), 0u);
    EXPECT_TRUE(ReceivedBytes().empty());
    EXPECT_EQ(Reception.EmptyReads.load(), 1);
}

using BlockTest = EngineTest;

TEST_F(BlockTest, GoodBlockIsDeliveredAsIs)
{
    port->Feed({0x61, 0x62, 0x63, 0x26});
    ReplyDataRef b = ReadDataBlock(3).Data;
    ASSERT_EQ(b->size(), 65536u);
    EXPECT_EQ((*b)[0], 0x61);
    EXPECT_EQ((*b)[1], 0x62);
    EXPECT_EQ((*b)[2], 0x63);
    EXPECT_EQ((*b)[3], 0x26);
    EXPECT_EQ((*b)[4], 0x00);
}

TEST_F(BlockTest, BadCheckByteGivesZeros)
{
    port->Feed({0x61, 0x62, 0x63, 0x27});
    ReplyDataRef b = ReadDataBlock(3).Data;
    EXPECT_EQ(Bytes(b->begin(), b->begin() + 4), (Bytes{0, 0, 0, 0}));
}

TEST_F(BlockTest, EmptyBlockReadsExactlyItsCheckByte)
{
    port->Feed({0x00, 0x99});
    ReplyDataRef b = ReadDataBlock(0).Data;
    EXPECT_EQ((*b)[0], 0x00);
    EXPECT_EQ(port->Pending(), 1u);
    EXPECT_EQ(port->Reads(), 1);
}

TEST_F(BlockTest, ShortReadLeavesZerosInTheMissingPlaces)
{
    // Two of three data bytes and no check byte: the check fails on the
    // zeros, so the whole block is zeros; nothing past it is touched.
    port->Feed({0x10, 0x20});
    ReplyDataRef b = ReadDataBlock(3).Data;
    EXPECT_EQ(Bytes(b->begin(), b->begin() + 5), (Bytes{0, 0, 0, 0, 0}));
    // Bytes that happen to sum to a zero check byte survive a short read.
    port->Feed({0x80, 0x80});
    b = ReadDataBlock(3).Data;
    EXPECT_EQ(Bytes(b->begin(), b->begin() + 4), (Bytes{0x80, 0x80, 0, 0}));
}

TEST_F(BlockTest, FailedReadEndsTheBlockWithTheFailure)
{
    port->fail_reads = true;
    const DataBlockRead b = ReadDataBlock(3);
    EXPECT_EQ(b.Data, nullptr);
    EXPECT_EQ(b.Failure, (ReadFailure{PortErrorKind::kReadFailed, "Error reading port"}));
    EXPECT_TRUE(host.Messages().empty()); // shown by whoever asked, not here
}

} // namespace
} // namespace chronavel::test

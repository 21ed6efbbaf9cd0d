#include "link/frames.h"
#include "support/fake_port.h"

#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

using namespace chronavel;
using Bytes = std::vector<uint8_t>;

namespace {

// The worked examples of the protocol, byte for byte.
TEST(FrameExamples, ReadRegister4DOfClock1)
{
    EXPECT_EQ(BuildShortFrame(0x01, 0x74, 0x4D, 0x00),
              (Bytes{0x00, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA2}));
}

TEST(FrameExamples, Write80IntoRegister4DOfClock1)
{
    EXPECT_EQ(BuildShortFrame(0x01, 0x72, 0x4D, 0x80),
              (Bytes{0x00, 0xE0, 0x00, 0x01, 0x72, 0x4D, 0x80, 0x22, 0x20}));
}

TEST(FrameExamples, LinkCheckToClock5)
{
    EXPECT_EQ(BuildShortFrame(0x05, 0x80, 0x00, 0x00),
              (Bytes{0x00, 0xE0, 0x00, 0x05, 0x80, 0x00, 0x00, 0x66, 0x65}));
}

TEST(FrameExamples, DataFrameWithAbcToClock1)
{
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(BuildDataFrame(0x01, 0x70, 0x00, 0x03, abc),
              (Bytes{0x00, 0x00, 0xE0, 0x00, 0x01, 0x70, 0x00, 0x03, 0x55, 0x54, 0x61, 0x62, 0x63,
                     0x26}));
}

TEST(FrameExamples, BroadcastIsBuiltLikeAnyAddress)
{
    EXPECT_EQ(BuildShortFrame(kBroadcast, 0x74, 0x4D, 0x00),
              (Bytes{0x00, 0xE0, 0x00, 0xFF, 0x74, 0x4D, 0x00, 0xA2, 0xA0}));
    // Time and date 12:34:56, Wednesday 15.06.24.
    const uint8_t time[] = {0x56, 0x34, 0x12, 0x04, 0x15, 0x06, 0x24};
    EXPECT_EQ(BuildDataFrame(kBroadcast, kCmdSetTime, 0x00, 0x07, time),
              (Bytes{0x00, 0x00, 0xE0, 0x00, 0xFF, 0x70, 0x00, 0x07, 0x58, 0x56, 0x56, 0x34, 0x12,
                     0x04, 0x15, 0x06, 0x24, 0xDF}));
}

TEST(FrameExamples, ZeroLengthDataFrameIsElevenBytesEndingInZero)
{
    const Bytes f = BuildDataFrame(0x01, 0x70, 0x00, 0x00, nullptr);
    EXPECT_EQ(f, (Bytes{0x00, 0x00, 0xE0, 0x00, 0x01, 0x70, 0x00, 0x00, 0x52, 0x51, 0x00}));
}

TEST(CheckBytes, HighByteEntersOnlyTheFirstCheckByte)
{
    EXPECT_EQ(CheckByte1(0x01A2), 0xA3);
    EXPECT_EQ(CheckByte2(0x01A2), 0xA2);
    EXPECT_EQ(CheckByte1(0x00A2), 0xA2);
    EXPECT_EQ(CheckByte2(0x00A2), 0xA2);
    EXPECT_EQ(CheckByte1(0xFFFF), 0xFE); // (0xFF + 0xFF) mod 256
}

TEST(CalcSum, TwoByteFormOverAHeader)
{
    uint8_t buf[] = {0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0x11, 0x11, 0x77};
    CalcSum(buf, 0, 5, 6, 2);
    EXPECT_EQ(buf[6], 0xA3);
    EXPECT_EQ(buf[7], 0xA2);
    EXPECT_EQ(buf[8], 0x77); // nothing else changes
}

TEST(CalcSum, OneByteFormWritesOneByte)
{
    uint8_t buf[] = {0x61, 0x62, 0x63, 0x00, 0x77};
    CalcSum(buf, 0, 3, 3, 1);
    EXPECT_EQ(buf[3], 0x26);
    EXPECT_EQ(buf[4], 0x77);
}

TEST(CalcSum, EmptyRangeSumsToZero)
{
    uint8_t buf[] = {0x55, 0x66, 0x99, 0x99};
    CalcSum(buf, 1, 0, 2, 2);
    EXPECT_EQ(buf[2], 0x00);
    EXPECT_EQ(buf[3], 0x00);
    CalcSum(buf, 1, 0, 0, 1);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], 0x66);
}

TEST(CalcSum, SumWrapsAt65536BeforeTheCheckBytesAreTaken)
{
    // 258 bytes of 0xFF sum to 65,790, which wraps to 0x00FE; without the
    // wrap the first check byte would be FF.
    Bytes buf(260, 0xFF);
    CalcSum(buf.data(), 0, 257, 258, 2);
    EXPECT_EQ(buf[258], 0xFE);
    EXPECT_EQ(buf[259], 0xFE);
    EXPECT_EQ(SumBytes(buf.data(), 258), 0x00FE);

    // The one-byte form is the low byte either way: 300 * 0xFF = 0x12AD4.
    Bytes more(301, 0xFF);
    more[300] = 0;
    CalcSum(more.data(), 0, 300, 300, 1);
    EXPECT_EQ(more[300], 0xD4);
}

TEST(CalcSum, IndicesReachTheTopOfTheSixteenBitRange)
{
    Bytes buf(65536, 0x01);
    CalcSum(buf.data(), 0, 65533, 65534, 2);
    // 65,534 ones: 0xFFFE.
    EXPECT_EQ(buf[65534], 0xFD);
    EXPECT_EQ(buf[65535], 0xFE);
}

TEST(DataFrame, LongestFrameFillsSixtyFourKilobytes)
{
    Bytes data(kMaxDataLength, 0xFF);
    const Bytes f = BuildDataFrame(0x01, 0x70, 0xFF, 0xF5, data.data());
    ASSERT_EQ(f.size(), 65536u);
    EXPECT_EQ(f[8], 0x48);
    EXPECT_EQ(f[9], 0x45);
    // 65,525 * 0xFF wraps many times; the check byte is its low byte.
    EXPECT_EQ(f.back(), 0x0B);
}

TEST(DataFrame, TooLongIsRefusedAndNothingIsWritten)
{
    Bytes data(kMaxDataLength + 1, 0x00);
    EXPECT_TRUE(BuildDataFrame(0x01, 0x70, 0xFF, 0xF6, data.data()).empty());
    test::FakePort port;
    EXPECT_FALSE(WriteDataFrame(port, 0x01, 0x70, 0xFF, 0xF6, data.data()));
    EXPECT_EQ(port.WriteCount(), 0u);
}

TEST(DataFrame, CheckByteCoversOnlyTheData)
{
    const uint8_t data[] = {0x10, 0x20, 0x30};
    const Bytes f = BuildDataFrame(0x02, 0x70, 0x00, 0x03, data);
    ASSERT_EQ(f.size(), 14u);
    EXPECT_EQ(f.back(), 0x60);
    EXPECT_EQ(SumBytes(f.data() + 2, 6), 0x0155);
    EXPECT_EQ(f[8], CheckByte1(0x0155));
    EXPECT_EQ(f[9], CheckByte2(0x0155));
}

TEST(FrameWriters, ShortFramePurgesThenWritesOnce)
{
    test::FakePort port;
    int purges_at_write = -1;
    port.on_write = [&](const Bytes&) { purges_at_write = port.Purges(); };
    WriteShortFrame(port, 0x05, kCmdLinkCheck, 0x00, 0x00);
    EXPECT_EQ(purges_at_write, 1);
    EXPECT_EQ(port.Purges(), 1);
    ASSERT_EQ(port.WriteCount(), 1u);
    EXPECT_EQ(port.Writes()[0], (Bytes{0x00, 0xE0, 0x00, 0x05, 0x80, 0x00, 0x00, 0x66, 0x65}));
}

TEST(FrameWriters, DataFramePurgesThenWritesOnceAndLeavesTheDataAlone)
{
    test::FakePort port;
    int purges_at_write = -1;
    port.on_write = [&](const Bytes&) { purges_at_write = port.Purges(); };
    uint8_t abc[] = {'a', 'b', 'c'};
    WriteDataFrame(port, 0x01, kCmdSetTime, 0x00, 0x03, abc);
    EXPECT_EQ(purges_at_write, 1);
    ASSERT_EQ(port.WriteCount(), 1u);
    EXPECT_EQ(port.Writes()[0], (Bytes{0x00, 0x00, 0xE0, 0x00, 0x01, 0x70, 0x00, 0x03, 0x55, 0x54,
                                       0x61, 0x62, 0x63, 0x26}));
    EXPECT_EQ(abc[0], 'a');
    EXPECT_EQ(abc[2], 'c');
}

TEST(FrameWriters, ZeroLengthDataFrameGoesOut)
{
    test::FakePort port;
    WriteDataFrame(port, 0x01, 0x70, 0x00, 0x00, nullptr);
    ASSERT_EQ(port.WriteCount(), 1u);
    EXPECT_EQ(port.Writes()[0].size(), 11u);
    EXPECT_EQ(port.Writes()[0].back(), 0x00);
}

// Write returns once the bytes are queued; every frame writer waits until
// they have left the port, so the next frame's purge cannot cut it off.
class OrderPort : public test::FakePort {
public:
    bool Purge() override
    {
        events.push_back('p');
        return FakePort::Purge();
    }
    bool Write(const uint8_t* buf, size_t n) override
    {
        events.push_back('w');
        return FakePort::Write(buf, n);
    }
    bool Drain() override
    {
        events.push_back('d');
        return true;
    }
    std::string events;
};

TEST(FrameWriters, EveryFrameHasLeftThePortBeforeTheWriterReturns)
{
    OrderPort port;
    const uint8_t seven[7] = {};
    WriteShortFrame(port, 0x05, kCmdLinkCheck, 0x00, 0x00);
    WriteDataFrame(port, 0x01, kCmdSetTime, 0x00, 0x07, seven);
    WriteShortFrame(port, 0x05, kCmdReadRegister, 0x4D, 0x00);
    EXPECT_EQ(port.events, "pwdpwdpwd");
}

TEST(HasDataBlock, ExactlyTheFourDataReplies)
{
    for (int c = 0; c < 256; ++c) {
        const bool expected = c == 0x52 || c == 0x53 || c == 0x73 || c == 0x81;
        EXPECT_EQ(HasDataBlock(static_cast<uint8_t>(c)), expected) << c;
    }
}

} // namespace

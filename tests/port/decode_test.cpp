#include "app/core_state.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "port/decode.h"
#include "port/display.h"
#include "port/port.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

namespace chronavel {
namespace {

using test::FakePort;
using test::RecorderHost;

std::vector<uint8_t> Header(uint8_t addr, uint8_t addr2, uint8_t cmd, uint8_t p1, uint8_t p2)
{
    std::vector<uint8_t> f{0x00, kSync, addr, addr2, cmd, p1, p2};
    uint16_t sum = SumBytes(f.data() + 1, 6);
    f.push_back(CheckByte1(sum));
    f.push_back(CheckByte2(sum));
    return f;
}

std::vector<uint8_t> Block(uint8_t addr, uint8_t cmd, const std::vector<uint8_t>& data)
{
    auto f = Header(addr, 0, cmd, 0, static_cast<uint8_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(static_cast<uint8_t>(SumBytes(data.data(), data.size()) & 0xFF));
    return f;
}

class DecodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        PortHandle.Set(port);
    }
    void TearDown() override { ResetCoreState(); }
    void Decode(const std::vector<uint8_t>& bytes)
    {
        port->Feed(bytes);
        DecodeReply();
    }

    RecorderHost host;
    std::shared_ptr<FakePort> port = std::make_shared<FakePort>();
};

// --- Empty answers.

TEST_F(DecodeTest, EmptyAnswerKindsReportNoData)
{
    Decode(Header(1, 0, 0x00, 0, 0));
    ASSERT_EQ(host.Messages().size(), 1u);
    EXPECT_EQ(host.Messages()[0], "Данных нет!");

    host.Clear();
    Decode(Header(1, 0, 0x00, 0, 5));
    EXPECT_TRUE(host.Messages().empty());

    host.Clear();
    Decode(Header(1, 0, 0x28, 0, 0));
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Данных нет!"});
}

TEST_F(DecodeTest, EmptyDataBlockCarriesOnlyItsCheckByte)
{
    for (uint8_t cmd : {uint8_t{0x73}, uint8_t{0x81}}) {
        host.Clear();
        Decode(Block(1, cmd, {}));
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Данных нет!"}) << int(cmd);
        EXPECT_EQ(port->Pending(), 0u); // the check byte was read with it
    }
}

TEST_F(DecodeTest, NoHeaderNoEffectAndNoLineCheck)
{
    port->fail_status = true;
    Decode({0x12, 0x34, kSync, 0x01});
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(DecodeTest, LineStatusCheckedAfterEveryDecodedReply)
{
    port->fail_status = true;
    Decode(Header(1, 0, 0x74, 0x4F, 0x00));
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Ошибка соединения"});
    host.Clear();
    Decode(Header(1, 0, 0x99, 0, 0)); // unknown command: nothing else
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Ошибка соединения"});
}

// --- Single registers.

TEST_F(DecodeTest, MasterFlagsAnswerRecordsTheMaster)
{
    Decode(Header(7, 0, 0x74, 0x4D, 0x80));
    EXPECT_EQ(ClockSettings.MasterFlags.load(), 0x80);
    EXPECT_EQ(StoredMasterFlags(), 0x80);
    EXPECT_EQ(StoredMasterFlagsRecord().Addr, 7);
    EXPECT_EQ(MasterAddress.load(), 7);

    ResetDecodeState();
    Decode(Header(9, 0, 0x74, 0x4D, 0x05)); // a slave
    EXPECT_EQ(ClockSettings.MasterFlags.load(), 0x05);
    EXPECT_EQ(StoredMasterFlags(), 0x05);
    EXPECT_EQ(MasterAddress.load(), 0);
}

TEST_F(DecodeTest, UnknownRegisterAnd4FChangeNothing)
{
    ClockSettings.ClockAddr = 3;
    Decode(Header(1, 0, 0x74, 0x4F, 0x77));
    Decode(Header(1, 0, 0x74, 0x47, 0x77));
    EXPECT_EQ(ClockSettings.ClockAddr.load(), 3);
    EXPECT_EQ(ClockSettings.MasterFlags.load(), 0);
    EXPECT_EQ(ClockSettings.LowerLevel.load(), 0);
    EXPECT_EQ(ClockSettings.RegSE.load(), 0);
    EXPECT_EQ(MasterAddress.load(), 0);
}

TEST_F(DecodeTest, SixteenBitHalves)
{
    ClockSettings.DimOnTime = 0x1230;
    Decode(Header(1, 0, 0x74, 0x39, 0x07));
    EXPECT_EQ(ClockSettings.DimOnTime.load(), 0x0730);
    Decode(Header(1, 0, 0x74, 0x3A, 0x15));
    EXPECT_EQ(ClockSettings.DimOnTime.load(), 0x0715);
}

TEST_F(DecodeTest, FormatAndTextLengthRegisters)
{
    Decode(Header(1, 0, 0x74, 0xDA, 4));
    Decode(Header(1, 0, 0x74, 0xE5, 17));
    EXPECT_EQ(ClockSettings.FieldFormat[2].load(), 4);
    EXPECT_EQ(ClockSettings.TextLen[5].load(), 17);
}

// --- Status block.

// A status block and a register answer leave the same whole byte in Expo,
// so a settings save that follows a status block never sees a changed value
// (and writes 3 over the clock's 37); only the display reads the digits.
TEST_F(DecodeTest, TemperatureRegisterKeepsTheWholeByte)
{
    Decode(Header(1, 0, 0x74, 0x2B, 37));
    EXPECT_EQ(ClockSettings.Expo[3].load(), 37);

    std::vector<uint8_t> block(60, 0);
    block[15] = 37;   // image index 16: register 0x2B
    block[55] = 0x12; // hours
    ClockSettings.FieldFormat[0] = 2;
    Decode(Block(1, 0x52, block));
    EXPECT_EQ(Registers.RegImage[16].load(), 37);
    EXPECT_EQ(ClockSettings.Expo[3].load(), 37);
    // The display: exposure 3 (tens), format 7 (units).
    EXPECT_EQ(ClockSettings.ExpoUnits[3].load(), 7);
    DisplayTick = 3;
    EXPECT_EQ(ChooseCurrentItem(), 3);
    DisplayTick = 4; // past the cycle of 3 s: a new one starts
    EXPECT_EQ(ChooseCurrentItem(), 3);
    EXPECT_EQ(DisplayTick.load(), 1);
}

TEST_F(DecodeTest, ShortStatusBlockKeepsTheRestOfTheImage)
{
    for (int k = 1; k < kImageSize; ++k)
        Registers.RegImage[k] = 0xAA;
    std::vector<uint8_t> block(64);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i);
    Decode(Block(1, 0x52, block));
    EXPECT_EQ(Registers.RegImage[0].load(), 0); // never written
    for (int k = 1; k <= 64; ++k)
        EXPECT_EQ(Registers.RegImage[k].load(), k - 1);
    for (int k = 65; k <= 100; ++k)
        EXPECT_EQ(Registers.RegImage[k].load(), 0xAA);
}

TEST_F(DecodeTest, LongStatusBlockFillsOnlyTheImage)
{
    std::vector<uint8_t> block(255, 0x5C);
    Decode(Block(1, 0x52, block));
    for (int k = 1; k <= 100; ++k)
        EXPECT_EQ(Registers.RegImage[k].load(), 0x5C);
    EXPECT_EQ(port->Pending(), 0u);
}

TEST_F(DecodeTest, StatusBlockSetsMasterActiveEvenWhenEmpty)
{
    MasterActive = 0;
    Decode(Block(1, 0x52, {}));
    EXPECT_EQ(MasterActive.load(), 1);
}

TEST_F(DecodeTest, StatusBlockWithBadCheckByteReadsAsZeros)
{
    Registers.RegImage[5] = 9;
    auto frame = Block(1, 0x52, {1, 2, 3, 4, 5});
    frame.back() ^= 0xFF;
    Decode(frame);
    EXPECT_EQ(Registers.RegImage[5].load(), 0);
}

TEST_F(DecodeTest, StatusBlockDrivesTheDisplay)
{
    std::vector<uint8_t> block(60, 0);
    block[9] = 5;     // Expo[0]
    block[55] = 0x09; // hours (image 56)
    block[54] = 0x05; // minutes (image 55)
    ClockSettings.FieldFormat[0] = 2;
    ClockSettings.FieldFormat[7] = 3;
    std::string shown;
    int rows = -1;
    SetClockDisplaySink([&](const std::string& s, const FieldRows&, int r) {
        shown = s;
        rows = r;
    });
    DisplayTick = 2;
    Decode(Block(1, 0x52, block));
    EXPECT_EQ(host.Syncs(), 1);
    EXPECT_EQ(shown, "09.05");
    EXPECT_EQ(rows, 1);
}

TEST_F(DecodeTest, DisplayFailureIsIgnored)
{
    SetClockDisplaySink(
        [](const std::string&, const FieldRows&, int) { throw std::runtime_error("window gone"); });
    Decode(Block(1, 0x52, std::vector<uint8_t>(60, 0)));
    EXPECT_EQ(MasterActive.load(), 1);
    // The exchange carries on with the next reply.
    Decode(Header(1, 0, 0x74, 0x4C, 0x21));
    EXPECT_EQ(ClockSettings.ClockAddr.load(), 0x21);
}

// --- Text block.

TEST_F(DecodeTest, TextBlockExample)
{
    Decode(Block(1, 0x53, {2, 5, 2, 3, 5, 4, 4, 5, 3, 2, 1, 0x6D, 0x3F, 0x40}));
    auto t = CurrentTextBlock();
    EXPECT_EQ(t.TextCount, 2);
    const uint8_t formats[] = {5, 2, 3, 5, 4, 4, 5, 3};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ClockSettings.FieldFormat[i].load(), formats[i]);
    EXPECT_EQ(ClockSettings.TextLen[0].load(), 2);
    EXPECT_EQ(ClockSettings.TextLen[1].load(), 1);
    EXPECT_EQ(t.ClockTexts, (std::vector<std::string>{"50", "-"}));
    EXPECT_EQ(t.TextBlock[14], 0x40);
}

TEST_F(DecodeTest, TextsThatRunPastTheBlockAreNotRead)
{
    ClockSettings.TextLen[1] = 99;
    // Two texts announced; the second claims 9 bytes of which 1 arrived.
    Decode(Block(1, 0x53, {2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 9, 0x06, 0x5B}));
    auto t = CurrentTextBlock();
    EXPECT_EQ(t.TextCount, 2);
    EXPECT_EQ(t.ClockTexts, std::vector<std::string>{"1"});
    EXPECT_EQ(ClockSettings.TextLen[0].load(), 1);
    EXPECT_EQ(ClockSettings.TextLen[1].load(), 99); // the text that did not fit
}

TEST_F(DecodeTest, AtMostThirtyTwoTexts)
{
    // 40 texts announced, each of length 1: 9 + 40 + 40 bytes.
    std::vector<uint8_t> block{40, 0, 0, 0, 0, 0, 0, 0, 0};
    block.insert(block.end(), 40, 1);
    block.insert(block.end(), 40, 0x3F);
    Decode(Block(1, 0x53, block));
    auto t = CurrentTextBlock();
    EXPECT_EQ(t.TextCount, 40);
    EXPECT_EQ(t.ClockTexts.size(), 32u);
    for (int i = 0; i < kTextLenCount; ++i)
        EXPECT_EQ(ClockSettings.TextLen[i].load(), 1);
}

TEST_F(DecodeTest, LongTextBlockStoresOnlyItsPlaces)
{
    std::vector<uint8_t> block(255, 0);
    block[0] = 1;
    block[9] = 200; // one text far longer than the block image
    Decode(Block(1, 0x53, block));
    auto t = CurrentTextBlock();
    EXPECT_EQ(t.TextCount, 1);
    EXPECT_TRUE(t.ClockTexts.empty());
    EXPECT_EQ(ClockSettings.TextLen[0].load(), 0);
}

// --- Pending requests.

TEST_F(DecodeTest, ReplyReleasesTheRequestItAnswers)
{
    AddPending(StandardRequest(5, 0x74, 0x4D, 0));
    ASSERT_FALSE(PendingEmpty());
    // The second address byte differs; the command matches.
    Decode(Header(5, 0x33, 0x74, 0x4D, 0x00));
    EXPECT_TRUE(PendingEmpty());
}

TEST_F(DecodeTest, UnexpectedReplyIsDecodedAllTheSame)
{
    Decode(Header(5, 0, 0x74, 0x4C, 0x12));
    EXPECT_EQ(ClockSettings.ClockAddr.load(), 0x12);
}

// --- In the exchange loop.

TEST_F(DecodeTest, ExchangePassHandsTheReplyToTheDecoder)
{
    SetReplyDecoder(&DecodeReply);
    auto loop = TNewThread::CreateManual();
    AddPending(StandardRequest(1, 0x74, 0x4D, 0));
    port->Feed({0xFF}); // the byte that wakes the loop
    port->Feed(Header(1, 0, 0x74, 0x4D, 0x80));
    loop->RunPass();
    EXPECT_EQ(ClockSettings.MasterFlags.load(), 0x80);
    EXPECT_EQ(MasterAddress.load(), 1);
    EXPECT_TRUE(PendingEmpty());
    loop.reset();
    ResetExchangeState();
}

// --- Hostile input.

TEST_F(DecodeTest, ShortDeliveredBlockIsNeverReadPastItsEnd)
{
    std::vector<uint8_t> three{1, 2, 3};
    ApplyReply(1, 0x52, 0, 200, &three);
    EXPECT_EQ(Registers.RegImage[3].load(), 3);
    EXPECT_EQ(Registers.RegImage[4].load(), 0);
    ApplyReply(1, 0x53, 0, 200, &three);
    ApplyReply(1, 0x52, 0, 200, nullptr);
    ApplyReply(1, 0x53, 0, 200, nullptr);
}

TEST_F(DecodeTest, RandomBlocksStayInBounds)
{
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int n = 0; n < 100000; ++n) {
        const uint8_t cmd = (n % 2 == 0) ? 0x52 : 0x53;
        std::vector<uint8_t> data(static_cast<size_t>(byte(rng)));
        for (auto& b : data)
            b = static_cast<uint8_t>(byte(rng));
        // Text blocks announce a random count of short texts now and then, so
        // the walk gets far.
        if (cmd == 0x53 && !data.empty() && n % 3 == 0)
            data[0] = static_cast<uint8_t>(byte(rng) % 48);
        if (n % 10 == 0) {
            auto frame = Block(static_cast<uint8_t>(byte(rng)), cmd, data);
            if (n % 20 == 0)
                frame.back() ^= 0x01; // bad check byte: zeros
            Decode(frame);
        } else {
            const uint8_t announced = static_cast<uint8_t>(byte(rng));
            ApplyReply(1, cmd, 0, announced, &data);
        }
        auto t = CurrentTextBlock();
        ASSERT_LE(t.ClockTexts.size(), static_cast<size_t>(kTextLenCount));
        ASSERT_LE(t.ClockTexts.size(), static_cast<size_t>(t.TextCount));
        size_t chars = 0;
        for (const auto& s : t.ClockTexts)
            chars += s.size();
        ASSERT_LE(chars, static_cast<size_t>(kTextDataPlaces));
    }
    EXPECT_EQ(port->Pending(), 0u);
}

} // namespace
} // namespace chronavel

#include "app/core_state.h"
#include "config/registers.h"
#include "config/write_settings.h"
#include "link/frames.h"
#include "link/reception.h"
#include "port/port.h"
#include "port/sync.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace chronavel {
namespace {

using test::FakePort;
using test::RecorderHost;

constexpr uint8_t kTarget = 0x05;

struct RegWrite {
    uint8_t Reg;
    uint8_t Value;
    bool operator==(const RegWrite&) const = default;
};

std::ostream& operator<<(std::ostream& os, const RegWrite& w)
{
    return os << "{0x" << std::hex << int(w.Reg) << ", 0x" << int(w.Value) << std::dec << "}";
}

// A clock that answers every register write with the header of its echo,
// until it has answered `answers` of them.
class ClockOnTheLine {
public:
    explicit ClockOnTheLine(FakePort& port, int answers = 1 << 30) : answers_(answers)
    {
        port.on_write = [this, &port](const std::vector<uint8_t>& f) {
            if (f.size() < 7 || answers_ <= 0)
                return;
            --answers_;
            std::vector<uint8_t> h{0x00, kSync, f[3], 0x00, f[4], f[5], f[6]};
            uint16_t sum = SumBytes(h.data() + 1, 6);
            h.push_back(CheckByte1(sum));
            h.push_back(CheckByte2(sum));
            port.Feed(h);
        };
    }

private:
    int answers_;
};

class WriteSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        PortHandle.Set(port);
    }
    void TearDown() override { ResetCoreState(); }

    // The register writes that went out, in order.
    std::vector<RegWrite> Sent() const
    {
        std::vector<RegWrite> out;
        for (const auto& f : port->Writes()) {
            EXPECT_EQ(f.size(), kShortFrameSize);
            EXPECT_EQ(f[3], 0x05);
            EXPECT_EQ(f[4], kCmdWriteRegister);
            out.push_back({f[5], f[6]});
        }
        return out;
    }

    // What a save sends after the image and side registers, with the
    // variables all zero: formats, the first (zero) text length, address,
    // correction, master flags.
    static std::vector<RegWrite> FixedTail()
    {
        std::vector<RegWrite> w;
        for (int i = 0; i < 8; ++i)
            w.push_back({static_cast<uint8_t>(0xD8 + i), 0});
        w.push_back({0xE0, 0});
        w.push_back({0x4C, 0});
        w.push_back({0x51, 0});
        w.push_back({0x52, 0});
        w.push_back({0x4D, 0});
        return w;
    }

    RecorderHost host;
    std::shared_ptr<FakePort> port = std::make_shared<FakePort>();
};

TEST_F(WriteSettingsTest, NothingChangedWritesOnlyTheFixedRegisters)
{
    ClockOnTheLine clock(*port);
    Registers.RegImage[16] = 37;
    Registers.RegImage[39] = 5;
    ClockSettings.DimLevel = 3;
    ClockSettings.RegSE = 0x11;
    TakeImageSnapshot();
    EXPECT_EQ(WriteSettings(kTarget), WriteResult::kWritten);
    EXPECT_EQ(Sent(), FixedTail());
    EXPECT_EQ(NoAnswer.load(), 0);
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(WriteSettingsTest, NeverReceivedImageWritesEveryNonZeroEditThreeTimes)
{
    ClockOnTheLine clock(*port);
    TakeImageSnapshot();                             // all zero
    Registers.RegEdited[10] = 5;                     // 0x25
    Registers.RegEdited[27] = TimeZoneCode(24 + 11); // 0x37: +5.5
    Registers.RegEdited[34] = BcdPair(6, 5) >> 8;    // 0x3E
    Registers.RegEdited[35] = BcdPair(6, 5) & 0xFF;  // 0x3F
    Registers.RegEdited[39] = PercentCode(9);        // "100%": 0, unchanged
    WriteSettings(kTarget);
    std::vector<RegWrite> expected;
    for (RegWrite w :
         {RegWrite{0x25, 5}, RegWrite{0x37, 0x85}, RegWrite{0x3E, 0x06}, RegWrite{0x3F, 0x05}})
        expected.insert(expected.end(), 3, w);
    auto tail = FixedTail();
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Sent(), expected);
}

TEST_F(WriteSettingsTest, VolumeOfOneHundredPercentIsSentAsZero)
{
    ClockOnTheLine clock(*port);
    Registers.RegImage[39] = 5;
    TakeImageSnapshot();
    Registers.RegEdited[39] = PercentCode(9);
    WriteSettings(kTarget);
    auto sent = Sent();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0], (RegWrite{0x43, 0}));
}

TEST_F(WriteSettingsTest, TextLengthsUpToTheFirstZero)
{
    ClockOnTheLine clock(*port);
    TakeImageSnapshot();
    ClockSettings.TextLen[0] = 4;
    ClockSettings.TextLen[1] = 2;
    ClockSettings.TextLen[3] = 9; // after the zero: not sent
    WriteSettings(kTarget);
    auto sent = Sent();
    std::vector<RegWrite> lengths;
    for (auto w : sent)
        if (w.Reg >= 0xE0)
            lengths.push_back(w);
    EXPECT_EQ(lengths, (std::vector<RegWrite>{{0xE0, 4}, {0xE1, 2}, {0xE2, 0}}));
}

TEST_F(WriteSettingsTest, ThirtyTwoTextLengthsWriteExactlyE0ToFF)
{
    ClockOnTheLine clock(*port);
    TakeImageSnapshot();
    for (int i = 0; i < kTextLenCount; ++i)
        ClockSettings.TextLen[i] = static_cast<uint8_t>(i + 1);
    WriteSettings(kTarget);
    std::vector<uint8_t> regs;
    for (auto w : Sent())
        if (w.Reg >= 0xE0)
            regs.push_back(w.Reg);
    ASSERT_EQ(regs.size(), 32u);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(regs[i], 0xE0 + i);
}

TEST_F(WriteSettingsTest, CorrectionAddressAndMasterFlagsLast)
{
    ClockOnTheLine clock(*port);
    TakeImageSnapshot();
    ClockSettings.ClockAddr = 0x21;
    ClockSettings.DayCorrection = -59;
    ClockSettings.MasterFlags = 0x81;
    WriteSettings(kTarget);
    auto sent = Sent();
    ASSERT_GE(sent.size(), 4u);
    std::vector<RegWrite> last(sent.end() - 4, sent.end());
    EXPECT_EQ(last,
              (std::vector<RegWrite>{{0x4C, 0x21}, {0x51, 0xFF}, {0x52, 0xC5}, {0x4D, 0x81}}));

    port = std::make_shared<FakePort>();
    PortHandle.Set(port);
    ClockOnTheLine again(*port);
    ClockSettings.DayCorrection = 2;
    WriteSettings(kTarget);
    sent = Sent();
    EXPECT_EQ(sent[sent.size() - 3], (RegWrite{0x51, 0x00}));
    EXPECT_EQ(sent[sent.size() - 2], (RegWrite{0x52, 0x02}));
}

TEST_F(WriteSettingsTest, SideSettingsReachOnlyTheirOwnRegisterWhenChanged)
{
    ClockOnTheLine clock(*port);
    ClockSettings.DimLevel = 3;
    ClockSettings.NormLevel = 0;
    ClockSettings.LowerLevel = 40;
    ClockSettings.RegSE = 0x11;
    Registers.RegImage[40] = 3; // the image holds 0x44 and 0x45 too
    Registers.RegImage[41] = 0;
    TakeImageSnapshot();

    ClockSettings.DimLevel = 7;
    ClockSettings.RegSE = 0x12;
    WriteSettings(kTarget);
    auto tail = FixedTail();
    std::vector<RegWrite> expected{{0x44, 7}, {0x50, 0x12}};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Sent(), expected);

    port = std::make_shared<FakePort>();
    PortHandle.Set(port);
    ClockOnTheLine again(*port);
    TakeImageSnapshot();
    ClockSettings.NormLevel = 1;
    ClockSettings.LowerLevel = 41;
    WriteSettings(kTarget);
    expected = {{0x45, 1}, {0x4E, 41}};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Sent(), expected);
}

TEST_F(WriteSettingsTest, NoAnswerAlreadySetSendsNothing)
{
    ClockOnTheLine clock(*port);
    TakeImageSnapshot();
    Registers.RegEdited[10] = 5;
    NoAnswer = 1;
    EXPECT_EQ(WriteSettings(kTarget), WriteResult::kNoAnswer);
    EXPECT_TRUE(port->Writes().empty());
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(WriteSettingsTest, SilentClockStopsTheSaveAtTheFirstRegister)
{
    TakeImageSnapshot();
    Registers.RegEdited[10] = 5;
    EXPECT_EQ(WriteSettings(kTarget), WriteResult::kNoAnswer);
    // Three frames for the one unanswered transaction, then nothing more.
    auto sent = Sent();
    EXPECT_EQ(sent, std::vector<RegWrite>(3, RegWrite{0x25, 5}));
    EXPECT_EQ(NoAnswer.load(), 1);
    ASSERT_EQ(host.Messages().size(), 1u);
    EXPECT_EQ(host.Messages()[0], "Информация от устройства $05 не поступает!");
}

TEST_F(WriteSettingsTest, ClockThatFallsSilentMidwayStopsTheRest)
{
    ClockOnTheLine clock(*port, 3); // answers the first three formats only
    TakeImageSnapshot();
    WriteSettings(kTarget);
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u + 5u); // three answered, then five tries at 0xDB
    EXPECT_EQ(sent.back(), (RegWrite{0xDB, 0}));
    EXPECT_EQ(NoAnswer.load(), 1);
}

// Replies carry each clock's own address, so a save to all clocks could never
// be answered (it would resend for good) and would give every clock the same
// address: it is refused before anything is sent, also with a clock that
// answers everything.
TEST_F(WriteSettingsTest, SaveToAllClocksIsRefusedAndSendsNothing)
{
    ClockOnTheLine clock(*port);
    TakeImageSnapshot();
    Registers.RegEdited[10] = 5;
    ClockSettings.ClockAddr = 0x07;
    EXPECT_EQ(WriteSettings(0xFF), WriteResult::kAllClocksRefused);
    EXPECT_TRUE(port->Writes().empty());
    EXPECT_EQ(NoAnswer.load(), 0);
    EXPECT_TRUE(host.Messages().empty());
}

} // namespace
} // namespace chronavel

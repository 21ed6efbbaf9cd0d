#include "app/core_state.h"
#include "config/register_values.h"
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
#include <optional>
#include <string>
#include <utility>
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
            if (f.size() < 7 || answers_ <= 0 || (addr_ >= 0 && f[3] != addr_))
                return;
            --answers_;
            if (addr_ >= 0 && f[4] == kCmdWriteRegister && f[5] == 0x4C)
                addr_ = f[6]; // moves once it has answered

            std::vector<uint8_t> h{0x00, kSync, f[3], 0x00, f[4], f[5], f[6]};
            uint16_t sum = SumBytes(h.data() + 1, 6);
            h.push_back(CheckByte1(sum));
            h.push_back(CheckByte2(sum));
            port.Feed(h);
        };
    }

    // From now on it answers only at its own address, and moves.
    void AnswerOnlyAt(uint8_t addr) { addr_ = addr; }

private:
    int answers_;
    int addr_ = -1;
};

class WriteSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        PortHandle.Set(port);
        for (uint8_t reg : ReadBatchRegisters())
            clock.Set(reg, 0);
        clock.Set(0x4C, kTarget);
    }
    void TearDown() override { ResetCoreState(); }

    // The register writes that went out, in order.
    std::vector<RegWrite> Sent() const
    {
        std::vector<RegWrite> out;
        for (const auto& f : port->Writes()) {
            EXPECT_EQ(f.size(), kShortFrameSize);
            if (f[4] != kCmdWriteRegister)
                continue;
            EXPECT_EQ(f[3], 0x05);
            out.push_back({f[5], f[6]});
        }
        return out;
    }

    // What a save sends after the image and side registers: formats, the
    // text lengths up to the first zero, correction, master flags, address.
    std::vector<RegWrite> FixedTail() const
    {
        std::vector<RegWrite> w;
        for (int i = 0; i < 8; ++i)
            w.push_back(
                {static_cast<uint8_t>(0xD8 + i), chosen.At(static_cast<uint8_t>(0xD8 + i))});
        for (int i = 0; i < 32; ++i) {
            const auto reg = static_cast<uint8_t>(0xE0 + i);
            w.push_back({reg, chosen.At(reg)});
            if (chosen.At(reg) == 0)
                break;
        }
        for (uint8_t reg : {0x51, 0x52, 0x4D, 0x4C})
            w.push_back({reg, chosen.At(reg)});
        return w;
    }
    WriteOutcome Save(uint8_t target = kTarget)
    {
        return WriteSettings(target, PlanSave(clock, chosen));
    }

    RecorderHost host;
    std::shared_ptr<FakePort> port = std::make_shared<FakePort>();
    RegisterValues clock;  // what the clock answered
    RegisterValues chosen; // what the save is to carry
};

TEST_F(WriteSettingsTest, NothingChangedWritesOnlyTheFixedRegistersWithThisClocksValues)
{
    ClockOnTheLine line(*port);
    const std::pair<uint8_t, uint8_t> held[] = {
        {0x2B, 37}, {0x43, 5}, {0x44, 3},    {0x50, 0x11}, {0xD8, 5},   {0xDF, 3},
        {0xE0, 9},  {0xE1, 4}, {0x4D, 0x5A}, {0x51, 0xFF}, {0x52, 0xFD}};
    for (auto [reg, value] : held)
        clock.Set(reg, value);
    chosen = clock;
    EXPECT_EQ(Save().Result, WriteResult::kWritten);
    EXPECT_EQ(Sent(), FixedTail());
    EXPECT_EQ(Sent().back(), (RegWrite{0x4C, kTarget}));
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(WriteSettingsTest, ChangedImageRegistersThreeTimesSideRegistersOnce)
{
    ClockOnTheLine line(*port);
    chosen = clock;
    chosen.Set(0x25, 5);
    chosen.Set(0x37, TimeZoneCode(24 + 11)); // +5.5
    chosen.Set(0x3E, 0x06);
    chosen.Set(0x3F, 0x05);
    chosen.Set(0x43, PercentCode(9)); // "100%": 0, unchanged
    chosen.Set(0x44, 7);
    chosen.Set(0x50, 0x12);
    Save();
    std::vector<RegWrite> expected;
    for (RegWrite w :
         {RegWrite{0x25, 5}, RegWrite{0x37, 0x85}, RegWrite{0x3E, 0x06}, RegWrite{0x3F, 0x05}})
        expected.insert(expected.end(), 3, w);
    expected.push_back({0x44, 7});
    expected.push_back({0x50, 0x12});
    auto tail = FixedTail();
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Sent(), expected);
}

TEST_F(WriteSettingsTest, TextLengthsUpToTheFirstZero)
{
    ClockOnTheLine line(*port);
    clock.Set(0xE0, 4);
    clock.Set(0xE1, 2);
    clock.Set(0xE3, 9); // after the zero: not sent
    chosen = clock;
    Save();
    std::vector<RegWrite> lengths;
    for (auto w : Sent())
        if (w.Reg >= 0xE0)
            lengths.push_back(w);
    EXPECT_EQ(lengths, (std::vector<RegWrite>{{0xE0, 4}, {0xE1, 2}, {0xE2, 0}}));

    port = std::make_shared<FakePort>();
    PortHandle.Set(port);
    ClockOnTheLine again(*port);
    for (int i = 0; i < kTextLenCount; ++i)
        clock.Set(static_cast<uint8_t>(0xE0 + i), static_cast<uint8_t>(i + 1));
    chosen = clock;
    Save();
    std::vector<uint8_t> regs;
    for (auto w : Sent())
        if (w.Reg >= 0xE0)
            regs.push_back(w.Reg);
    ASSERT_EQ(regs.size(), 32u);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(regs[i], 0xE0 + i);
}

// A register the save must write with no answer from this clock and no
// choice of the operator refuses the whole save: nothing is sent.
TEST_F(WriteSettingsTest, UnknownFixedRegistersRefuseTheSave)
{
    ClockOnTheLine line(*port);
    struct Case {
        const char* Name;
        std::vector<uint8_t> Unanswered;
        std::vector<uint8_t> Missing;
    };
    const Case cases[] = {
        {"address", {0x4C}, {0x4C}},
        {"a format and the correction", {0xD9, 0x52}, {0xD9, 0x52}},
        {"a text length before the end", {0xE1}, {0xE1}},
        {"the master flags", {0x4D}, {0x4D}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        RegisterValues answered = clock;
        answered.Set(0xE0, 3);
        answered.Set(0xE1, 0);
        for (uint8_t reg : c.Unanswered)
            answered.Forget(reg);
        const SavePlan plan = PlanSave(answered, answered);
        EXPECT_EQ(plan.Missing, c.Missing);
        EXPECT_TRUE(plan.Refused());
        const std::string text = RefusalText(plan);
        EXPECT_NE(text.find(RegisterList(c.Missing)), std::string::npos) << text;
        EXPECT_NE(text.find("Прочитайте настройки"), std::string::npos) << text;
        EXPECT_EQ(WriteSettings(kTarget, plan).Result, WriteResult::kRefused);
        EXPECT_TRUE(port->Writes().empty());
    }
    // An unread image register the operator did not set is simply not
    // written; 0xFF as the clock's address is refused.
    RegisterValues answered = clock;
    answered.Forget(0x43);
    EXPECT_FALSE(PlanSave(answered, answered).Refused());
    RegisterValues to_all = clock;
    to_all.Set(0x4C, 0xFF);
    EXPECT_TRUE(PlanSave(clock, to_all).AddressRefused);
    EXPECT_NE(RefusalText(PlanSave(clock, to_all)).find("$FF"), std::string::npos);
}

// Clocks at their addresses as a moving clock sees the line: each answers
// its own frames (reads with its value), the one being set moves when 0x4C
// is written unless told otherwise.
class MovingLine {
public:
    struct Setup {
        bool refuses_move = false;    // answers the write but stays
        bool silent_4c_reads = false; // leaves reads of 0x4C unanswered
        bool gone_after_move = false; // answers nowhere after the write
        int other_clock = -1;         // another clock already on the line
    };
    MovingLine(FakePort& port, uint8_t addr, Setup setup) : addr_(addr), setup_(setup)
    {
        port.on_write = [this, &port](const std::vector<uint8_t>& f) {
            if (f.size() != kShortFrameSize)
                return;
            const uint8_t to = f[3], cmd = f[4], p1 = f[5], p2 = f[6];
            int here = -1;
            if (addr_ >= 0 && to == addr_)
                here = addr_;
            else if (setup_.other_clock >= 0 && to == setup_.other_clock)
                here = setup_.other_clock;
            if (here < 0)
                return;
            uint8_t value = p2;
            if (cmd == kCmdReadRegister) {
                if (p1 == kRegClockAddr && here == addr_ && setup_.silent_4c_reads)
                    return;
                value = p1 == kRegClockAddr ? static_cast<uint8_t>(here) : 0;
            }
            port.Feed(ReplyBytes(static_cast<uint8_t>(here), cmd, p1, value));
            if (here == addr_ && cmd == kCmdWriteRegister && p1 == kRegClockAddr &&
                !setup_.refuses_move)
                addr_ = setup_.gone_after_move ? -1 : p2;
        };
    }

private:
    static std::vector<uint8_t> ReplyBytes(uint8_t from, uint8_t cmd, uint8_t p1, uint8_t p2)
    {
        std::vector<uint8_t> h{0x00, kSync, from, 0x00, cmd, p1, p2};
        const uint16_t sum = SumBytes(h.data() + 1, 6);
        h.push_back(CheckByte1(sum));
        h.push_back(CheckByte2(sum));
        return h;
    }
    int addr_;
    Setup setup_;
};

// A move is written only to a free address, and followed only once the old
// address is silent and the new one answers; a 0x4C that was never read is
// judged against the address the clock was reached at.
TEST_F(WriteSettingsTest, AddressChangeIsFollowedOnlyWhenTheClockIsFoundThere)
{
    constexpr uint8_t kNew = 0x21;
    struct Case {
        const char* what;
        MovingLine::Setup setup;
        bool read_4c; // the read batch had 0x4C
        WriteResult result;
        uint8_t address;
        bool writes; // any register write went out
        const char* text;
    } cases[] = {
        {"moves", {}, true, WriteResult::kWritten, kNew, true, ""},
        {"0x4C never read, still moves",
         {.silent_4c_reads = true},
         false,
         WriteResult::kWritten,
         kNew,
         true,
         ""},
        {"new address taken",
         {.other_clock = kNew},
         true,
         WriteResult::kAddressTaken,
         kTarget,
         false,
         "занят"},
        {"refuses the move",
         {.refuses_move = true},
         true,
         WriteResult::kNotMoved,
         kTarget,
         true,
         "прежнем адресе"},
        {"gone after the write",
         {.gone_after_move = true},
         true,
         WriteResult::kMoveUnconfirmed,
         kTarget,
         true,
         "ни по новому"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetCoreState();
        port = std::make_shared<FakePort>();
        PortHandle.Set(port);
        MovingLine line(*port, kTarget, c.setup);
        RegisterValues read = clock;
        if (!c.read_4c)
            read.Forget(kRegClockAddr);
        BeginReadBatch(kTarget);
        for (uint8_t reg : read.Known())
            RecordRegisterAnswer(kTarget, reg, read.At(reg));
        chosen = read;
        chosen.Set(0x4C, kNew);
        chosen.Set(0x52, 0xC5);
        const WriteOutcome out = WriteSettings(kTarget, PlanSave(read, chosen));
        EXPECT_EQ(out.Result, c.result);
        EXPECT_EQ(out.Address, c.address);
        EXPECT_EQ(!Sent().empty(), c.writes);
        if (c.writes) {
            EXPECT_EQ(Sent().back(), (RegWrite{0x4C, kNew}));
        }
        EXPECT_NE(OutcomeText(kTarget, out).find(c.text), std::string::npos);
        // The record follows the clock only when it was found there.
        EXPECT_EQ(AnsweredBy(kNew).Get(0x52).has_value(), c.address == kNew);
    }
}

TEST_F(WriteSettingsTest, AnEarlierUnansweredSaveDoesNotStopTheNext)
{
    chosen = clock;
    EXPECT_EQ(Save().Result, WriteResult::kNoAnswer);
    ClockOnTheLine line(*port);
    EXPECT_EQ(Save().Result, WriteResult::kWritten);
}

TEST_F(WriteSettingsTest, SilentClockStopsTheSaveAtTheFirstRegister)
{
    chosen = clock;
    chosen.Set(0x25, 5);
    port->error_word = platform::kFrame;
    const WriteOutcome out = Save();
    EXPECT_EQ(out.Result, WriteResult::kNoAnswer);
    EXPECT_EQ(out.Unanswered, std::optional<uint8_t>(0x25));
    // Three frames for the one unanswered transaction, then nothing more.
    EXPECT_EQ(Sent(), std::vector<RegWrite>(3, RegWrite{0x25, 5}));
    // Told by the caller, the silence first and then the line's status.
    EXPECT_TRUE(host.Messages().empty());
    EXPECT_EQ(out.Told,
              (std::vector<LineNotice>{{false, "Информация от устройства $05 не поступает!"},
                                       {false, LineErrorMessage(platform::kFrame)}}));
    const std::string text = OutcomeText(kTarget, out);
    EXPECT_NE(text.find("0x25"), std::string::npos) << text;
}

TEST_F(WriteSettingsTest, ClockThatFallsSilentMidwayStopsTheRest)
{
    ClockOnTheLine line(*port, 3); // answers the first three formats only
    chosen = clock;
    EXPECT_EQ(Save().Unanswered, std::optional<uint8_t>(0xDB));
    auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u + 5u); // three answered, then five tries at 0xDB
    EXPECT_EQ(sent.back(), (RegWrite{0xDB, 0}));
}

// Replies carry each clock's own address, so a save to all clocks could never
// be answered (it would resend for good) and would give every clock the same
// address: it is refused before anything is sent, also with a clock that
// answers everything.
TEST_F(WriteSettingsTest, SaveToAllClocksIsRefusedAndSendsNothing)
{
    ClockOnTheLine line(*port);
    chosen = clock;
    chosen.Set(0x25, 5);
    EXPECT_EQ(Save(0xFF).Result, WriteResult::kAllClocksRefused);
    EXPECT_TRUE(port->Writes().empty());
    EXPECT_TRUE(host.Messages().empty());
}

} // namespace
} // namespace chronavel

// The settings read and save against simulated clocks on a pseudo-terminal,
// as the field has them: a master streaming status and text blocks beside
// the clock being set, non-zero settings in every register the batch reads,
// and reads that go unanswered.
#include "app/core_state.h"
#include "app/main_logic.h"
#include "app/service_commands.h"
#include "config/register_values.h"
#include "config/registers.h"
#include "config/settings_form.h"
#include "config/write_settings.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "link/switch_master.h"
#include "port/port.h"
#include "port/sync.h"
#include "sim/sim.h"
#include "support/recorder_host.h"
#include "support/wait.h"

#include <array>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace chronavel {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kMaster = 1;
constexpr uint8_t kTarget = 2;

// Non-zero settings in every register of the batch, different per clock.
uint8_t SettingOf(uint8_t clock, uint8_t reg)
{
    if (reg == kRegClockAddr)
        return clock;
    if (reg == kRegMasterFlags)
        return clock == kMaster ? 0x80 : 0x3E;
    if (reg >= kRegTextLen0)
        return reg < kRegTextLen0 + 2 ? static_cast<uint8_t>(3 + clock + reg - kRegTextLen0) : 0;
    // Within every list (formats: codes 2..5; exposures and levels: small).
    if (reg >= kRegFieldFormat0)
        return static_cast<uint8_t>(clock == kMaster ? 2 : 4 + (reg & 1));
    return static_cast<uint8_t>(clock * 3 + (reg & 0x07) + 1);
}

// Nothing asked by the failure dialogs is ever shown to anyone: the first
// question ("Повторить чтение?") and the second ("Повторить подключение?")
// are answered as the test says.
class NoWindow : public ReconnectUi {
public:
    bool Closing() const override { return false; }
    void ClearN7() override {}
    void StopTimer3() override {}
    void ShowConnectionDialog() override {}
};

class SettingsSaveLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        sim::Options o;
        o.name = "settings_save";
        o.publish_link = false;
        o.clocks = {kMaster, kTarget};
        o.master = kMaster;
        o.status_interval_ms = status_interval_ms_;
        o.text_interval_ms = 2000;
        o.seed = 23;
        sim_ = std::make_unique<sim::Simulator>(o);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        for (uint8_t clock : {kMaster, kTarget})
            for (uint8_t reg : ReadBatchRegisters())
                if (reg != kRegClockAddr)
                    sim_->SetRegister(clock, reg, SettingOf(clock, reg));
        PortHandle.Set(OpenPort(sim_->DevicePath(), 9600));
        ASSERT_TRUE(PortHandle.Get());
        SetRequestFailedHandler(
            [this](std::unique_ptr<FailureBlock> b) { HandleRequestFailed(std::move(b), ui_); });
        StartExchangeThread();
        // The master's blocks reach the program before anything is read.
        ASSERT_TRUE(test::WaitUntil([&] { return MasterActive.load() == 1; }, 10s));
    }
    void TearDown() override
    {
        EXPECT_TRUE(StopExchangeThread(10s));
        ClosePort();
        ResetCoreState();
        sim_.reset();
    }

    std::array<uint8_t, 256> RegsOf(uint8_t clock) const
    {
        std::array<uint8_t, 256> r{};
        for (int n = 0; n < 256; ++n)
            r[n] = sim_->Register(clock, static_cast<uint8_t>(n));
        return r;
    }

    // The read batch as "Удаленная настройка часов" runs it, to its end.
    RegisterValues ReadBatch(uint8_t clock)
    {
        EXPECT_EQ(ReadAllSettings(clock), "");
        EXPECT_TRUE(test::WaitUntil([] { return SettingsReadFinished(); }, 120s));
        return AnsweredBy(clock);
    }

    // The window's save with the controls as shown, the operator's change
    // (if any) applied to them.
    WriteOutcome Save(const RegisterValues& clock, void (*change)(SettingsView&) = nullptr)
    {
        SettingsView shown = InitialSettingsView();
        StandFields(shown, clock);
        SettingsView now = shown;
        if (change)
            change(now);
        plan_ = PlanSave(clock, ChosenRegisters(shown, now, clock));
        return WriteSettings(kTarget, plan_);
    }

    int status_interval_ms_ = 1000; // the master's status block period
    test::RecorderHost host_;
    NoWindow ui_;
    std::unique_ptr<sim::Simulator> sim_;
    SavePlan plan_;
};

// Nothing of the master (its status-block image, its text block's formats
// and lengths) reaches the clock being set; an unchanged save writes only
// the fixed registers, each with this clock's own value.
TEST_F(SettingsSaveLineTest, UnchangedSaveBesideAStreamingMasterKeepsBothClocksAsTheyWere)
{
    const auto master_before = RegsOf(kMaster);
    const auto target_before = RegsOf(kTarget);
    const RegisterValues answered = ReadBatch(kTarget);
    for (uint8_t reg : ReadBatchRegisters())
        EXPECT_EQ(answered.Get(reg), std::optional<uint8_t>(target_before[reg])) << int(reg);
    ASSERT_TRUE(test::WaitUntil([&] { return sim_->TextBlocksSent() > 0; }, 10s));

    const size_t writes_before = sim_->FramesReceived(kCmdWriteRegister);
    const WriteOutcome out = Save(answered);
    EXPECT_EQ(out.Result, WriteResult::kWritten);
    // 8 formats, 3 text lengths (up to the zero), 0x51, 0x52, 0x4D, 0x4C.
    EXPECT_EQ(plan_.Writes.size(), 15u);
    for (const RegisterWrite& w : plan_.Writes)
        EXPECT_EQ(w.Value, target_before[w.Reg]) << int(w.Reg);
    EXPECT_GE(sim_->FramesReceived(kCmdWriteRegister) - writes_before, 15u);
    EXPECT_EQ(RegsOf(kTarget), target_before);
    EXPECT_EQ(RegsOf(kMaster), master_before);
}

// 0x4C goes unanswered; the operator answers Cancel, Cancel; the window
// opens with the address unknown and the save is refused: nothing is sent.
TEST_F(SettingsSaveLineTest, UnansweredAddressRefusesTheSaveAndSendsNothing)
{
    sim_->SetSilentRegister(kTarget, kRegClockAddr, true);
    host_.AnswerNext(false); // "Значение не прочитано! Повторить чтение?"
    host_.AnswerNext(false); // "Устройство не отвечает! Повторить подключение?"
    const auto target_before = RegsOf(kTarget);
    const RegisterValues answered = ReadBatch(kTarget);
    EXPECT_FALSE(answered.Has(kRegClockAddr));
    EXPECT_EQ(host_.Warnings().size(), 2u);

    const WriteOutcome out = Save(answered);
    EXPECT_EQ(out.Result, WriteResult::kRefused);
    EXPECT_EQ(plan_.Missing, std::vector<uint8_t>{kRegClockAddr});
    EXPECT_NE(RefusalText(plan_).find("0x4C"), std::string::npos);
    EXPECT_EQ(sim_->FramesReceived(kCmdWriteRegister), 0u);
    EXPECT_EQ(RegsOf(kTarget), target_before);
}

// A new address is written last, every write is answered, and the program
// finds the clock at its new address with its settings unchanged.
TEST_F(SettingsSaveLineTest, AddressChangeIsWrittenLastAndTheTargetFollows)
{
    const auto target_before = RegsOf(kTarget);
    const RegisterValues answered = ReadBatch(kTarget);
    const WriteOutcome out = Save(answered, [](SettingsView& v) { v.Bytes[kRegClockAddr] = 9; });
    EXPECT_EQ(out.Result, WriteResult::kWritten);
    EXPECT_EQ(out.Address, 9);
    EXPECT_EQ(plan_.Writes.back(), (RegisterWrite{kRegClockAddr, 9, 1, 5}));
    EXPECT_TRUE(host_.Messages().empty());
    auto after = RegsOf(9);
    EXPECT_EQ(after[kRegClockAddr], 9);
    after[kRegClockAddr] = kTarget;
    EXPECT_EQ(after, target_before);
    EXPECT_EQ(AnsweredBy(9).Get(kRegClockAddr), std::optional<uint8_t>(9));
}

// The master's 100-byte status block every 150 ms leaves a quarter of the
// line free at 9600 bit/s: the batch is answered in full all the same, by
// the clock beside the master and by the master itself, with nothing asked
// of the operator.
class DenseMasterLineTest : public SettingsSaveLineTest {
protected:
    DenseMasterLineTest() { status_interval_ms_ = 150; }
};

TEST_F(DenseMasterLineTest, ReadBatchIsAnsweredInFullByEitherClock)
{
    host_.SetDefaultAnswer(false); // a read given up stays given up
    for (uint8_t clock : {kTarget, kMaster}) {
        const auto before = RegsOf(clock);
        const RegisterValues answered = ReadBatch(clock);
        std::vector<uint8_t> not_as_held;
        for (uint8_t reg : ReadBatchRegisters())
            if (answered.Get(reg) != std::optional<uint8_t>(before[reg]))
                not_as_held.push_back(reg);
        EXPECT_EQ(RegisterList(not_as_held), "") << "clock " << int(clock);
    }
    EXPECT_TRUE(host_.Warnings().empty()) << host_.Warnings().front();
}

// "Всем" for every command that would write or read a clock's registers:
// each is refused and nothing goes out on the line.
TEST_F(SettingsSaveLineTest, AllClocksIsRefusedByEveryRegisterCommand)
{
    const size_t frames_before = sim_->FramesReceivedTotal();
    EXPECT_NE(ReadAllSettings(kBroadcast), "");
    EXPECT_NE(QueueRegisterWrite(kBroadcast, kRegMasterFlags, 0x00), "");
    EXPECT_EQ(SwitchMaster(kBroadcast, true), SwitchResult::kAllClocksRefused);
    RegisterValues any;
    for (uint8_t reg : ReadBatchRegisters())
        any.Set(reg, 1);
    EXPECT_EQ(WriteSettings(kBroadcast, PlanSave(any, any)).Result, WriteResult::kAllClocksRefused);
    EXPECT_TRUE(RingEmpty());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sim_->FramesReceivedTotal(), frames_before);
}

} // namespace
} // namespace chronavel

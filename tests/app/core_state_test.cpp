// Every piece of process-wide state on the core's one list (app/core_state.h),
// made non-default through its unit's interface: its own reset brings it
// back, and so does ResetCoreState. A piece of the list without a probe
// here, a probe for a piece the list lacks, or a reset that forgets its
// piece fails.
#include "app/core_state.h"
#include "app/ini_file_chronavel.h"
#include "app/line_overview.h"
#include "app/master_search.h"
#include "config/register_values.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frame_trace.h"
#include "link/frames.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "link/switch_master.h"
#include "link/timed_write.h"
#include "port/decode.h"
#include "port/display.h"
#include "port/port.h"
#include "port/port_list.h"
#include "support/recorder_host.h"
#include "support/temp_dir.h"
#include "testkit/fake_port.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace chronavel {
namespace {

struct Probe {
    const char* Name; // as the list names the piece
    std::function<void()> Dirty;
    std::function<bool()> AtStart;
};

bool NeverStops()
{
    return true;
}

struct NoMenu final : PeriodMenu {
    bool Checked(int) const override { return false; }
    void SetChecked(int, bool) override {}
    void N15Click(int) override {}
};

// In the order they are made dirty: the settings file's load before the
// Connection it fills.
const std::vector<Probe>& Probes()
{
    static const test::TempDir dir("chronavel-state");
    static const std::vector<Probe> probes = {
        {"ExchangeThread", [] { ExchangeThread.Set(TNewThread::CreateManual()); },
         [] { return !ExchangeThread.Get(); }},
        {"the reply decoder hook", [] { SetReplyDecoder(&MinimalDecodeReply); },
         [] { return CurrentReplyDecoder() == &DecodeReply; }},
        {"the current ring and pending list",
         [] {
             CreateRing(8);
             AddPending(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
         },
         [] { return RingRoom() == 0 && PendingEmpty(); }},
        {"the failure handler",
         [] { SetRequestFailedHandler([](std::unique_ptr<FailureBlock>) {}); },
         [] { return !RequestFailedHandlerSet(); }},
        {"MasterActive", [] { MasterActive.store(1); }, [] { return MasterActive.load() == 0; }},
        {"the frame ends", [] { RecordFrameEnd(0.001); }, [] { return FrameEnds().Count == 0; }},
        {"Reception's counters",
         [] {
             Reception.EmptyReads.store(3);
             Reception.HuntBytes.store(4);
             Reception.EchoesDropped.store(5);
             Reception.HuntsOverrun.store(6);
         },
         [] {
             return Reception.EmptyReads.load() == 0 && Reception.HuntBytes.load() == 0 &&
                    Reception.EchoesDropped.load() == 0 && Reception.HuntsOverrun.load() == 0;
         }},
        {"Reception's bytes and their copy",
         [] {
             Reception.RxBuf[0] = 9;
             Reception.BytesRead.store(1);
         },
         [] { return Reception.RxBuf[0] == 0 && ReceivedBytes().empty(); }},
        {"the read-error notice",
         [] {
             test::RecorderHost host;
             const platform::SerialPtr port = PortHandle.Get();
             PortHandle.Set(nullptr);
             ReadByte(); // no port: the message, once
             PortHandle.Set(port);
         },
         [] { return !ReadErrorShown(); }},
        {"the frame written last",
         [] {
             const std::vector<uint8_t> frame = BuildShortFrame(1, kCmdLinkCheck, 0, 0);
             NoteWrittenFrame(frame.data(), frame.size());
         },
         [] { return !WrittenFrameNoted(); }},
        {"the line's stop hook", [] { SetLineStopHook(&NeverStops); },
         [] { return !LineStopRequested(); }},
        {"the stored master flags", [] { StoreMasterFlags(0x80, 3); },
         [] { return StoredMasterFlagsRecord().Serial == 0 && StoredMasterFlags() == 0; }},
        {"SwitchMaster's sleep", [] { SetSwitchMasterSleep([](int) {}); },
         [] { return !SwitchMasterSleepSet(); }},
        {"the frame observers", [] { AddFrameObserver([](const FrameEvent&) {}); },
         [] { return !FrameTraceOn(); }},

        {"PortHandle", [] { PortHandle.Set(std::make_shared<test::FakePort>()); },
         [] { return !PortHandle; }},
        {"PortIoWaiters()", [] { PortIoWaiters().store(2); },
         [] { return PortIoWaiters().load() == 0; }},
        {"PortNames", [] { PortNames[0] = "ttyS9"; }, [] { return PortNames[0].empty(); }},
        {"MasterAddress", [] { MasterAddress.store(5); }, [] { return MasterAddress.load() == 0; }},
        {"the text block",
         [] {
             const std::vector<uint8_t> block = {3};
             ApplyReply(1, kReplyText, 0, 1, &block);
         },
         [] { return CurrentTextBlock().TextCount == 0; }},
        {"the display texts", [] { FillFieldTable(); },
         [] { return CurrentDisplayTexts().FieldCatalog[0].Name.empty(); }},
        {"DisplayTick", [] { DisplayTick.store(9); }, [] { return DisplayTick.load() == 0; }},
        {"the display sink",
         [] { SetClockDisplaySink([](const std::string&, const FieldRows&, int) {}); },
         [] { return !ClockDisplaySinkSet(); }},

        {"ClockSettings", [] { ClockSettings.Volume.store(4); },
         [] { return ClockSettings.Volume.load() == 0; }},
        {"Registers", [] { Registers.RegImage[3].store(7); },
         [] { return Registers.RegImage[3].load() == 0; }},
        {"each clock's answered registers",
         [] {
             BeginReadBatch(7);
             RecordRegisterAnswer(7, kRegVolume, 4);
         },
         [] { return !AnsweredBy(7).Has(kRegVolume); }},

        {"the settings file object",
         [] {
             SetSettingsPath((dir.path() / "chronavel.ini").string());
             NoMenu menu;
             Load_settings(menu);
         },
         [] { return SettingsFile() == nullptr; }},
        {"Connection", [] { Connection.ComPort = "ttyS9"; },
         [] { return Connection.ComPort.empty(); }},
        {"the census remembered",
         [] {
             RememberCensus({{9, true}});
         },
         [] { return !CensusSawClockAt(9); }},
        {"the line overview", [] { Overview().Probed(9, true, false, {}); },
         [] { return Overview().Rows().empty(); }},
    };
    return probes;
}

const Probe* ProbeOf(const std::string& name)
{
    for (const Probe& p : Probes())
        if (name == p.Name)
            return &p;
    return nullptr;
}

void DirtyAll()
{
    for (const Probe& p : Probes())
        p.Dirty();
}

TEST(CoreState, TheListAndTheProbesNameTheSamePieces)
{
    std::map<std::string, int> listed;
    for (const StatePiece& piece : CoreStatePieces()) {
        ++listed[piece.Name];
        EXPECT_NE(ProbeOf(piece.Name), nullptr) << piece.Name << ": no probe here";
        EXPECT_NE(piece.Reset, nullptr) << piece.Name;
    }
    for (const auto& [name, times] : listed)
        EXPECT_EQ(times, 1) << name << ": listed more than once";
    for (const Probe& p : Probes())
        EXPECT_TRUE(listed.contains(p.Name)) << p.Name << ": not on the list";
}

TEST(CoreState, EachPieceIsBroughtBackByItsOwnReset)
{
    for (const StatePiece& piece : CoreStatePieces()) {
        const Probe* probe = ProbeOf(piece.Name);
        if (!probe)
            continue; // told above
        ResetCoreState();
        DirtyAll();
        piece.Reset();
        EXPECT_TRUE(probe->AtStart()) << piece.Name;
    }
    ResetCoreState();
}

TEST(CoreState, ResetCoreStateResetsEveryPiece)
{
    ResetCoreState();
    for (const Probe& p : Probes())
        EXPECT_TRUE(p.AtStart()) << p.Name << " before";
    DirtyAll();
    for (const Probe& p : Probes())
        EXPECT_FALSE(p.AtStart()) << p.Name << " not made non-default";
    ResetCoreState();
    for (const Probe& p : Probes())
        EXPECT_TRUE(p.AtStart()) << p.Name;
}

} // namespace
} // namespace chronavel

// Every piece of process-wide state the core keeps, made non-default through
// the public interface: its unit's reset brings it back, and so does
// ResetCoreState. A piece a unit's reset forgets fails here.
#include "app/core_state.h"
#include "app/ini_file_chronavel.h"
#include "app/line_overview.h"
#include "app/master_search.h"
#include "config/config_state.h"
#include "config/register_values.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frame_trace.h"
#include "link/link_state.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "port/decode.h"
#include "port/display_lock.h"
#include "port/port.h"
#include "port/port_list.h"
#include "port/port_state.h"
#include "port/sync.h"
#include "testkit/fake_port.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace chronavel {
namespace {

enum class Unit { kLink, kPort, kConfig, kApp };

struct Piece {
    Unit Owner;
    const char* Name;
    std::function<void()> Dirty;
    std::function<bool()> AtStart;
};

bool NeverStops()
{
    return true;
}

const std::vector<Piece>& Pieces()
{
    static const std::vector<Piece> pieces = {
        {Unit::kLink, "ExchangeThread", [] { ExchangeThread.Set(TNewThread::CreateManual()); },
         [] { return !ExchangeThread.Get(); }},
        {Unit::kLink, "reply decoder", [] { SetReplyDecoder(&MinimalDecodeReply); },
         [] { return CurrentReplyDecoder() == &DecodeReply; }},
        {Unit::kLink, "MasterActive", [] { MasterActive.store(1); },
         [] { return MasterActive.load() == 0; }},
        {Unit::kLink, "Reception counters",
         [] {
             Reception.EmptyReads.store(3);
             Reception.HuntBytes.store(4);
             Reception.EchoesDropped.store(5);
             Reception.HuntsOverrun.store(6);
             Reception.BytesRead.store(7);
         },
         [] {
             return Reception.EmptyReads.load() == 0 && Reception.HuntBytes.load() == 0 &&
                    Reception.EchoesDropped.load() == 0 && Reception.HuntsOverrun.load() == 0 &&
                    Reception.BytesRead.load() == 0;
         }},
        {Unit::kLink, "line stop hook", [] { SetLineStopHook(&NeverStops); },
         [] { return !LineStopRequested(); }},
        {Unit::kLink, "stored master flags", [] { StoreMasterFlags(0x80, 3); },
         [] { return StoredMasterFlagsRecord().Serial == 0 && StoredMasterFlags() == 0; }},
        {Unit::kLink, "frame observers", [] { AddFrameObserver([](const FrameEvent&) {}); },
         [] { return !FrameTraceOn(); }},

        {Unit::kPort, "PortHandle", [] { PortHandle.Set(std::make_shared<test::FakePort>()); },
         [] { return !PortHandle; }},
        {Unit::kPort, "PortIoWaiters", [] { PortIoWaiters().store(2); },
         [] { return PortIoWaiters().load() == 0; }},
        {Unit::kPort, "PortNames", [] { PortNames[0] = "ttyS9"; },
         [] { return PortNames[0].empty(); }},
        {Unit::kPort, "NoAnswer", [] { NoAnswer.store(1); }, [] { return NoAnswer.load() == 0; }},
        {Unit::kPort, "MasterAddress", [] { MasterAddress.store(5); },
         [] { return MasterAddress.load() == 0; }},
        {Unit::kPort, "DisplayTick", [] { DisplayTick.store(9); },
         [] { return DisplayTick.load() == 0; }},

        {Unit::kConfig, "ClockSettings", [] { ClockSettings.Volume.store(4); },
         [] { return ClockSettings.Volume.load() == 0; }},
        {Unit::kConfig, "answered registers",
         [] {
             BeginReadBatch(7);
             RecordRegisterAnswer(7, kRegVolume, 4);
         },
         [] { return !AnsweredBy(7).Has(kRegVolume); }},

        {Unit::kApp, "Connection", [] { Connection.ComPort = "ttyS9"; },
         [] { return Connection.ComPort.empty(); }},
        {Unit::kApp, "census",
         [] {
             RememberCensus({{9, true}});
         },
         [] { return !CensusSawClockAt(9); }},
        {Unit::kApp, "line overview", [] { Overview().Probed(9, true, false, {}); },
         [] { return Overview().Rows().empty(); }},
    };
    return pieces;
}

void DirtyAll()
{
    for (const Piece& p : Pieces())
        p.Dirty();
}

TEST(CoreState, EachUnitResetsEveryPieceItOwns)
{
    const std::pair<Unit, void (*)()> resets[] = {{Unit::kLink, &ResetLinkState},
                                                  {Unit::kPort, &ResetPortState},
                                                  {Unit::kConfig, &ResetConfigState},
                                                  {Unit::kApp, &ResetAppState}};
    for (const auto& [unit, reset] : resets) {
        ResetCoreState();
        DirtyAll();
        reset();
        for (const Piece& p : Pieces()) {
            if (p.Owner != unit)
                continue;
            EXPECT_TRUE(p.AtStart()) << p.Name;
        }
    }
    ResetCoreState();
}

TEST(CoreState, ResetCoreStateResetsEveryUnit)
{
    ResetCoreState();
    for (const Piece& p : Pieces())
        EXPECT_TRUE(p.AtStart()) << p.Name << " before";
    DirtyAll();
    for (const Piece& p : Pieces())
        EXPECT_FALSE(p.AtStart()) << p.Name << " not made non-default";
    ResetCoreState();
    for (const Piece& p : Pieces())
        EXPECT_TRUE(p.AtStart()) << p.Name;
}

} // namespace
} // namespace chronavel

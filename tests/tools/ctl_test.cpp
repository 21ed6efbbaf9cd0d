// chronavelctl end to end: the real executable against the simulated line.
#include "sim/sim.h"
#include "tools/run_ctl.h"
#include "version.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <pty.h>
#include <unistd.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

namespace chronavel::test {
namespace {

using Args = std::vector<std::string>;

std::unique_ptr<sim::Simulator> StartSim(const std::string& name, std::vector<uint8_t> clocks,
                                         std::optional<uint8_t> master = std::nullopt,
                                         int text_interval_ms = 10000)
{
    PortsDir();
    sim::Options o;
    o.name = name;
    o.clocks = std::move(clocks);
    o.master = master;
    o.seed = 7;
    o.status_interval_ms = 300;
    o.text_interval_ms = text_interval_ms;
    auto s = std::make_unique<sim::Simulator>(o);
    std::string error;
    if (!s->Start(&error)) {
        ADD_FAILURE() << "simulator: " << error;
        return nullptr;
    }
    return s;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string Hex(uint8_t v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

template <class Pred> bool WaitUntil(Pred pred, int limit_ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (std::chrono::steady_clock::now() < until) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pred();
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// --- Arguments

TEST(CtlArguments, BadArgumentsAreUsageErrorsNamingTheArgument)
{
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"sync", "--port", "p", "--addr", "256"}, "'256'"},
        {{"sync", "--port", "p", "--addr", "0x1G"}, "'0x1G'"},
        {{"read", "--port", "p", "--addr", "1", "0x4D", "300"}, "'300'"},
        {{"read", "--port", "p", "--addr", "1", "-1"}, "-1"},
        {{"write", "--port", "p", "--addr", "1", "0x4D=256"}, "'256'"},
        {{"write", "--port", "p", "--addr", "1", "0x4Dx=1"}, "'0x4Dx'"},
        {{"write", "--port", "p", "--addr", "1", "0x4D"}, "'0x4D'"},
        {{"daemon", "--port", "p", "--period", "week"}, "'week'"},
        {{"watch", "--port", "p", "--count", "none"}, "'none'"},
        {{"sync", "--port", "p", "--speed", "fast"}, "'fast'"},
        {{"check", "--port", "p", "--addr", "all"}, "--addr"},
        {{"write", "--port", "p", "--addr", "all", "0x43=1"}, "--addr"},
        {{"sync"}, "--port"},
        {{"frobnicate"}, "frobnicate"},
        {{}, "subcommand"},
    };
    for (const auto& [args, named] : cases) {
        const CtlResult r = RunCtl(args);
        EXPECT_EQ(r.code, 2) << args.size() << " " << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST(CtlArguments, EverySubcommandHasHelp)
{
    for (const std::string sub :
         {"ports", "sync", "check", "read", "read-all", "write", "scan", "watch", "daemon"}) {
        const CtlResult r = RunCtl({sub, "--help"});
        EXPECT_EQ(r.code, 0) << sub;
        EXPECT_NE(r.out.find("Usage"), std::string::npos) << sub;
    }
    EXPECT_EQ(RunCtl({"--help"}).code, 0);
}

// help2man reads the name and the version from the first line.
TEST(CtlArguments, VersionIsTheProjectsOne)
{
    const CtlResult r = RunCtl({"--version"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, std::string("chronavelctl ") + CHRONAVEL_VERSION + "\n");
}

TEST(CtlArguments, MissingPortIsAPortError)
{
    const std::vector<Args> cases = {
        {"sync", "--port", "nosuchport"},
        {"check", "--port", "nosuchport", "--addr", "1"},
        {"read", "--port", "nosuchport", "--addr", "1", "0x4D"},
        {"read-all", "--port", "nosuchport", "--addr", "1"},
        {"write", "--port", "nosuchport", "--addr", "1", "0x4D=0"},
        {"scan", "--port", "nosuchport"},
        {"watch", "--port", "nosuchport"},
    };
    for (const auto& args : cases) {
        const CtlResult r = RunCtl(args);
        EXPECT_EQ(r.code, 3) << args[0];
        EXPECT_NE(r.err.find("Error opening port"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nosuchport"), std::string::npos) << r.err;
    }
}

// --- Port list

TEST(CtlPorts, ListsTheSimulatedPort)
{
    auto sim = StartSim("ctlports", {1});
    ASSERT_TRUE(sim);
    const CtlResult r = RunCtl({"ports", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_TRUE(j.is_array());
    bool found = false;
    for (const auto& e : j)
        found = found || (e["name"] == "ctlports" && e["text"] == "ctlports (virtual port)");
    EXPECT_TRUE(found) << r.out;
    const CtlResult plain = RunCtl({"ports"});
    EXPECT_NE(plain.out.find("ctlports (virtual port)\n"), std::string::npos) << plain.out;
}

// A virtual port may be called anything; a name that is not UTF-8 must not
// end the listing in an abort.
TEST(CtlPorts, NameThatIsNotUtf8IsListedWithReplacementCharacters)
{
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const std::string link = PortsDir() + "/bad\xff";
    ASSERT_EQ(symlink(name, link.c_str()), 0);
    const CtlResult r = RunCtl({"ports", "--json"});
    unlink(link.c_str());
    close(slave);
    close(master);
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    bool found = false;
    for (const auto& e : j)
        found = found || e["name"] == "bad\xef\xbf\xbd";
    EXPECT_TRUE(found) << r.out;
}

// --- Time synchronisation

TEST(CtlSync, SetsTheClockToTheLocalTime)
{
    auto sim = StartSim("ctlsync", {1, 2});
    ASSERT_TRUE(sim);
    const CtlResult r = RunCtl({"sync", "--port", "ctlsync", "--addr", "2"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(sim->FramesReceived(0x70), 1u);
    const auto stats = sim->TimeErrors();
    ASSERT_EQ(stats.count, 1u);
    // The clock keeps whole seconds: within one second of the host's time.
    EXPECT_LT(std::abs(stats.max_ms), 1500.0);
}

TEST(CtlSync, SilentClockIsGivenUpAfterTheRetrySchedule)
{
    auto sim = StartSim("ctlsyncsilent", {1});
    ASSERT_TRUE(sim);
    const CtlResult r = RunCtl({"sync", "--port", "ctlsyncsilent", "--addr", "9"});
    EXPECT_EQ(r.code, 1) << r.err;
    // The first send and three resends about 3, 6 and 9 s after it.
    EXPECT_EQ(sim->FramesReceived(0x70), 4u);
    EXPECT_GT(r.seconds, 7.0);
    EXPECT_LT(r.seconds, 30.0);
    EXPECT_NE(r.err.find("0x09"), std::string::npos) << r.err;
}

// Every resend is stamped when it is written: the clock gets the time of the
// moment, not that of the first send (seen as small time-set errors).
TEST(CtlSync, EveryResendCarriesTheTimeOfItsWrite)
{
    auto sim = StartSim("ctlsyncresend", {1});
    ASSERT_TRUE(sim);
    sim::Faults drop;
    drop.silent = true;
    sim->SetFaults(1, drop); // acts on every frame, never answers
    const CtlResult r = RunCtl({"sync", "--port", "ctlsyncresend", "--addr", "1"});
    EXPECT_EQ(r.code, 1) << r.err;
    const auto errors = sim->TimeErrorsMs();
    ASSERT_EQ(errors.size(), 4u);
    for (double e : errors)
        EXPECT_LT(std::abs(e), 1500.0);
}

// --- Link check

TEST(CtlCheck, ConnectedAndNoAnswer)
{
    auto sim = StartSim("ctlcheck", {5});
    ASSERT_TRUE(sim);
    const CtlResult ok = RunCtl({"check", "--port", "ctlcheck", "--addr", "5"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ok.out, "connected\n");
    const size_t before = sim->FramesReceived(0x80);
    const CtlResult silent = RunCtl({"check", "--port", "ctlcheck", "--addr", "0x06"});
    EXPECT_EQ(silent.code, 1) << silent.err;
    EXPECT_EQ(silent.out, "no answer\n");
    EXPECT_EQ(sim->FramesReceived(0x80) - before, 10u); // ten attempts, silently
    EXPECT_EQ(silent.err.find("не поступает"), std::string::npos) << silent.err;
}

// --- Registers

TEST(CtlRead, PrintsEachRegisterInTheOrderGiven)
{
    auto sim = StartSim("ctlread", {5});
    ASSERT_TRUE(sim);
    sim->SetRegister(5, 0x4D, 0x80);
    sim->SetRegister(5, 0x3D, 0xA7);
    const CtlResult r = RunCtl({"read", "--port", "ctlread", "--addr", "5", "0x4D", "61", "0x4d"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "0x4D=0x80\n0x3D=0xA7\n0x4D=0x80\n");
}

TEST(CtlRead, CtrlCIsExit130NotANoAnswer)
{
    auto sim = StartSim("ctlreadint", {5});
    ASSERT_TRUE(sim);
    CtlProcess p({"read", "--port", "ctlreadint", "--addr", "7", "0x4D"});
    ASSERT_TRUE(WaitUntil([&] { return sim->FramesReceived(0x74) >= 1; }, 10000));
    p.Signal(SIGINT);
    const CtlResult r = p.Wait(10000);
    EXPECT_EQ(r.code, 130) << r.err;
}

TEST(CtlRead, UnansweredReadIsExitOne)
{
    auto sim = StartSim("ctlreadsilent", {5});
    ASSERT_TRUE(sim);
    const CtlResult r = RunCtl({"read", "--port", "ctlreadsilent", "--addr", "7", "0x4D"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("0x4D"), std::string::npos) << r.err;
}

TEST(CtlReadAll, JsonEqualsTheClocksRegisters)
{
    auto sim = StartSim("ctlreadall", {3});
    ASSERT_TRUE(sim);
    // Values of every kind, away from the simulator's defaults.
    sim->SetRegister(3, 0x2B, 37);
    sim->SetRegister(3, 0x35, 9);
    sim->SetRegister(3, 0x3E, 0x06);
    sim->SetRegister(3, 0x3F, 0x05);
    sim->SetRegister(3, 0x51, 0xFF);
    sim->SetRegister(3, 0x52, 0xFD);
    sim->SetRegister(3, 0xE2, 4);
    const CtlResult r = RunCtl({"read-all", "--port", "ctlreadall", "--addr", "3", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    const auto reg = [&](uint8_t n) { return static_cast<int>(sim->Register(3, n)); };
    const auto pair = [&](uint8_t hi) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02X:%02X", reg(hi), reg(static_cast<uint8_t>(hi + 1)));
        return std::string(buf);
    };
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(j["Expo"][i], reg(static_cast<uint8_t>(0x25 + 2 * i))) << i;
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(j["FieldFormat"][i], reg(static_cast<uint8_t>(0xD8 + i))) << i;
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(j["TextLen"][i], reg(static_cast<uint8_t>(0xE0 + i))) << i;
    const std::map<std::string, uint8_t> bytes = {
        {"ClockAddr", 0x4C}, {"MasterFlags", 0x4D}, {"TimeZone", 0x37},   {"Volume", 0x43},
        {"RegS6", 0x3D},     {"OptionFlags", 0x42}, {"DimLevel", 0x44},   {"NormLevel", 0x45},
        {"RegSE", 0x50},     {"UpperLevel", 0x38},  {"LowerLevel", 0x4E},
    };
    for (const auto& [key, n] : bytes)
        EXPECT_EQ(j[key], reg(n)) << key;
    EXPECT_EQ(j["DimOnTime"], pair(0x39));
    EXPECT_EQ(j["DimOffTime"], pair(0x3B));
    EXPECT_EQ(j["Alarm1Time"], "06:05");
    EXPECT_EQ(j["Alarm2Time"], pair(0x40));
    EXPECT_EQ(j["DayCorrection"], -3);
    EXPECT_EQ(j["Expo"][3], 37);
}

TEST(CtlWrite, ChangesExactlyTheNamedRegisters)
{
    auto sim = StartSim("ctlwrite", {4});
    ASSERT_TRUE(sim);
    std::vector<uint8_t> before(256);
    for (int n = 0; n < 256; ++n)
        before[static_cast<size_t>(n)] = sim->Register(4, static_cast<uint8_t>(n));
    const CtlResult r =
        RunCtl({"write", "--port", "ctlwrite", "--addr", "4", "0x3D=0x12", "67=0x07"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (int n = 0; n < 256; ++n) {
        const uint8_t now = sim->Register(4, static_cast<uint8_t>(n));
        if (n == 0x3D)
            EXPECT_EQ(now, 0x12);
        else if (n == 0x43)
            EXPECT_EQ(now, 0x07);
        else
            EXPECT_EQ(now, before[static_cast<size_t>(n)]) << Hex(static_cast<uint8_t>(n));
    }
}

TEST(CtlWrite, StopsAtTheFirstUnansweredWrite)
{
    auto sim = StartSim("ctlwritesilent", {4});
    ASSERT_TRUE(sim);
    const CtlResult r =
        RunCtl({"write", "--port", "ctlwritesilent", "--addr", "8", "0x3D=1", "0x3E=2"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(sim->FramesReceived(0x72), 5u); // five tries of the first, none of the second
    EXPECT_NE(r.err.find("Информация от устройства $08 не поступает!"), std::string::npos) << r.err;
}

// --- Master search

TEST(CtlScan, FindsTheMaster)
{
    auto sim = StartSim("ctlscan", {3, 200}, uint8_t{200});
    ASSERT_TRUE(sim);
    const CtlResult r = RunCtl({"scan", "--port", "ctlscan"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "0xC8\n");
    // Every address below it was probed once, in order, and none above.
    EXPECT_GE(sim->FramesReceived(0x74), 200u);
}

TEST(CtlScan, NoMasterOnASilentLineWithinThirtySeconds)
{
    auto sim = StartSim("ctlscannone", {1}); // a clock, but not a master
    ASSERT_TRUE(sim);
    const CtlResult r = RunCtl({"scan", "--port", "ctlscannone"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.out, "no master found\n");
    EXPECT_LT(r.seconds, 30.0);
    EXPECT_GE(sim->FramesReceived(0x74), 254u);
}

// A port that vanishes mid-search ends it at once, with one report, not a
// line error for every address left.
TEST(CtlScan, VanishedPortEndsTheSearch)
{
    auto sim = StartSim("ctlscangone", {1});
    ASSERT_TRUE(sim);
    CtlProcess d({"scan", "--port", "ctlscangone"});
    ASSERT_TRUE(WaitUntil([&] { return sim->FramesReceived(0x74) >= 10; }, 10000));
    sim->CloseLine();
    const CtlResult r = d.Wait(20000);
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("has gone away"), std::string::npos) << r.err;
    EXPECT_LE(Count(r.err, "\n"), 6u) << r.err;
}

// --- Display

TEST(CtlWatch, JsonFollowsTheDisplayRules)
{
    auto sim = StartSim("ctlwatch", {1}, uint8_t{1}, 400);
    ASSERT_TRUE(sim);
    // Main field 6 (time with seconds always), date field 3, pressure 4;
    // the other additional fields off.
    sim->SetRegister(1, 0xD8, 6);
    for (uint8_t r = 0xD9; r <= 0xDE; ++r)
        sim->SetRegister(1, r, 0);
    sim->SetRegister(1, 0xDC, 4);
    sim->SetRegister(1, 0xDF, 3);
    const CtlResult r = RunCtl({"watch", "--port", "ctlwatch", "--json", "--count", "2"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    const sim::ClockTime t = sim->Time(1);
    char date[16];
    std::snprintf(date, sizeof date, "%02d%02d", t.day, t.month);
    char year[16];
    std::snprintf(year, sizeof year, "20%02d", t.year);
    char extra_date[16];
    std::snprintf(extra_date, sizeof extra_date, "%02d.%02d ", t.day, t.month);
    for (const auto& line : lines) {
        const auto j = nlohmann::json::parse(line);
        ASSERT_EQ(j["main_field"].size(), 9u);
        ASSERT_EQ(j["extra_fields"].size(), 7u);
        const std::string time = j["main_field"][0];
        ASSERT_EQ(time.size(), 8u) << time; // HH.MM.SS
        EXPECT_EQ(time[2], '.');
        EXPECT_EQ(time[5], '.');
        EXPECT_EQ(j["main_field"][1], date);
        EXPECT_EQ(j["main_field"][2], year);
        const std::string pressure = j["main_field"][6];
        EXPECT_EQ(pressure.rfind("P7", 0), 0u) << pressure;
        EXPECT_EQ(j["extra_fields"][6], extra_date);
        EXPECT_EQ(j["extra_fields"][3], pressure); // the same "P7" P text
        ASSERT_EQ(j["grid"].size(), 2u) << line;
        EXPECT_EQ(j["grid"][0][0], "Дата");
        EXPECT_EQ(j["grid"][0][1], extra_date);
        EXPECT_EQ(j["grid"][1][0], "Давление");
        EXPECT_EQ(j["grid"][1][1], pressure);
        // What the main field shows now is one of its nine texts.
        bool among = false;
        for (const auto& m : j["main_field"])
            among = among || m == j["shown"];
        EXPECT_TRUE(among) << line;
    }
}

// --- Daemon

TEST(CtlDaemon, SyncsRepeatedlyAndSurvivesTheLineGoingAway)
{
    auto sim = StartSim("ctldaemon", {1});
    ASSERT_TRUE(sim);
    CtlProcess d({"daemon", "--port", "ctldaemon", "--addr", "1", "--period", "minute",
                  "--period-seconds", "1", "--retry-seconds", "1"});
    ASSERT_TRUE(WaitUntil([&] { return sim->FramesReceived(0x70) >= 3; }, 15000)) << d.ErrSoFar();

    sim->CloseLine();
    ASSERT_TRUE(
        WaitUntil([&] { return d.ErrSoFar().find("has gone away") != std::string::npos; }, 15000))
        << d.ErrSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // a few retries
    std::string error;
    ASSERT_TRUE(sim->ReopenLine(&error)) << error;
    const size_t before = sim->FramesReceived(0x70);
    ASSERT_TRUE(WaitUntil([&] { return sim->FramesReceived(0x70) >= before + 2; }, 15000))
        << d.ErrSoFar();
    // A frame the line took is logged once its answer is back: wait for the
    // log, not the line, before stopping.
    ASSERT_TRUE(
        WaitUntil([&] { return Count(d.ErrSoFar(), "sync 0x01: answered") >= 4; }, 15000))
        << d.ErrSoFar();

    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(10000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Count(r.err, "has gone away"), 1u) << r.err;
    EXPECT_NE(r.err.find("is back"), std::string::npos) << r.err;
    EXPECT_GE(Count(r.err, "sync 0x01: answered"), 4u) << r.err;
    EXPECT_NE(r.err.find("stopped"), std::string::npos) << r.err;
}

TEST(CtlDaemon, WaitsForAPortThatIsNotThereYet)
{
    CtlProcess d({"daemon", "--port", "ctllate", "--addr", "1", "--period-seconds", "60",
                  "--retry-seconds", "1"});
    ASSERT_TRUE(WaitUntil(
        [&] { return d.ErrSoFar().find("cannot be opened") != std::string::npos; }, 15000))
        << d.ErrSoFar();
    // Two more retries go by, and none of them says it again.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const std::string early = d.ErrSoFar();
    EXPECT_EQ(Count(early, "cannot be opened"), 1u) << early; // said once, not per retry
    EXPECT_EQ(Count(early, "Error opening port"), 1u) << early;
    auto sim = StartSim("ctllate", {1});
    ASSERT_TRUE(sim);
    ASSERT_TRUE(WaitUntil([&] { return sim->FramesReceived(0x70) >= 1; }, 10000)) << d.ErrSoFar();
    d.Signal(SIGINT);
    const CtlResult r = d.Wait(10000);
    EXPECT_EQ(r.code, 130) << r.err; // Ctrl+C, not its normal stop
    EXPECT_NE(r.err.find("is back"), std::string::npos) << r.err;
}

TEST(CtlDaemon, ShowsTheDisplayAlongsideTheSyncs)
{
    auto sim = StartSim("ctldisplay", {1, 2}, uint8_t{1}, 400);
    ASSERT_TRUE(sim);
    CtlProcess d({"daemon", "--port", "ctldisplay", "--addr", "all", "--period", "minute",
                  "--show-display"});
    ASSERT_TRUE(WaitUntil([&] { return Count(d.ErrSoFar(), "display: ") >= 2; }, 15000))
        << d.ErrSoFar();
    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(10000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("sync all: answered"), std::string::npos) << r.err;
}

} // namespace
} // namespace chronavel::test

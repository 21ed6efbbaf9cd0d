// chronavelctl end to end: the real executable against the simulated line.
#include "sim/sim.h"
#include "support/temp_dir.h"
#include "tools_e2e/run_ctl.h"
#include "version.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <pty.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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

// A simulator with clocks at a line speed, some of them silent from the
// start (they act on frames but never answer).
std::unique_ptr<sim::Simulator> StartLine(const std::string& name, std::vector<uint8_t> clocks,
                                          int speed, std::vector<uint8_t> silent = {},
                                          std::optional<uint8_t> master = std::nullopt)
{
    PortsDir();
    sim::Options o;
    o.name = name;
    o.clocks = std::move(clocks);
    o.master = master;
    o.speed = speed;
    o.seed = 7;
    auto s = std::make_unique<sim::Simulator>(o);
    for (uint8_t a : silent)
        s->SetFaults(a, sim::Faults{.silent = true});
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
    for (const std::string sub : {"ports", "sync", "check", "read", "read-all", "write", "restore",
                                  "scan", "watch", "daemon"}) {
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

// A port another program holds: the tool and a second daemon say so, and
// who holds it.
TEST(CtlArguments, BusyPortSaysWhoHoldsIt)
{
    auto sim = StartSim("ctlbusy", {1});
    ASSERT_TRUE(sim);
    CtlProcess holder({"daemon", "--port", "ctlbusy", "--addr", "1"});
    ASSERT_TRUE(WaitUntil([&] { return sim->FramesReceived(0x70) >= 1; }, 10000))
        << holder.ErrSoFar();
    const std::string cause = ": the port is in use by another program: PID ";
    const CtlResult r = RunCtl({"check", "--port", "ctlbusy", "--addr", "1"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_EQ(r.err.rfind("Error opening port\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("chronavelctl: cannot open port ctlbusy"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(cause), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(chronavelctl); close it, or stop the service ('sudo systemctl stop "
                         "chronavel-sync@ctlbusy'), and try again"),
              std::string::npos)
        << r.err;
    CtlProcess second({"daemon", "--port", "ctlbusy", "--addr", "1"});
    EXPECT_TRUE(WaitUntil(
        [&] { return second.ErrSoFar().find("trying again") != std::string::npos; }, 10000));
    EXPECT_NE(second.ErrSoFar().find(cause), std::string::npos) << second.ErrSoFar();
    second.Signal(SIGTERM);
    holder.Signal(SIGTERM);
    EXPECT_EQ(second.Wait(60000).code, 0);
    EXPECT_EQ(holder.Wait(60000).code, 0);
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

// A USB adapter with its by-id link, in a fake device tree: the list shows
// the stable name beside the device, and --port opens such a link (here one
// to the simulated line).
TEST(CtlPorts, StableNameListedAndOpened)
{
    auto sim = StartSim("ctlbyid", {1});
    ASSERT_TRUE(sim);
    TempDir tree("ctl-serial-by");
    namespace fs = std::filesystem;
    const fs::path usb = tree.path() / "devices/usb1/1-1/1-1:1.0/ttyUSB0";
    fs::create_directories(usb);
    fs::create_directories(tree.path() / "class/tty/ttyUSB0");
    fs::create_symlink(usb, tree.path() / "class/tty/ttyUSB0/device");
    fs::create_directories(tree.path() / "serial/by-id");
    const fs::path adapter = tree.path() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    fs::create_symlink("../../ttyUSB0", adapter);
    const fs::path line = tree.path() / "serial/by-id/usb-Sim_Line_B2-if00";
    fs::create_symlink(PortsDir() + "/ctlbyid", line);

    const std::string tty_class = std::getenv("CHRONAVEL_TTY_CLASS_DIR");
    setenv("CHRONAVEL_TTY_CLASS_DIR", (tree.path() / "class/tty").c_str(), 1);
    setenv("CHRONAVEL_SERIAL_BY_DIR", (tree.path() / "serial").c_str(), 1);
    const CtlResult json = RunCtl({"ports", "--json"});
    const CtlResult plain = RunCtl({"ports"});
    setenv("CHRONAVEL_TTY_CLASS_DIR", tty_class.c_str(), 1);
    unsetenv("CHRONAVEL_SERIAL_BY_DIR");

    ASSERT_EQ(json.code, 0) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    ASSERT_GE(j.size(), 2u) << json.out;
    EXPECT_EQ(j[0]["name"], "ttyUSB0");
    EXPECT_EQ(j[0]["stable"], adapter.string());
    EXPECT_EQ(j[0]["text"], "usb-FTDI_FT232R_USB_UART_A1-if00-port0 → ttyUSB0 (serial port)");
    EXPECT_TRUE(j[1]["stable"].is_null()) << json.out; // the virtual port has none
    EXPECT_EQ(plain.out.rfind(adapter.string() + " → ttyUSB0 (serial port)\n", 0), 0u) << plain.out;

    const CtlResult check = RunCtl({"check", "--port", line.string(), "--addr", "1"});
    EXPECT_EQ(check.code, 0) << check.err;
    EXPECT_EQ(check.out, "connected\n");
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

// An adapter that hears its own frames, and a line that never falls quiet:
// our own frame heard back is no answer (a real one still is), and a line
// full of bytes with no header ends every request on its retry schedule.
TEST(CtlMisbehavingLine, EchoIsNoAnswerAndBabbleEndsOnSchedule)
{
    struct Case {
        const char* what;
        bool echo, babble, silent;
        Args args; // after --port
        int code;
        double within_s;
        const char* out; // expected on standard output, if anything
    } cases[] = {
        {"echo, silent clock: sync", true, false, true, {"sync", "--addr", "2"}, 1, 30, nullptr},
        {"echo, silent clock: read",
         true,
         false,
         true,
         {"read", "--addr", "2", "0x43"},
         1,
         30,
         nullptr},
        {"echo, answering clock: read",
         true,
         false,
         false,
         {"read", "--addr", "2", "0x43"},
         0,
         30,
         "0x43="},
        {"babble, silent clock: sync", false, true, true, {"sync", "--addr", "2"}, 1, 30, nullptr},
        {"babble, silent clock: read-all",
         false,
         true,
         true,
         {"read-all", "--addr", "2"},
         1,
         60,
         nullptr},
        {"babble, silent clock: read",
         false,
         true,
         true,
         {"read", "--addr", "2", "0x43"},
         1,
         30,
         nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "ctlmisbehave" + std::to_string(n++);
        PortsDir();
        sim::Options o;
        o.name = name;
        o.clocks = {2};
        o.seed = 7;
        o.echo = c.echo;
        o.babble = c.babble;
        sim::Simulator sim(o);
        if (c.silent)
            sim.SetFaults(2, sim::Faults{.silent = true});
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        Args args{c.args[0], "--port", name};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const CtlResult r = RunCtl(args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_LT(r.seconds, c.within_s);
        if (c.out) {
            EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << r.out;
        }
        if (c.echo) {
            EXPECT_EQ(Count(r.err, "echoes what is sent"), 1u) << r.err;
        }
    }

    // The daemon on a babbling line ends within a second of SIGTERM.
    sim::Options o;
    o.name = "ctlbabbled";
    o.clocks = {2};
    o.babble = true;
    sim::Simulator sim(o);
    sim.SetFaults(2, sim::Faults{.silent = true});
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    CtlProcess d({"daemon", "--port", "ctlbabbled", "--addr", "2"});
    ASSERT_TRUE(WaitUntil([&] { return sim.FramesReceived(0x70) >= 1; }, 10000)) << d.ErrSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto asked = std::chrono::steady_clock::now();
    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(60000);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_LT(took.count(), 1.0) << r.err;
}

// The PC clock's state as the tool is to see it (CHRONAVEL_CLOCK_SYNC_FILE),
// for the processes started while this lives; the file may change meanwhile.
class SourceStateFile {
public:
    explicit SourceStateFile(const std::string& name, const std::string& text)
        : path_(PortsDir() + "/" + name)
    {
        Set(text);
        setenv("CHRONAVEL_CLOCK_SYNC_FILE", path_.c_str(), 1);
    }
    ~SourceStateFile() { unsetenv("CHRONAVEL_CLOCK_SYNC_FILE"); }
    void Set(const std::string& text) const { std::ofstream(path_) << text; }

private:
    std::string path_;
};

// One warning when the PC's clock is not synchronised, none otherwise; the
// clock gets the time either way.
TEST(CtlSync, WarnsOnceWhenThePcClockIsNotSynchronised)
{
    const std::vector<std::pair<std::string, size_t>> cases = {
        {"unsynchronised 16000000", 1}, {"synchronised 1500", 0}, {"unknown", 0}};
    for (const auto& [state, warnings] : cases) {
        auto sim = StartSim("ctlsyncsource", {1});
        ASSERT_TRUE(sim);
        const SourceStateFile source("source-sync", state);
        const CtlResult r = RunCtl({"sync", "--port", "ctlsyncsource", "--addr", "1"});
        EXPECT_EQ(r.code, 0) << state << r.err;
        EXPECT_EQ(sim->FramesReceived(0x70), 1u) << state;
        EXPECT_EQ(Count(r.err, "warning: the PC's clock is not synchronised to a time reference "
                               "(maximum error 16 s); the clocks get its time all the same"),
                  warnings)
            << state << r.err;
        EXPECT_EQ(Count(r.err, "warning"), warnings) << state << r.err;
    }
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

// A batch ends at its first read given up, naming register and clock; a
// reply lost once and answered on a resend still counts as read.
TEST(CtlReadAll, DeadClockEndsTheBatchWithinFifteenSeconds)
{
    auto silent = StartLine("ctlbatchsilent", {1}, 9600, {1});
    auto corrupt = StartSim("ctlbatchcorrupt", {1});
    auto lossy = StartSim("ctlbatchlossy", {5});
    ASSERT_TRUE(silent && corrupt && lossy);
    corrupt->SetFaults(1, sim::Faults{.corrupt_check = true});
    lossy->SetFaults(5, sim::Faults{.drop_every_nth = 2});
    lossy->SetRegister(5, 0x3D, 0xA7);
    lossy->SetRegister(5, 0x3E, 0x12);
    // All three at once: the dead ones are bounded by the first read's
    // retries, not by the batch's length.
    CtlProcess a({"read-all", "--port", "ctlbatchsilent", "--addr", "1"});
    CtlProcess b({"read-all", "--port", "ctlbatchcorrupt", "--addr", "1", "--json"});
    CtlProcess c({"read", "--port", "ctlbatchlossy", "--addr", "5", "0x3D", "0x3E", "0x3D"});
    for (CtlProcess* p : {&a, &b}) {
        const CtlResult r = p->Wait(40000);
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_LT(r.seconds, 15.0) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find("of clock 0x01: no answer after its retries; the rest of the batch"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_LE(silent->FramesReceived(0x74), 6u); // one read's four writes, a frame or two more
    const CtlResult r = c.Wait(40000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "0x3D=0xA7\n0x3E=0x12\n0x3D=0xA7\n");
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

// Only what differs from the clock is written, 0x4C last; a move onto
// another clock's address is refused before anything is written, exit 1.
TEST(CtlWrite, WritesOnlyWhatDiffersAndReadsItBack)
{
    auto sim = StartSim("ctlwritediff", {3, 4});
    ASSERT_TRUE(sim);
    const std::string volume = "0x43=" + std::to_string(sim->Register(4, 0x43));
    CtlResult r = RunCtl({"write", "--port", "ctlwritediff", "--addr", "4", "0x3D=0x12", volume});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(sim->FramesReceived(0x72), 1u);
    EXPECT_EQ(r.out, "0x3D=0x12\n");

    r = RunCtl({"write", "--port", "ctlwritediff", "--addr", "4", "0x4C=3", "0x3D=0x13"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(sim->Register(4, 0x3D), 0x12);
    EXPECT_EQ(sim->FramesReceived(0x72), 1u);
    EXPECT_NE(r.err.find("address 0x03 is taken"), std::string::npos) << r.err;
}

// A replaced clock gets the settings read from the old one: read-all --json
// saved to a file, restore into the new clock at its own address.
TEST(CtlRestore, ReadAllOutputIntoAReplacedClock)
{
    auto sim = StartSim("ctlrestore", {3, 4});
    ASSERT_TRUE(sim);
    const std::pair<uint8_t, uint8_t> old_settings[] = {
        {0x2B, 37},   {0x37, 0x83}, {0x3E, 0x06}, {0x3F, 0x05}, {0x4D, 0x3E},
        {0x51, 0xFF}, {0x52, 0xFD}, {0xD8, 5},    {0xE0, 4},    {0xE1, 0}};
    for (auto [reg, value] : old_settings)
        sim->SetRegister(3, reg, value);
    const CtlResult saved = RunCtl({"read-all", "--port", "ctlrestore", "--addr", "3", "--json"});
    ASSERT_EQ(saved.code, 0) << saved.err;
    TempDir dir;
    const std::string file = (dir.path() / "clock3.json").string();
    std::ofstream(file) << saved.out;

    const CtlResult r = RunCtl({"restore", "--port", "ctlrestore", "--addr", "4", file});
    ASSERT_EQ(r.code, 0) << r.err;
    for (int reg = 0x25; reg <= 0xFF; ++reg) {
        if (reg == 0x4C || reg == 0x4F || (reg > 0x52 && reg < 0xD8) ||
            (reg < 0x37 && reg % 2 == 0))
            continue;
        EXPECT_EQ(sim->Register(4, static_cast<uint8_t>(reg)),
                  sim->Register(3, static_cast<uint8_t>(reg)))
            << Hex(static_cast<uint8_t>(reg));
    }
    EXPECT_EQ(sim->Register(4, 0x4C), 4);

    // register=value lines too; a file that is neither is refused.
    std::ofstream(dir.path() / "lines.txt") << "# one register\n0x3D = 0x21\n";
    EXPECT_EQ(RunCtl({"restore", "--port", "ctlrestore", "--addr", "4",
                      (dir.path() / "lines.txt").string()})
                  .code,
              0);
    EXPECT_EQ(sim->Register(4, 0x3D), 0x21);
    std::ofstream(dir.path() / "bad.txt") << "volume loud\n";
    EXPECT_EQ(RunCtl({"restore", "--port", "ctlrestore", "--addr", "4",
                      (dir.path() / "bad.txt").string()})
                  .code,
              2);
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
    // The last probe may still be on its way through the simulator when the
    // tool has ended.
    EXPECT_TRUE(WaitUntil([&] { return sim->FramesReceived(0x74) >= 254u; }, 5000))
        << sim->FramesReceived(0x74);
}

// The census lists exactly the clocks that answer, in address order, with
// the master flag and on past the master; silent clocks are not among them.
TEST(CtlScan, CensusListsTheAnsweringClocks)
{
    struct Case {
        std::string name;
        int speed;
        std::vector<uint8_t> clocks, silent;
        std::optional<uint8_t> master;
        bool json;
        int code;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"ctlcensus",
         9600,
         {3, 7, 9, 200, 201},
         {9},
         uint8_t{200},
         false,
         0,
         "0x03\n0x07\n0xC8 master\n0xC9\n"},
        {"ctlcensusjson",
         115200,
         {5, 6},
         {},
         uint8_t{5},
         true,
         0,
         R"([{"addr":5,"master":true},{"addr":6,"master":false}])"
         "\n"},
        {"ctlcensusnone", 115200, {1}, {1}, std::nullopt, true, 1, "[]\n"},
    };
    for (const Case& k : cases) {
        auto sim = StartLine(k.name, k.clocks, k.speed, k.silent, k.master);
        ASSERT_TRUE(sim);
        Args args{"scan", "--port", k.name, "--speed", std::to_string(k.speed), "--all"};
        if (k.json)
            args.push_back("--json");
        const CtlResult r = RunCtl(args);
        EXPECT_EQ(r.code, k.code) << k.name << r.err;
        EXPECT_EQ(r.out, k.out) << k.name;
        EXPECT_LT(r.seconds, 30.0) << k.name;
    }
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
    ASSERT_TRUE(WaitUntil([&] { return Count(d.ErrSoFar(), "sync 0x01: answered") >= 4; }, 15000))
        << d.ErrSoFar();

    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(60000); // counted from the start
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Count(r.err, "has gone away"), 1u) << r.err;
    EXPECT_NE(r.err.find("is back"), std::string::npos) << r.err;
    EXPECT_GE(Count(r.err, "sync 0x01: answered"), 4u) << r.err;
    EXPECT_NE(r.err.find("stopped"), std::string::npos) << r.err;
}

// A time event seen as the port goes away (a resume: the adapter comes back
// seconds later) stays due: its sync goes out once the port is back, not at
// the next period.
TEST(CtlDaemon, TimeEventDuringALostPortIsMadeUpWhenItIsBack)
{
    auto sim = StartSim("ctlevent", {1});
    ASSERT_TRUE(sim);
    const SourceStateFile source("source-event", "unsynchronised 16000000");
    CtlProcess d({"daemon", "--port", "ctlevent", "--addr", "1", "--period-seconds", "3600",
                  "--retry-seconds", "1"});
    ASSERT_TRUE(WaitUntil([&] { return Count(d.ErrSoFar(), "sync 0x01: answered") >= 1; }, 15000))
        << d.ErrSoFar();
    source.Set("synchronised 2000"); // the event
    sim->CloseLine();                // and the port gone in the same moment
    ASSERT_TRUE(
        WaitUntil([&] { return d.ErrSoFar().find("has gone away") != std::string::npos; }, 15000))
        << d.ErrSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::string error;
    ASSERT_TRUE(sim->ReopenLine(&error)) << error;
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::string err = d.ErrSoFar();
            const size_t made = err.find("sync 0x01 (");
            return made != std::string::npos && err.find("): answered", made) != std::string::npos;
        },
        30000))
        << d.ErrSoFar();
    d.Signal(SIGTERM);
    EXPECT_EQ(d.Wait(10000).code, 0);
}

// The service manager's socket, as systemd offers it to a notify service.
class NotifySocket {
public:
    NotifySocket() : path_(PortsDir() + "/notify")
    {
        unlink(path_.c_str());
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path_.c_str());
        bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    ~NotifySocket()
    {
        close(fd_);
        unlink(path_.c_str());
    }
    const std::string& Path() const { return path_; }
    // Everything received so far, datagrams one after another.
    const std::string& Received()
    {
        char buf[512];
        for (ssize_t n; (n = recv(fd_, buf, sizeof buf, 0)) > 0;)
            got_.append(buf, static_cast<size_t>(n)).append("\n");
        return got_;
    }

private:
    std::string path_;
    int fd_ = -1;
    std::string got_;
};

nlohmann::json ReadJson(const std::string& path)
{
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

nlohmann::json ClockIn(const nlohmann::json& state, int addr)
{
    if (state.is_object() && state.contains("clocks"))
        for (const auto& c : state["clocks"])
            if (c["addr"] == addr)
                return c;
    return {};
}

TEST(CtlDaemon, SuperviseNoticesAClockGoingSilentAndBack)
{
    auto sim = StartLine("ctlsupervise", {1, 2}, 115200);
    ASSERT_TRUE(sim);
    NotifySocket notify;
    const std::string state_file = PortsDir() + "/state.json";
    setenv("NOTIFY_SOCKET", notify.Path().c_str(), 1);
    setenv("WATCHDOG_USEC", "400000", 1);
    CtlProcess d({"daemon", "--port", "ctlsupervise", "--speed", "115200", "--addr", "all",
                  "--period-seconds", "4", "--supervise", "--state-file", state_file});
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    // The socket is read all along, as a service manager does.
    const auto logged = [&](const std::string& what) {
        return WaitUntil(
            [&] {
                notify.Received();
                return d.ErrSoFar().find(what) != std::string::npos;
            },
            60000);
    };
    ASSERT_TRUE(logged("census: 2 clocks answering: 0x01, 0x02")) << d.ErrSoFar();
    ASSERT_TRUE(logged("sync all: sent to 2 clocks answering")) << d.ErrSoFar();
    EXPECT_TRUE(
        WaitUntil([&] { return notify.Received().find("READY=1") != std::string::npos; }, 5000));
    EXPECT_NE(notify.Received().find("STATUS=2 clocks answering on ctlsupervise"),
              std::string::npos)
        << notify.Received();
    // The exchange runs and the loop comes round: the watchdog is fed.
    EXPECT_TRUE(
        WaitUntil([&] { return notify.Received().find("WATCHDOG=1") != std::string::npos; }, 5000))
        << notify.Received();

    sim->SetFaults(2, sim::Faults{.silent = true});
    ASSERT_TRUE(logged("clock 0x02 has stopped answering")) << d.ErrSoFar();
    ASSERT_TRUE(logged("silent: 0x02")) << d.ErrSoFar(); // the next broadcast names it
    nlohmann::json silent;
    EXPECT_TRUE(WaitUntil(
        [&] {
            silent = ReadJson(state_file);
            return ClockIn(silent, 2)["answering"] == false;
        },
        5000))
        << silent.dump();
    EXPECT_EQ(silent["answering"], 1) << silent.dump();
    EXPECT_EQ(ClockIn(silent, 2)["answering"], false) << silent.dump();
    EXPECT_EQ(ClockIn(silent, 1)["answering"], true) << silent.dump();
    EXPECT_TRUE(ClockIn(silent, 2)["last_sync"].is_string()) << silent.dump();

    sim->SetFaults(2, sim::Faults{});
    ASSERT_TRUE(logged("clock 0x02 answers again after ")) << d.ErrSoFar();
    nlohmann::json back;
    EXPECT_TRUE(WaitUntil(
        [&] {
            back = ReadJson(state_file);
            return ClockIn(back, 2)["answering"] == true;
        },
        5000))
        << back.dump();
    EXPECT_GT(ClockIn(back, 2)["last_answer"].get<std::string>(),
              ClockIn(silent, 2)["last_answer"].get<std::string>());

    const auto stop_at = std::chrono::steady_clock::now();
    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(300000); // counted from the start
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - stop_at,
              std::chrono::seconds(10)); // mid-census too
    EXPECT_EQ(Count(r.err, "has stopped answering"), 1u) << r.err;
    // No temporary left beside it; the lock stays, let go, and the alarms'
    // history.
    for (const auto& e : std::filesystem::directory_iterator(PortsDir()))
        if (e.path() != state_file + ".lock" && e.path() != state_file + ".alarms.jsonl") {
            EXPECT_NE(e.path().string().rfind(state_file + ".", 0), 0u) << e.path();
        }
}

// The watch beside a streaming master at 9600 Bd: the period and a time
// event are not held up by the census, a clock that joins after it is
// found by the sweep, and one taken off the line is forgotten on request.
TEST(CtlDaemon, WatchKeepsTheTimeFramesFirstAndFindsAClockThatJoins)
{
    PortsDir();
    sim::Options o;
    o.name = "ctlwatch";
    o.clocks = {1, 2, 3, 6};
    o.master = 1;
    o.speed = 9600;
    o.seed = 7;
    o.log_path = PortsDir() + "/ctlwatch.log";
    sim::Simulator sim(o);
    sim.SetFaults(6, sim::Faults{.silent = true}); // joins later
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const SourceStateFile source("watch-source", "unsynchronised 16000000");
    const std::string state_file = PortsDir() + "/watch.json";
    CtlProcess d({"daemon", "--port", "ctlwatch", "--addr", "all", "--period-seconds", "10",
                  "--supervise", "--state-file", state_file});
    const auto logged = [&](const std::string& what, int ms = 90000) {
        return WaitUntil([&] { return d.ErrSoFar().find(what) != std::string::npos; }, ms);
    };
    ASSERT_TRUE(logged("census of the line (after the first sync)")) << d.ErrSoFar();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_EQ(d.ErrSoFar().find("census:"), std::string::npos) << "still under way";
    // A time event in the middle of the census goes out at once.
    const auto event_at = std::chrono::steady_clock::now();
    source.Set("synchronised 2000");
    ASSERT_TRUE(logged("sync all (", 10000)) << d.ErrSoFar();
    EXPECT_LT(std::chrono::steady_clock::now() - event_at, std::chrono::seconds(5));
    ASSERT_TRUE(logged("census: 3 clocks answering")) << d.ErrSoFar();

    sim.SetFaults(6, sim::Faults{});
    ASSERT_TRUE(logged("clock 0x06 answers; it is new on the line")) << d.ErrSoFar();
    const CtlResult asked = RunCtl({"ask", "--state-file", state_file, "forget", "6"});
    EXPECT_EQ(asked.code, 0) << asked.err;
    ASSERT_TRUE(logged("clock 0x06 forgotten")) << d.ErrSoFar();
    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(300000); // counted from the start
    EXPECT_EQ(r.code, 0) << r.err;

    // The period's frames kept their beat through the 40-second census: ten
    // seconds apart, give or take the second each waits for and the line
    // the master's blocks hold (once in three runs a frame went out 4 s
    // late; a census in front of it would hold it 40 s).
    std::vector<double> sets;
    std::istringstream log(GetFile(o.log_path));
    for (std::string line; std::getline(log, line);) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_object() && j.value("event", "") == "time_set") {
            const std::string t = j["t"];
            sets.push_back(std::stod(t.substr(11, 2)) * 3600 + std::stod(t.substr(14, 2)) * 60 +
                           std::stod(t.substr(17)));
        }
    }
    ASSERT_GE(sets.size(), 5u) << GetFile(o.log_path);
    for (size_t i = 1; i < sets.size(); ++i) {
        const double gap = std::fmod(sets[i] - sets[i - 1] + 86400, 86400);
        EXPECT_LE(gap, 15.0) << "time frame " << i;
    }
}

// Settings kept in a file on a line with a streaming master: exported,
// compared, applied with and without --check, each step answering with the
// exit code a deployment tool acts on and writing only what differs.
TEST(CtlConfig, ExportDiffApplyAnswerAsADeploymentToolExpects)
{
    auto sim = StartLine("ctlconfig", {1, 2, 5}, 115200, {}, 1);
    ASSERT_TRUE(sim);
    // Settings of the field, not the simulator's defaults.
    sim->SetRegister(5, 0x43, 6); // Volume
    sim->SetRegister(5, 0x51, 0xFF);
    sim->SetRegister(5, 0x52, 0xF6);
    const std::string dir = PortsDir();
    const std::string exported = dir + "/config-all.json";
    const std::string changed = dir + "/config-changed.json";
    const std::string silent = dir + "/config-silent.json";
    const std::vector<std::string> line = {"--port", "ctlconfig", "--speed", "115200"};
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 2, line.begin(), line.end());
        return RunCtl(args, 180000);
    };
    const CtlResult exp = run({"config", "export", "--addr", "all", "-o", exported});
    ASSERT_EQ(exp.code, 0) << exp.err;
    auto file = nlohmann::json::parse(GetFile(exported));
    EXPECT_EQ(file["format"], "chronavel-clock-settings");
    ASSERT_EQ(file["clocks"].size(), 3u) << file.dump();
    EXPECT_EQ(file["clocks"]["0x05"]["Volume"], 6);
    EXPECT_EQ(file["clocks"]["0x05"]["DayCorrection"], -10);
    file["clocks"]["0x05"]["Volume"] = 7;
    PutFile(changed, file.dump());
    file["clocks"]["0x09"] = file["clocks"]["0x05"]; // no such clock on the line
    PutFile(silent, file.dump());

    struct Step {
        std::vector<std::string> args;
        int code;
        size_t writes; // register writes the line saw
        std::string out;
    };
    const std::vector<Step> steps = {
        {{"config", "diff", exported}, 0, 0, ""},
        {{"config", "diff", changed}, 2, 0, "0x05 Volume: clock 6, file 7"},
        {{"config", "apply", changed, "--check"}, 2, 0, "0x05 Volume: would be written"},
        {{"config", "apply", changed, "--json"},
         2,
         1,
         R"("0x05":{"changed":["Volume"],"failed":[]})"},
        {{"config", "apply", changed}, 0, 0, ""},
        {{"config", "diff", changed}, 0, 0, ""},
        {{"config", "diff", silent}, 1, 0, ""},
        {{"config", "apply", silent, "--json"}, 1, 0, R"("0x09":{"changed":[],"failed":[)"},
        {{"config", "apply", dir + "/nothing.json"}, 1, 0, ""},
        {{"config", "apply"}, 1, 0, ""},
    };
    for (const Step& step : steps) {
        const size_t before = sim->FramesReceived(0x72);
        const CtlResult r = run(step.args);
        std::string what;
        for (const std::string& a : step.args)
            what += a + " ";
        EXPECT_EQ(r.code, step.code) << what << "\n" << r.out << r.err;
        EXPECT_EQ(sim->FramesReceived(0x72) - before, step.writes) << what;
        EXPECT_NE(r.out.find(step.out), std::string::npos) << what << "\n" << r.out;
    }
    EXPECT_EQ(sim->Register(5, 0x43), 7);

    // The daemon watching clock 5 against the file: a volume changed at the
    // clock's own keys raises settings_drift naming it, and putting it back
    // clears it; the daemon writes nothing.
    file = nlohmann::json::parse(GetFile(changed));
    file["clocks"] = {{"0x05", file["clocks"]["0x05"]}};
    const std::string watched = dir + "/config-watched.json";
    PutFile(watched, file.dump());
    sim->SetRegister(5, 0x43, 3);
    const size_t writes = sim->FramesReceived(0x72);
    CtlProcess d({"daemon", "--port", "ctlconfig", "--speed", "115200", "--addr", "all",
                  "--period-seconds", "60", "--supervise", "--settings", watched});
    const auto logged = [&](const std::string& what) {
        return WaitUntil([&] { return d.ErrSoFar().find(what) != std::string::npos; }, 240000);
    };
    ASSERT_TRUE(logged("alarm raised settings_drift 0x05: Настройки часов $05/5 на линии "
                       "ctlconfig отличаются от файла настроек: Volume 3, в файле 7"))
        << d.ErrSoFar();
    sim->SetRegister(5, 0x43, 7);
    ASSERT_TRUE(logged("alarm cleared settings_drift 0x05")) << d.ErrSoFar();
    d.Signal(SIGTERM);
    EXPECT_EQ(d.Wait(600000).code, 0);
    EXPECT_EQ(sim->FramesReceived(0x72), writes);
}

// Alarms on a line with a master: the master switched off, the port pulled
// out and put back. Each alarm is raised and cleared once, in the log, the
// history beside the state file and the administrator's program, which gets
// its environment and, when it hangs, is killed while the clocks go on
// being set.
TEST(CtlDaemon, AlarmsAreRaisedAndClearedOnceAndHandedToAProgram)
{
    auto sim = StartLine("ctlalarm", {1, 2}, 115200, {}, 1);
    ASSERT_TRUE(sim);
    const std::string state_file = PortsDir() + "/alarm-state.json";
    const std::string record = PortsDir() + "/alarm-record";
    const std::string program = PortsDir() + "/on-alarm";
    // Records what it is given; the master's loss makes it hang.
    PutFile(program, "#!/bin/sh\n"
                     "echo \"$CHRONAVEL_STATE $CHRONAVEL_ALARM $CHRONAVEL_ADDR|$CHRONAVEL_PORT|"
                     "$CHRONAVEL_TIME|$CHRONAVEL_TEXT\" >> \"$1\"\n"
                     "[ \"$CHRONAVEL_STATE $CHRONAVEL_ALARM\" = \"raised master_lost\" ] && "
                     "exec sleep 60\n"
                     "exit 0\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const SourceStateFile source("alarm-source", "synchronised 2000");
    CtlProcess d({"daemon", "--port", "ctlalarm", "--speed", "115200", "--addr", "all",
                  "--period-seconds", "4", "--retry-seconds", "1", "--supervise", "--state-file",
                  state_file, "--on-alarm-spacing-seconds", "2", "--on-alarm", program, record});
    const auto logged = [&](const std::string& what) {
        return WaitUntil([&] { return d.ErrSoFar().find(what) != std::string::npos; }, 90000);
    };
    ASSERT_TRUE(logged("census: 2 clocks answering: 0x01 (master), 0x02")) << d.ErrSoFar();

    sim->SetFaults(1, sim::Faults{.silent = true});
    ASSERT_TRUE(logged("alarm raised master_lost 0x01: Ведущие часы $01/1 на линии ctlalarm "
                       "пропали: на линии нет ведущих часов"))
        << d.ErrSoFar();
    ASSERT_TRUE(logged("took over 10 s and was killed (for raised master_lost 0x01)"))
        << d.ErrSoFar();
    sim->SetFaults(1, sim::Faults{});
    ASSERT_TRUE(logged("alarm cleared master_lost 0x01")) << d.ErrSoFar();
    ASSERT_TRUE(logged("alarm cleared clock_silent 0x01")) << d.ErrSoFar();

    sim->CloseLine();
    ASSERT_TRUE(logged("alarm raised port_lost: Порт ctlalarm недоступен")) << d.ErrSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::string error;
    ASSERT_TRUE(sim->ReopenLine(&error)) << error;
    ASSERT_TRUE(logged("alarm cleared port_lost")) << d.ErrSoFar();
    EXPECT_LT(d.ErrSoFar().find("alarm cleared port_lost"),
              d.ErrSoFar().find("census", d.ErrSoFar().find("is back")))
        << "cleared as the port is back, before the census: " << d.ErrSoFar();

    source.Set("unsynchronised 16000000");
    ASSERT_TRUE(logged("alarm raised pc_clock_unsynchronised")) << d.ErrSoFar();
    source.Set("synchronised 2000");
    ASSERT_TRUE(logged("alarm cleared pc_clock_unsynchronised")) << d.ErrSoFar();
    // The program's last run (the clear, spaced from the raise) is done.
    EXPECT_TRUE(WaitUntil([&] { return Count(GetFile(record), "\n") >= 8; }, 30000))
        << GetFile(record);
    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(600000); // counted from the start
    EXPECT_EQ(r.code, 0) << r.err;

    const std::string rec = GetFile(record);
    // As the log and the program name them (the program's address is empty
    // where none applies).
    const std::vector<std::pair<std::string, std::string>> alarms = {
        {"master_lost 0x01:", "master_lost 0x01|"},
        {"clock_silent 0x01:", "clock_silent 0x01|"},
        {"port_lost:", "port_lost |"},
        {"pc_clock_unsynchronised:", "pc_clock_unsynchronised |"}};
    for (const auto& [logged_as, given_as] : alarms) {
        EXPECT_EQ(Count(r.err, "alarm raised " + logged_as), 1u) << logged_as << "\n" << r.err;
        EXPECT_EQ(Count(r.err, "alarm cleared " + logged_as), 1u) << logged_as << "\n" << r.err;
        EXPECT_EQ(Count(rec, "raised " + given_as + "ctlalarm|"), 1u) << rec;
        EXPECT_EQ(Count(rec, "cleared " + given_as + "ctlalarm|"), 1u) << rec;
    }
    EXPECT_EQ(Count(r.err, "alarm raised"), 4u) << r.err;
    // The hanging program held nothing up: the clocks were set after it.
    const size_t killed = r.err.find("was killed");
    EXPECT_TRUE(r.err.find("sync all: sent to", killed) != std::string::npos ||
                r.err.find("): sent to", killed) != std::string::npos)
        << r.err;
    static const std::regex line(
        R"(raised clock_silent 0x01\|ctlalarm\|\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\|Часы \$01/1 на линии ctlalarm не отвечают\n)");
    EXPECT_TRUE(std::regex_search(rec, line)) << rec;
    // The history survives the daemon: eight events, none active.
    EXPECT_EQ(Count(GetFile(state_file + ".alarms.jsonl"), "\n"), 8u);
    EXPECT_EQ(ReadJson(state_file)["alarms"], nlohmann::json::array());
}

// With --require-synced the syncs wait while the PC's clock is known to be
// unsynchronised, each one skipped logged; once it is synchronised again
// the clocks get the time at once. The start and every change are logged,
// and the supervising daemon's state file carries the source's state.
// A port whose name is not UTF-8 (any bytes make a file name) is shown with
// replacement characters in the state file and the log; the daemon keeps
// the clock set.
TEST(CtlDaemon, PortNameThatIsNotUtf8IsShownWithReplacementCharacters)
{
    auto sim = StartSim("ctlbad\xff", {1});
    ASSERT_TRUE(sim);
    const std::string state_file = PortsDir() + "/bad-name.json";
    const CtlResult r = RunCtl({"daemon", "--port", "ctlbad\xff", "--addr", "1", "--count", "1",
                                "--supervise", "--state-file", state_file});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("on ctlbad\xef\xbf\xbd in time"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sync 0x01: answered"), std::string::npos) << r.err;
    EXPECT_EQ(ReadJson(state_file)["port"], "ctlbad\xef\xbf\xbd");
}

TEST(CtlDaemon, RequireSyncedSkipsWhileThePcClockIsNotSynchronised)
{
    auto sim = StartLine("ctlrequire", {1}, 115200);
    ASSERT_TRUE(sim);
    const std::string state_file = PortsDir() + "/require.json";
    const SourceStateFile source("source-daemon", "unsynchronised 16000000");
    CtlProcess d({"daemon", "--port", "ctlrequire", "--speed", "115200", "--addr", "1",
                  "--period-seconds", "2", "--require-synced", "--supervise", "--state-file",
                  state_file});
    const auto logged = [&](const std::string& what, size_t times) {
        return WaitUntil([&] { return Count(d.ErrSoFar(), what) >= times; }, 60000);
    };
    ASSERT_TRUE(logged("sync 0x01: skipped, the PC's clock is not synchronised", 2))
        << d.ErrSoFar();
    EXPECT_EQ(sim->FramesReceived(0x70), 0u);
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadJson(state_file)["source"]["state"] == "unsynchronised"; }, 5000));

    source.Set("synchronised 2000");
    ASSERT_TRUE(logged("sync 0x01: answered", 1)) << d.ErrSoFar();
    EXPECT_TRUE(
        WaitUntil([&] { return ReadJson(state_file)["source"]["max_error_us"] == 2000; }, 5000));
    source.Set("unsynchronised 16000000");
    ASSERT_TRUE(logged("PC clock: not synchronised (maximum error 16 s), was synchronised", 1))
        << d.ErrSoFar();

    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(300000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Count(r.err, "warning: the PC's clock is not synchronised"), 1u) << r.err;
    EXPECT_EQ(Count(r.err, "PC clock: synchronised (maximum error 2 ms), was unsynchronised"), 1u)
        << r.err;
    // Answered only after the change: no sync went out while unsynchronised.
    const size_t change = r.err.find("PC clock: synchronised");
    EXPECT_LT(change, r.err.find("sync 0x01: answered")) << r.err;
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

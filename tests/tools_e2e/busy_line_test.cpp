// chronavelctl on a line as the field has it: a master streaming its status
// and text blocks beside the clock being worked on, settings in every
// register, an adapter that hands the program's bytes back late, replies
// lost now and then. Each row is a line, the commands run against it, and
// what the tool and the clocks must show afterwards.
#include "config/registers.h"
#include "link/frames.h"
#include "sim/sim.h"
#include "support/temp_dir.h"
#include "tools_e2e/run_ctl.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace chronavel::test {
namespace {

using Args = std::vector<std::string>;

constexpr uint8_t kMaster = 1;

// Settings a clock in service holds: every register of the settings batch
// set, no two clocks alike, the text lengths up to their first zero, the
// master bit only where the line has its master.
uint8_t FieldSetting(uint8_t clock, uint8_t reg, bool master)
{
    if (reg == kRegClockAddr)
        return clock;
    if (reg == kRegMasterFlags)
        return master ? 0x80 : 0x3E;
    if (reg >= kRegTextLen0)
        return reg < kRegTextLen0 + 2 ? static_cast<uint8_t>(3 + clock + reg - kRegTextLen0) : 0;
    if (reg >= kRegFieldFormat0)
        return static_cast<uint8_t>(2 + (clock + reg) % 4);
    return static_cast<uint8_t>(clock * 3 + (reg & 0x07) + 1);
}

struct LineSetup {
    std::vector<uint8_t> clocks{};
    bool master = false; // clock 1 streams its blocks
    int status_interval_ms = 1000;
    sim::Faults faults{};                                        // line-wide
    int echo_delay_ms = -1;                                      // >= 0: the line echoes, this late
    std::vector<std::pair<uint8_t, uint8_t>> silent_registers{}; // clock, register
};

// One run of the tool. "{file}" in the arguments is a file private to the
// row; when saved, the run's standard output goes into it.
struct Step {
    Args args{};                      // --port is put in after the subcommand
    bool ok = true;                   // exit 0; otherwise a failure exit (not a kill)
    std::optional<std::string> out{}; // all of standard output, when given
    std::vector<std::string> err_has{}, err_lacks{}, out_lacks{};
    bool json_of_clock = false; // read-all --json: the addressed clock's own settings
    bool saved = false;
};

struct Write {
    int addr, reg, value;
    bool operator==(const Write&) const = default;
};

void PrintTo(const Write& w, std::ostream* os)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:0x%02X=0x%02X", w.addr, w.reg, w.value);
    *os << buf;
}

struct Held {
    uint8_t addr, reg, value; // 0x4C reads 0 where no clock is
};

struct Row {
    const char* name = "";
    LineSetup line{};
    std::vector<Step> steps{};
    std::vector<Write> writes{}; // every register write the clocks heard, in order
    std::vector<Held> holds{};
    // Every register read the clocks heard, they heard once: no answer that
    // came was lost to a reply that was not its own.
    bool reads_once = false;
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

Step Backup(const char* addr)
{
    return {.args = {"read-all", "--addr", addr, "--json"},
            .err_lacks = {"no answer"},
            .json_of_clock = true,
            .saved = true};
}

Step RestoreBackup(const char* addr)
{
    return {.args = {"restore", "--addr", addr, "{file}"},
            .out = "",
            .err_lacks = {"did not take", "no answer"}};
}

const Row kRows[] = {
    // The clock holds everything in its own backup already: nothing to write.
    {.name = "RestoreOwnBackupOfTheMaster",
     .line = {.clocks = {1, 2}, .master = true, .status_interval_ms = 300},
     .steps = {Backup("1"), RestoreBackup("1")}},
    {.name = "RestoreOwnBackupBesideTheMaster",
     .line = {.clocks = {1, 2}, .master = true, .status_interval_ms = 300},
     .steps = {Backup("2"), RestoreBackup("2")}},
    {.name = "RestoreOwnBackupOnAQuietLine", // the same without the master
     .line = {.clocks = {1, 2}},
     .steps = {Backup("2"), RestoreBackup("2")}},
    // Nothing at 2 answers; the program's own frames come back 60 ms late.
    {.name = "LateEchoIsNoAnswer",
     .line = {.clocks = {1}, .echo_delay_ms = 60},
     .steps = {{.args = {"sync", "--addr", "2"}, .ok = false, .out = "", .err_lacks = {"time set"}},
               {.args = {"read", "--addr", "2", "0x43"}, .ok = false, .out = ""}}},
    // Clock 5 holds address 5 and one reply in three is lost: the address
    // is taken, and the move is refused before anything is written. (Had it
    // been written, a lost answer to "are you still at 2?" followed by
    // clock 5 answering at 5 would pass for the move.)
    {.name = "MoveOntoAnOccupiedAddressIsRefused",
     .line = {.clocks = {2, 5}, .faults = {.drop_every_nth = 3}},
     .steps = {{.args = {"write", "--addr", "2", "0x4C=5"},
                .ok = false,
                .err_has = {"0x05"},
                .err_lacks = {"new address"},
                .out_lacks = {"0x4C="}}},
     .holds = {{2, kRegClockAddr, 2}, {5, kRegClockAddr, 5}}},
    // The clock never answers reads of its address register. It was reached
    // at 2, so 0x4C=7 is a move all the same; the clock answering at 7 shows
    // that 0x4C took, and the other writes are read back there.
    {.name = "MoveWithTheAddressNeverAnsweredIsFollowed",
     .line = {.clocks = {2}, .silent_registers = {{2, kRegClockAddr}}},
     .steps = {{.args = {"write", "--addr", "2", "0x3D=0x12", "0x4C=7"},
                .out = "0x3D=0x12\n0x4C=0x07\n",
                .err_has = {"at its new address 0x07"},
                .err_lacks = {"did not take", "not written"}}},
     .writes = {{2, 0x3D, 0x12}, {2, kRegClockAddr, 7}},
     .holds = {{7, kRegClockAddr, 7}, {7, 0x3D, 0x12}, {2, kRegClockAddr, 0}}},
    // A 100-byte status block every 150 ms leaves a quarter of the line free
    // at 9600 bit/s; the reads go out one after another, and each answer,
    // late behind a block, must still go to its own read.
    {.name = "ReadAllBesideADenseMaster",
     .line = {.clocks = {1, 2}, .master = true, .status_interval_ms = 150},
     .steps = {Backup("2")},
     .reads_once = true},
    {.name = "ReadAllOfADenseMaster",
     .line = {.clocks = {1, 2}, .master = true, .status_interval_ms = 150},
     .steps = {Backup("1")},
     .reads_once = true},
};

// What the clocks heard from the program, from the simulator's frame log.
struct Heard {
    std::vector<Write> writes;                // in order
    std::map<std::pair<int, int>, int> reads; // (clock, register): how often
};

Heard FromLog(const std::string& path)
{
    const auto text = [](uint8_t cmd) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "0x%02X", cmd);
        return std::string(buf);
    };
    const std::string write_cmd = text(kCmdWriteRegister), read_cmd = text(kCmdReadRegister);
    Heard h;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object() || j.value("dir", "") != "rx" || !j.value("check_ok", false))
            continue;
        const int addr = j.value("addr", -1), reg = j.value("p1", -1);
        const std::string cmd = j.value("cmd", "");
        if (cmd == write_cmd)
            h.writes.push_back({addr, reg, j.value("p2", -1)});
        else if (cmd == read_cmd)
            ++h.reads[{addr, reg}];
    }
    return h;
}

// The registers read more than once, "clock:register xN" each.
std::string ReadAgain(const Heard& h)
{
    std::string s;
    char buf[32];
    for (const auto& [at, times] : h.reads) {
        if (times > 1) {
            std::snprintf(buf, sizeof buf, "%d:0x%02X x%d ", at.first, at.second, times);
            s += buf;
        }
    }
    return s;
}

// The parts of read-all --json that are plain registers, against the clock's.
void ExpectClocksOwn(const std::string& out, const sim::Simulator& sim, uint8_t addr)
{
    const auto j = nlohmann::json::parse(out, nullptr, false);
    ASSERT_TRUE(j.is_object()) << out;
    const auto reg = [&](int n) { return int(sim.Register(addr, static_cast<uint8_t>(n))); };
    for (int i = 0; i < kExpoCount; ++i)
        EXPECT_EQ(j["Expo"][i], reg(kRegExpo0 + 2 * i)) << "Expo " << i;
    for (int i = 0; i < kFieldFormatCount; ++i)
        EXPECT_EQ(j["FieldFormat"][i], reg(kRegFieldFormat0 + i)) << "FieldFormat " << i;
    for (int i = 0; i < kTextLenCount; ++i)
        EXPECT_EQ(j["TextLen"][i], reg(kRegTextLen0 + i)) << "TextLen " << i;
    EXPECT_EQ(j["ClockAddr"], addr);
    EXPECT_EQ(j["MasterFlags"], reg(kRegMasterFlags));
    EXPECT_EQ(j["Volume"], reg(kRegVolume));
}

class BusyLine : public ::testing::TestWithParam<Row> {};

TEST_P(BusyLine, ToolAnswersForTheClockItAddresses)
{
    const Row& row = GetParam();
    const LineSetup& setup = row.line;
    TempDir dir;
    const std::string port = std::string("busy") + row.name;
    const std::string log = (dir.path() / "frames.jsonl").string();
    const std::string file = (dir.path() / "settings").string();

    PortsDir();
    sim::Options o;
    o.name = port;
    o.clocks = setup.clocks;
    if (setup.master)
        o.master = kMaster;
    o.status_interval_ms = setup.status_interval_ms;
    o.text_interval_ms = 2000;
    o.faults = setup.faults;
    o.echo = setup.echo_delay_ms >= 0;
    o.echo_delay_ms = std::max(0, setup.echo_delay_ms);
    o.log_path = log;
    o.seed = 29;
    sim::Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    for (uint8_t clock : setup.clocks)
        for (uint8_t reg : ReadBatchRegisters())
            if (reg != kRegClockAddr)
                sim.SetRegister(clock, reg,
                                FieldSetting(clock, reg, setup.master && clock == kMaster));
    for (const auto& [clock, reg] : setup.silent_registers)
        sim.SetSilentRegister(clock, reg, true);

    for (const Step& step : row.steps) {
        Args args{step.args[0], "--port", port};
        std::string command = "chronavelctl " + step.args[0];
        for (size_t i = 1; i < step.args.size(); ++i) {
            args.push_back(step.args[i] == "{file}" ? file : step.args[i]);
            command += " " + step.args[i];
        }
        SCOPED_TRACE(command);
        const CtlResult r = RunCtl(args, 40000);
        if (step.ok) {
            EXPECT_EQ(r.code, 0) << "stderr:\n" << r.err;
        } else {
            EXPECT_GT(r.code, 0) << "stderr:\n" << r.err;
        }
        if (step.out) {
            EXPECT_EQ(r.out, *step.out);
        }
        for (const std::string& s : step.err_has)
            EXPECT_NE(r.err.find(s), std::string::npos) << s;
        for (const std::string& s : step.err_lacks)
            EXPECT_EQ(r.err.find(s), std::string::npos) << s;
        for (const std::string& s : step.out_lacks)
            EXPECT_EQ(r.out.find(s), std::string::npos) << s;
        if (step.json_of_clock)
            ExpectClocksOwn(r.out, sim, static_cast<uint8_t>(std::stoi(step.args[2], nullptr, 0)));
        if (step.saved)
            PutFile(file, r.out);
    }

    const Heard heard = FromLog(log);
    EXPECT_EQ(heard.writes, row.writes);
    if (row.reads_once) {
        EXPECT_EQ(ReadAgain(heard), "");
    }
    for (const Held& h : row.holds)
        EXPECT_EQ(sim.Register(h.addr, h.reg), h.value)
            << "clock " << int(h.addr) << " register " << int(h.reg);
}

INSTANTIATE_TEST_SUITE_P(Field, BusyLine, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& p) {
                             return std::string(p.param.name);
                         });

} // namespace
} // namespace chronavel::test

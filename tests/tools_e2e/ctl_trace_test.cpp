// chronavelctl --trace: the frames on the line, one line each on standard
// error, byte for byte what the simulated clock saw and sent.
#include "link/frames.h"
#include "sim/sim.h"
#include "support/temp_dir.h"
#include "tools_e2e/run_ctl.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace chronavel::test {
namespace {

struct TraceLine {
    std::string Dir, Addr, Cmd, Note, Bytes;
};

std::vector<TraceLine> TraceLines(const std::string& err)
{
    static const std::regex kLine(
        R"(^\d\d:\d\d:\d\d\.\d\d\d (TX|RX) addr \$([0-9A-F]{2}) cmd \$([0-9A-F]{2})([^:]*):(.*)$)");
    std::vector<TraceLine> out;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, kLine))
            out.push_back({m[1], m[2], m[3], m[4], m[5]});
    }
    return out;
}

std::string HexList(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, " %02X", b);
        s += buf;
    }
    return s;
}

std::vector<uint8_t> FromHex(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(CtlTrace, SyncTraceNamesTheBytesTheClockSawAndSent)
{
    PortsDir();
    TempDir dir("ctl-trace");
    sim::Options o;
    o.name = "ctltrace";
    o.clocks = {1, 2};
    o.seed = 7;
    o.log_path = (dir.path() / "sim.log").string();
    sim::Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    // The flag before or after the subcommand; without it, no trace.
    const std::vector<std::vector<std::string>> runs = {
        {"--trace", "sync", "--port", "ctltrace", "--addr", "2"},
        {"sync", "--port", "ctltrace", "--addr", "2", "--trace"},
        {"sync", "--port", "ctltrace", "--addr", "2"},
    };
    std::vector<std::vector<TraceLine>> traces;
    for (const auto& args : runs) {
        const CtlResult r = RunCtl(args);
        ASSERT_EQ(r.code, 0) << r.err;
        traces.push_back(TraceLines(r.err));
    }
    EXPECT_TRUE(traces[2].empty());

    // The simulator's own record of the three 0x70 frames and its answers.
    std::vector<nlohmann::json> heard, answered;
    std::ifstream log(o.log_path);
    for (std::string line; std::getline(log, line);) {
        const auto j = nlohmann::json::parse(line);
        if (j.value("cmd", "") != "0x70")
            continue;
        (j["dir"] == "rx" ? heard : answered).push_back(j);
    }
    ASSERT_EQ(heard.size(), 3u);
    ASSERT_EQ(answered.size(), 3u);

    for (size_t run = 0; run < 2; ++run) {
        const auto& t = traces[run];
        ASSERT_EQ(t.size(), 2u) << "run " << run;
        const auto data = FromHex(heard[run]["data"]);
        ASSERT_EQ(data.size(), 7u);
        EXPECT_EQ(t[0].Dir + t[0].Addr + t[0].Cmd + t[0].Note, "TX0270");
        EXPECT_EQ(t[0].Bytes, HexList(BuildDataFrame(2, kCmdSetTime, 0, 7, data.data())));

        const auto& a = answered[run];
        std::vector<uint8_t> header{
            kSync,       a["addr"].get<uint8_t>(), a["addr2"].get<uint8_t>(),
            kCmdSetTime, a["p1"].get<uint8_t>(),   a["p2"].get<uint8_t>()};
        const uint16_t sum = SumBytes(header.data(), header.size());
        header.push_back(CheckByte1(sum));
        header.push_back(CheckByte2(sum));
        EXPECT_EQ(t[1].Dir + t[1].Addr + t[1].Cmd + t[1].Note, "RX0270");
        EXPECT_EQ(t[1].Bytes, HexList(header));
    }
}

} // namespace
} // namespace chronavel::test

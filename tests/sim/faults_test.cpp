#include "link/frames.h"
#include "sim/sim.h"
#include "tests/sim/line_client.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace chronavel::sim {
namespace {

using testing::LineClient;
using testing::ParseReplies;
using testing::PortDir;
using Bytes = std::vector<uint8_t>;

class FaultTest : public ::testing::Test {
protected:
    void StartSim(Faults f = {}, std::vector<uint8_t> clocks = {1})
    {
        Options o;
        o.clocks = std::move(clocks);
        o.seed = 7;
        o.speed = 115200;
        o.faults = f;
        sim_ = std::make_unique<Simulator>(o);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        client_ = std::make_unique<LineClient>(sim_->LinkPath());
        ASSERT_TRUE(client_->ok());
    }
    Bytes Ask(uint8_t addr = 1, int max_ms = 800)
    {
        client_->Flush();
        client_->Write(BuildShortFrame(addr, 0x74, 0x25, 0));
        return client_->Read(max_ms);
    }

    PortDir dir_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<LineClient> client_;
};

TEST_F(FaultTest, SilentClockActsButNeverAnswers)
{
    Faults f;
    f.silent = true;
    StartSim(f);
    client_->Write(BuildShortFrame(1, 0x72, 0x3D, 0x33));
    EXPECT_TRUE(client_->Read(500).empty());
    EXPECT_EQ(sim_->Register(1, 0x3D), 0x33);
    sim_->ClearFaults();
    EXPECT_EQ(ParseReplies(Ask()).size(), 1u);
}

TEST_F(FaultTest, DropEveryNthAndFraction)
{
    Faults f;
    f.drop_every_nth = 3;
    StartSim(f);
    std::vector<bool> answered;
    for (int i = 0; i < 6; ++i)
        answered.push_back(!ParseReplies(Ask(1, 400)).empty());
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false}));

    f = {};
    f.drop_fraction = 1.0;
    sim_->SetFaults(1, f);
    EXPECT_TRUE(Ask(1, 400).empty());
    f.drop_fraction = 0.0;
    sim_->SetFaults(1, f);
    EXPECT_FALSE(Ask(1, 400).empty());
}

TEST_F(FaultTest, CorruptedRepliesAreNotFoundByAReceiver)
{
    StartSim();
    Faults f;
    f.corrupt_check = true;
    sim_->SetFaults(0xFF, f);
    const Bytes got = Ask();
    EXPECT_EQ(got.size(), 9u);
    EXPECT_TRUE(ParseReplies(got).empty());

    // Wrong address and wrong command: found, but not what was asked.
    f = {};
    f.wrong_addr = true;
    f.wrong_cmd = true;
    sim_->SetFaults(1, f); // the clock's own faults win over the line's
    const auto r = ParseReplies(Ask());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NE(r[0].addr, 1);
    EXPECT_NE(r[0].cmd, 0x74);
    EXPECT_FALSE(HasDataBlock(r[0].cmd));
}

TEST_F(FaultTest, NoiseAndStrayBytesComeBeforeTheReply)
{
    Faults f;
    f.noise_bytes = 12;
    f.stray_e0 = true;
    StartSim(f);
    const Bytes got = Ask();
    EXPECT_EQ(got.size(), 12u + 1 + 9);
    EXPECT_EQ(got[12], 0xE0);
    const auto r = ParseReplies(got);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].cmd, 0x74);
}

TEST_F(FaultTest, BadDataCheckOnBlocks)
{
    Faults f;
    f.bad_data_check = true;
    StartSim(f);
    sim_->SetRegister(1, 0x4D, 0x80);
    const auto r = ParseReplies(client_->Read(1500, 400));
    ASSERT_FALSE(r.empty());
    for (const auto& x : r)
        EXPECT_FALSE(x.data_ok);
}

TEST_F(FaultTest, SlowAndLateReplies)
{
    Faults f;
    f.slow_gap_ms = 90;
    StartSim(f);
    client_->Flush();
    const auto t0 = std::chrono::steady_clock::now();
    client_->Write(BuildShortFrame(1, 0x80, 0, 0));
    const Bytes got = client_->Read(3000, 400);
    EXPECT_EQ(got.size(), 9u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(8 * 90));

    f = {};
    f.late_ms = 400;
    sim_->SetFaults(0xFF, f);
    client_->Flush();
    client_->Write(BuildShortFrame(1, 0x80, 0, 0));
    EXPECT_TRUE(client_->Read(250, 250).empty());
    EXPECT_EQ(client_->Read(1500).size(), 9u);
}

TEST_F(FaultTest, LineEndsAbruptlyAndComesBackUnderTheSameName)
{
    StartSim();
    const std::string link = sim_->LinkPath();
    ASSERT_FALSE(ParseReplies(Ask()).empty());
    sim_->CloseLine();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    client_->Read(300);
    EXPECT_TRUE(client_->HungUp());

    std::string error;
    ASSERT_TRUE(sim_->ReopenLine(&error)) << error;
    EXPECT_EQ(sim_->LinkPath(), link);
    client_ = std::make_unique<LineClient>(link);
    ASSERT_TRUE(client_->ok());
    EXPECT_EQ(ParseReplies(Ask()).size(), 1u);
}

TEST_F(FaultTest, SameSeedSameNoise)
{
    Faults f;
    f.noise_bytes = 16;
    f.drop_fraction = 0.5;
    std::vector<Bytes> runs;
    for (int run = 0; run < 2; ++run) {
        StartSim(f);
        EXPECT_EQ(sim_->Seed(), 7u);
        Bytes all;
        for (int i = 0; i < 6; ++i) {
            // Read to the end however slow the machine (a sanitizer's build
            // beside other tests): a reply cut short would differ by timing.
            client_->Flush();
            client_->Write(BuildShortFrame(1, 0x74, 0x25, 0));
            const Bytes got = client_->Read(1500, 400);
            all.insert(all.end(), got.begin(), got.end());
            all.push_back(0xAA); // marks each exchange
        }
        runs.push_back(all);
        client_.reset();
        sim_.reset();
    }
    EXPECT_EQ(runs[0], runs[1]);
}

TEST(SimLink, AppearsReplacesStaleAndDisappears)
{
    PortDir dir;
    const std::string path = dir.path() + "/simX";
    ASSERT_EQ(symlink("/dev/null-gone", path.c_str()), 0); // left by a killed run
    Options o;
    o.name = "simX";
    {
        Simulator sim(o);
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        EXPECT_EQ(sim.LinkPath(), path);
        EXPECT_EQ(std::filesystem::read_symlink(path).string(), sim.DevicePath());
        EXPECT_NE(sim.Seed(), 0u);
        sim.Stop();
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
        ASSERT_TRUE(sim.Start(&error)) << error;
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
}

TEST(SimLink, RefusesBadOptions)
{
    PortDir dir;
    std::string error;
    Options o;
    o.clocks = {1, 1};
    EXPECT_FALSE(Simulator(o).Start(&error));
    o.clocks = {0xFF};
    EXPECT_FALSE(Simulator(o).Start(&error));
    o.clocks = {1};
    o.master = 2;
    EXPECT_FALSE(Simulator(o).Start(&error));
    o.master.reset();
    o.name = "../x";
    EXPECT_FALSE(Simulator(o).Start(&error));
    EXPECT_FALSE(error.empty());
    // A real file in the link's place is not clobbered.
    o.name = "file";
    std::ofstream(dir.path() + "/file") << "keep";
    EXPECT_FALSE(Simulator(o).Start(&error));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() + "/file"));
}

TEST(SimLog, OneJsonLinePerFrameAndTimeSet)
{
    PortDir dir;
    Options o;
    o.speed = 115200;
    o.log_path = dir.path() + "/sim.log";
    Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    {
        LineClient c(sim.LinkPath());
        c.Write(BuildShortFrame(1, 0x74, 0x4D, 0));
        c.Read(600);
        const Bytes t = {0x00, 0x00, 0x12, 0x03, 0x01, 0x01, 0x25}; // 2025-01-01 Wed
        c.Write(BuildDataFrame(1, 0x70, 0, 7, t.data()));
        c.Read(600);
    }
    sim.Stop();
    std::ifstream in(o.log_path);
    std::string line;
    int rx = 0, tx = 0, time_sets = 0;
    while (std::getline(in, line)) {
        const auto j = nlohmann::json::parse(line);
        ASSERT_TRUE(j.contains("t"));
        EXPECT_EQ(j["t"].get<std::string>().size(), 26u); // microseconds
        if (j.value("event", "") == "time_set") {
            ++time_sets;
            EXPECT_TRUE(j.contains("error_ms"));
        } else if (j.value("dir", "") == "rx") {
            ++rx;
            EXPECT_TRUE(j["check_ok"].get<bool>());
        } else if (j.value("dir", "") == "tx") {
            ++tx;
        }
    }
    EXPECT_EQ(rx, 2);
    EXPECT_EQ(tx, 2);
    EXPECT_EQ(time_sets, 1);
}

} // namespace
} // namespace chronavel::sim

namespace chronavel::sim {
namespace {

TEST(SimSpeed, StrictSpeedHearsOnlyTheRightSpeed)
{
    PortDir dir;
    Options o;
    o.speed = 19200;
    o.strict_speed = true;
    Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    LineClient c(sim.LinkPath());
    termios tio{};
    tcgetattr(c.fd(), &tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(c.fd(), TCSANOW, &tio);
    EXPECT_TRUE(c.Exchange(BuildShortFrame(1, 0x80, 0, 0), 500).empty());
    EXPECT_EQ(sim.FramesReceivedTotal(), 0u);
    cfsetspeed(&tio, B19200);
    tcsetattr(c.fd(), TCSANOW, &tio);
    EXPECT_EQ(c.Exchange(BuildShortFrame(1, 0x80, 0, 0)).size(), 1u);
}

} // namespace
} // namespace chronavel::sim

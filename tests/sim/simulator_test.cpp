#include "link/frames.h"
#include "sim/local_time.h"
#include "sim/sim.h"
#include "tests/sim/line_client.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace chronavel::sim {
namespace {

using testing::LineClient;
using testing::ParseReplies;
using testing::PortDir;
using testing::Reply;
using Bytes = std::vector<uint8_t>;

Options Quick(std::vector<uint8_t> clocks = {1})
{
    Options o;
    o.clocks = std::move(clocks);
    o.seed = 42;
    o.speed = 115200; // short replies keep the tests quick
    return o;
}

class SimTest : public ::testing::Test {
protected:
    void StartSim(Options o)
    {
        sim_ = std::make_unique<Simulator>(std::move(o));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        client_ = std::make_unique<LineClient>(sim_->LinkPath());
        ASSERT_TRUE(client_->ok());
    }
    void TearDown() override
    {
        client_.reset();
        sim_.reset();
    }

    PortDir dir_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<LineClient> client_;
};

TEST_F(SimTest, AnswersTheWorkedExamplesByteForByte)
{
    StartSim(Quick({1, 5}));
    client_->Flush();
    client_->Write({0x00, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA2});
    Bytes got = client_->Read();
    // Register 0x4D of a clock that is not master holds 0: same sum as the request.
    EXPECT_EQ(got, (Bytes{0xFF, 0xE0, 0x01, 0x00, 0x74, 0x4D, 0x00, 0xA3, 0xA2}));

    client_->Write({0x00, 0xE0, 0x00, 0x05, 0x80, 0x00, 0x00, 0x66, 0x65});
    got = client_->Read();
    EXPECT_EQ(got, (Bytes{0xFF, 0xE0, 0x05, 0x00, 0x80, 0x00, 0x00, 0x66, 0x65}));

    // Write 0x80 into 0x4D of clock 1: echoed, and clock 1 becomes master and
    // sends its text block and a status block.
    client_->Write({0x00, 0xE0, 0x00, 0x01, 0x72, 0x4D, 0x80, 0x22, 0x20});
    got = client_->Read(2000, 300);
    ASSERT_GE(got.size(), 9u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 9),
              (Bytes{0xFF, 0xE0, 0x01, 0x00, 0x72, 0x4D, 0x80, 0x22, 0x20}));
    const auto replies = ParseReplies(got);
    ASSERT_GE(replies.size(), 3u);
    EXPECT_EQ(replies[1].cmd, 0x53);
    EXPECT_EQ(replies[2].cmd, 0x52);
    EXPECT_EQ(replies[2].data.size(), 100u);
    EXPECT_TRUE(sim_->IsMaster(1));
    EXPECT_EQ(sim_->Register(1, 0x4D), 0x80);

    // The data frame example carries three bytes: no time, so no answer.
    sim_->SetRegister(1, 0x4D, 0);
    const size_t replies_before = sim_->RepliesSent();
    const auto r = client_->Exchange(
        {0x00, 0x00, 0xE0, 0x00, 0x01, 0x70, 0x00, 0x03, 0x55, 0x54, 0x61, 0x62, 0x63, 0x26}, 600);
    for (const auto& x : r)
        EXPECT_NE(x.cmd, 0x70);
    EXPECT_EQ(sim_->FramesReceived(0x70), 1u);
    EXPECT_EQ(sim_->RepliesSent(), replies_before);
    EXPECT_TRUE(sim_->TimeErrorsMs().empty());
}

TEST_F(SimTest, BadCheckGetsNoAnswerAndNoiseIsSkipped)
{
    StartSim(Quick());
    EXPECT_TRUE(
        client_->Exchange({0x00, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA3}, 500).empty());
    EXPECT_GE(sim_->BadFrames(), 1u);
    EXPECT_EQ(sim_->FramesReceivedTotal(), 0u);

    Bytes noisy = {0x13, 0xE0, 0x77, 0xE0, 0xE0, 0x00, 0x42};
    const Bytes frame = BuildShortFrame(1, 0x74, 0x25, 0);
    noisy.insert(noisy.end(), frame.begin(), frame.end());
    const auto r = client_->Exchange(noisy);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].cmd, 0x74);
    EXPECT_EQ(r[0].p1, 0x25);
    EXPECT_EQ(r[0].p2, sim_->Register(1, 0x25));
    EXPECT_EQ(sim_->FramesReceived(0x74), 1u);
}

TEST_F(SimTest, WritesChangeRegistersAndShowInTheSummary)
{
    StartSim(Quick());
    const auto r = client_->Exchange(BuildShortFrame(1, 0x72, 0x43, 0x07));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].cmd, 0x72);
    EXPECT_EQ(r[0].p1, 0x43);
    EXPECT_EQ(r[0].p2, 0x07);
    EXPECT_EQ(sim_->Register(1, 0x43), 7);
    const std::string json = sim_->StatusJson();
    EXPECT_NE(json.find("\"0x43\":\"0x07\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"0x72\":1"), std::string::npos) << json;
    // Frames to an address nobody has are ignored.
    EXPECT_TRUE(client_->Exchange(BuildShortFrame(9, 0x74, 0x43, 0), 500).empty());
}

TEST_F(SimTest, ClockAddressRegisterMovesTheClock)
{
    StartSim(Quick({1, 2}));
    auto r = client_->Exchange(BuildShortFrame(1, 0x72, 0x4C, 0x07));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].addr, 1); // answered from the old address
    r = client_->Exchange(BuildShortFrame(7, 0x74, 0x4C, 0));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].addr, 7);
    EXPECT_EQ(r[0].p2, 7);
    // Taking another clock's address is refused.
    client_->Exchange(BuildShortFrame(7, 0x72, 0x4C, 0x02));
    EXPECT_EQ(sim_->Register(7, 0x4C), 7);
}

TEST_F(SimTest, BroadcastReachesAllAndTheLowestAnswers)
{
    StartSim(Quick({5, 2, 9}));
    const auto r = client_->Exchange(BuildShortFrame(0xFF, 0x72, 0x3D, 0x11));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].addr, 2);
    for (uint8_t a : {2, 5, 9})
        EXPECT_EQ(sim_->Register(a, 0x3D), 0x11) << int(a);
}

TEST_F(SimTest, BroadcastAnswersAllOrNone)
{
    Options o = Quick({5, 2, 9});
    o.broadcast_answer = BroadcastAnswer::kAll;
    StartSim(o);
    auto r = client_->Exchange(BuildShortFrame(0xFF, 0x80, 0, 0));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].addr, 2);
    EXPECT_EQ(r[1].addr, 5);
    EXPECT_EQ(r[2].addr, 9);

    TearDown();
    o.broadcast_answer = BroadcastAnswer::kNone;
    StartSim(o);
    EXPECT_TRUE(client_->Exchange(BuildShortFrame(0xFF, 0x72, 0x3D, 0x22), 500).empty());
    EXPECT_EQ(sim_->Register(9, 0x3D), 0x22);
    EXPECT_EQ(ParseBroadcastAnswer("all"), BroadcastAnswer::kAll);
    EXPECT_FALSE(ParseBroadcastAnswer("some"));
}

TEST_F(SimTest, MasterSendsStatusBlocksWithTheClockTime)
{
    Options o = Quick();
    o.master = 1;
    o.status_interval_ms = 200;
    StartSim(o);
    const auto r = ParseReplies(client_->Read(1500, 700));
    ASSERT_GE(r.size(), 2u);
    const Reply* status = nullptr;
    for (const auto& x : r)
        if (x.cmd == 0x52)
            status = &x;
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->data_ok);
    ASSERT_EQ(status->data.size(), 100u);
    const ClockTime now = sim_->Time(1);
    EXPECT_EQ(status->data[58], ToBcd(now.year)); // image index 59
    EXPECT_EQ(status->data[57], ToBcd(now.month));
    EXPECT_EQ(status->data[9], sim_->Register(1, 0x25)); // image index 10
    EXPECT_GE(sim_->StatusBlocksSent(), 2u);
    EXPECT_GE(sim_->TextBlocksSent(), 1u);

    // Clearing the master bit ends it.
    client_->Exchange(BuildShortFrame(1, 0x72, 0x4D, 0x00));
    EXPECT_FALSE(sim_->IsMaster(1));
    client_->Flush();
    EXPECT_TRUE(client_->Read(700, 500).empty());
}

Bytes TimeFrame(uint8_t addr, std::time_t when)
{
    std::tm t{};
    localtime_r(&when, &t);
    const uint8_t dow = static_cast<uint8_t>(t.tm_wday == 0 ? 8 : t.tm_wday + 1);
    const Bytes data = {ToBcd(t.tm_sec),  ToBcd(t.tm_min),     ToBcd(t.tm_hour),      dow,
                        ToBcd(t.tm_mday), ToBcd(t.tm_mon + 1), ToBcd(t.tm_year % 100)};
    return BuildDataFrame(addr, 0x70, 0, 7, data.data());
}

TEST_F(SimTest, TimeSetIsTakenAndItsErrorRecorded)
{
    StartSim(Quick());
    const std::time_t later = std::time(nullptr) + 3600; // an hour ahead
    const auto r = client_->Exchange(TimeFrame(1, later));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].cmd, 0x70);
    const auto errors = sim_->TimeErrorsMs();
    ASSERT_EQ(errors.size(), 1u);
    // One hour, less the part of the second that had passed, give or take.
    EXPECT_GT(errors[0], 3600000 - 1500);
    EXPECT_LT(errors[0], 3600000 + 500);
    const TimeErrorStats st = sim_->TimeErrors();
    EXPECT_EQ(st.count, 1u);
    EXPECT_DOUBLE_EQ(st.max_ms, errors[0]);
    const ClockTime ct = sim_->Time(1);
    std::tm t{};
    localtime_r(&later, &t);
    EXPECT_EQ(ct.hour, t.tm_hour);

    // A broadcast time set is one frame, one error.
    client_->Exchange(TimeFrame(0xFF, std::time(nullptr)));
    EXPECT_EQ(sim_->TimeErrors().count, 2u);
    EXPECT_NEAR(sim_->TimeErrorsMs()[1], -500, 1500);
}

// A frame written in one call still reaches the clock only when its last
// byte has crossed the wire: 18 bytes at 1200 Bd take 150 ms. Written 150 ms
// before the second it carries, it sets the clock without error.
TEST_F(SimTest, TimeSetArrivesWithTheFramesLastByte)
{
    Options o = Quick();
    o.speed = 1200;
    StartSim(o);
    using namespace std::chrono;
    const auto wire = milliseconds(150);
    auto second = ceil<seconds>(system_clock::now() + wire + milliseconds(50));
    std::this_thread::sleep_until(second - wire);
    ASSERT_TRUE(client_->Write(TimeFrame(1, system_clock::to_time_t(second))));
    ASSERT_TRUE(sim_->WaitForFrames(0x70, 1, 3000));
    const auto errors = sim_->TimeErrorsMs();
    ASSERT_EQ(errors.size(), 1u);
    // A model without the wire's time would give +150 ms.
    EXPECT_NEAR(errors[0], 0, 60);
}

TEST_F(SimTest, ReplyTakesTheLineTimeAtTheConfiguredSpeed)
{
    Options o = Quick();
    o.speed = 1200; // 8.3 ms a byte: 9 bytes take 75 ms
    o.turnaround_ms = 50;
    StartSim(o);
    client_->Flush();
    const auto t0 = std::chrono::steady_clock::now();
    client_->Write(BuildShortFrame(1, 0x80, 0, 0));
    std::vector<std::chrono::steady_clock::duration> at;
    while (at.size() < 9 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(3)) {
        pollfd p{client_->fd(), POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            uint8_t b[16];
            const ssize_t n = read(client_->fd(), b, sizeof b);
            for (ssize_t i = 0; i < n; ++i)
                at.push_back(std::chrono::steady_clock::now() - t0);
        }
    }
    ASSERT_EQ(at.size(), 9u);
    // Frame in (75 ms) and turnaround (50 ms) before the first byte is
    // complete (8 ms more); the reply's own 75 ms before the last.
    EXPECT_GE(at.front(), std::chrono::milliseconds(125));
    EXPECT_GE(at.back() - at.front(), std::chrono::milliseconds(60));
}

} // namespace
} // namespace chronavel::sim

// The request engine against simulated clocks on a pseudo-terminal: the
// read-all batch goes out one request at a time, each after its reply.
#include "app/core_state.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/reception.h"
#include "link/request.h"
#include "port/port.h"
#include "port/sync.h"
#include "sim/sim.h"
#include "support/recorder_host.h"
#include "support/wait.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace chronavel {
namespace {

using namespace std::chrono_literals;

// What crossed the port, in order: "w<reg>" for a register read written,
// "r<reg>" for a register reply decoded.
std::mutex events_lock;
std::vector<std::string> events;

void Note(char kind, uint8_t reg)
{
    std::lock_guard<std::mutex> hold(events_lock);
    events.push_back(kind + std::to_string(reg));
}

std::optional<ReadFailure> RecordingDecoder()
{
    std::optional<ReadFailure> failed = MinimalDecodeReply();
    const ReplyHeader h = CurrentReplyHeader();
    if (h.Cmd == kCmdReadRegister)
        Note('r', h.Param1);
    return failed;
}

// The real port with its writes noted.
class NotingPort : public platform::SerialDevice {
public:
    explicit NotingPort(platform::SerialPtr inner) : inner_(std::move(inner)) {}
    int Read(uint8_t* buf, size_t n) override { return inner_->Read(buf, n); }
    bool Write(const uint8_t* buf, size_t n) override
    {
        if (n == kShortFrameSize && buf[4] == kCmdReadRegister)
            Note('w', buf[5]);
        return inner_->Write(buf, n);
    }
    bool Drain() override { return inner_->Drain(); }
    bool Purge() override { return inner_->Purge(); }
    bool ClearErrors(uint32_t& word) override { return inner_->ClearErrors(word); }
    bool SetSpeed(int baud) override { return inner_->SetSpeed(baud); }
    int LineSpeed() const override { return inner_->LineSpeed(); }
    void SetReadTimeoutPerByte(int ms) override { inner_->SetReadTimeoutPerByte(ms); }
    int ReadTimeoutPerByte() const override { return inner_->ReadTimeoutPerByte(); }

private:
    platform::SerialPtr inner_;
};

class EngineLineTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        ResetCoreState();
        {
            std::lock_guard<std::mutex> hold(events_lock);
            events.clear();
        }
        sim::Options o;
        o.name = "engine_line";
        o.publish_link = false;
        o.speed = GetParam();
        o.clocks = {1};
        o.seed = 7;
        sim_ = std::make_unique<sim::Simulator>(o);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        platform::SerialPtr real = OpenPort(sim_->DevicePath(), GetParam());
        ASSERT_NE(real, nullptr);
        PortHandle.Set(std::make_shared<NotingPort>(real));
    }
    void TearDown() override
    {
        EXPECT_TRUE(StopExchangeThread(10s));
        ClosePort();
        ResetCoreState();
        sim_.reset();
    }

    test::RecorderHost host;
    std::unique_ptr<sim::Simulator> sim_;
};

TEST_P(EngineLineTest, ReadAllBatchGoesOutOneAfterAnotherEachAfterItsReply)
{
    std::atomic<int> failures{0};
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock>) { ++failures; });
    SetReplyDecoder(&RecordingDecoder);
    StartExchangeThread();
    const auto& regs = ReadBatchRegisters();
    const size_t n = regs.size();
    for (uint8_t r : regs)
        ASSERT_TRUE(PutRequest(StandardRequest(1, kCmdReadRegister, r, 0)));

    ASSERT_TRUE(sim_->WaitForFrames(kCmdReadRegister, n, 60000));
    ASSERT_TRUE(sim_->WaitForReplies(n, 10000));
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard<std::mutex> hold(events_lock);
            if (events.size() >= 2 * n)
                break;
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(RingEmpty());
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(sim_->FramesReceived(kCmdReadRegister), n); // nothing was resent

    std::vector<std::string> expected;
    for (uint8_t r : regs) {
        expected.push_back('w' + std::to_string(r));
        expected.push_back('r' + std::to_string(r));
    }
    std::lock_guard<std::mutex> hold(events_lock);
    EXPECT_EQ(events, expected);
}

INSTANTIATE_TEST_SUITE_P(Speeds, EngineLineTest, ::testing::Values(9600, 115200));

} // namespace
} // namespace chronavel

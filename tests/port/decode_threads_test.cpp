// The decoder on one thread, the window side on another: what they share
// must be safe to touch at the same time (run under ThreadSanitizer).
#include "app/core_state.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "port/decode.h"
#include "port/display.h"
#include "port/port.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace chronavel {
namespace {

std::vector<uint8_t> Frame(uint8_t cmd, uint8_t p1, const std::vector<uint8_t>& data,
                           bool with_block)
{
    std::vector<uint8_t> f{0x00,
                           kSync,
                           0x01,
                           0x00,
                           cmd,
                           p1,
                           static_cast<uint8_t>(with_block ? data.size() : data.at(0))};
    uint16_t sum = SumBytes(f.data() + 1, 6);
    f.push_back(CheckByte1(sum));
    f.push_back(CheckByte2(sum));
    if (with_block) {
        f.insert(f.end(), data.begin(), data.end());
        f.push_back(static_cast<uint8_t>(SumBytes(data.data(), data.size()) & 0xFF));
    }
    return f;
}

TEST(DecodeThreadsTest, WindowSideReadsWhileTheDecoderWrites)
{
    test::RecorderHost host;
    auto port = std::make_shared<test::FakePort>();
    ResetCoreState();
    PortHandle.Set(port);
    for (int i = 0; i < 8; ++i)
        ClockSettings.FieldFormat[i] = 4;

    std::atomic<int> shown{0};
    SetClockDisplaySink([&](const std::string&, const FieldRows&, int) { shown.fetch_add(1); });

    std::atomic<bool> done{false};
    std::thread exchange([&] {
        std::vector<uint8_t> status(100);
        std::vector<uint8_t> text{2, 4, 4, 4, 4, 4, 4, 4, 4, 1, 1, 0x06, 0x5B};
        for (int n = 0; n < 400; ++n) {
            for (size_t i = 0; i < status.size(); ++i)
                status[i] = static_cast<uint8_t>(n + i);
            port->Feed(Frame(0x52, 0, status, true));
            DecodeReply();
            port->Feed(Frame(0x53, 0, text, true));
            DecodeReply();
            port->Feed(Frame(0x74, 0x39, {static_cast<uint8_t>(n)}, false));
            DecodeReply();
            port->Feed(Frame(0x74, 0x4D, {static_cast<uint8_t>(0x80 | n)}, false));
            DecodeReply();
        }
        done = true;
    });

    int rounds = 0;
    while (!done.load() || rounds < 10) {
        ++rounds;
        DisplayTick.fetch_add(1);
        auto image = CopyRegImage();
        auto texts = CurrentDisplayTexts();
        auto block = CurrentTextBlock();
        volatile uint16_t dim_on = ClockSettings.DimOnTime.load();
        volatile uint8_t expo = ClockSettings.Expo[3].load();
        volatile uint8_t flags = StoredMasterFlags();
        volatile uint8_t master = MasterAddress.load();
        (void)dim_on;
        (void)expo;
        (void)flags;
        (void)master;
        EXPECT_LE(block.ClockTexts.size(), 2u);
        EXPECT_EQ(image[0], 0);
        EXPECT_LE(Utf8Length(texts.FieldTable[0].Value), kFieldValueChars);
        std::this_thread::yield();
    }
    exchange.join();

    EXPECT_EQ(shown.load(), 400);
    EXPECT_EQ(MasterAddress.load(), 1);
    EXPECT_EQ(CurrentTextBlock().ClockTexts, (std::vector<std::string>{"1", "2"}));
    ResetCoreState();
}

TEST(DecodeThreadsTest, ExchangeThreadDecodesWhileTheWindowReads)
{
    test::RecorderHost host;
    auto port = std::make_shared<test::FakePort>();
    ResetCoreState();
    PortHandle.Set(port);
    SetReplyDecoder(&DecodeReply);

    std::vector<uint8_t> status(60, 0);
    status[9] = 4; // time exposure
    constexpr int kBlocks = 30;
    for (int n = 0; n < kBlocks; ++n) {
        status[55] = static_cast<uint8_t>(n);
        port->Feed({0xFF});
        port->Feed(Frame(0x52, 0, status, true));
    }
    auto thread = StartExchangeThread();
    // The window thread's side keeps running until the last block is in; the
    // bound only keeps a broken decoder from hanging the test.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Registers.RegImage[56].load() != kBlocks - 1 &&
           std::chrono::steady_clock::now() < until) {
        (void)CopyRegImage();
        (void)CurrentDisplayTexts();
        DisplayTick.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(Registers.RegImage[56].load(), kBlocks - 1);
    EXPECT_EQ(ClockSettings.Expo[0].load(), 4);
    EXPECT_TRUE(StopExchangeThread(std::chrono::milliseconds(5000)));
    ResetCoreState();
}

} // namespace
} // namespace chronavel

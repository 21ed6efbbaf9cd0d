#include "link/frames.h"
#include "sim/frame_parser.h"

#include <gtest/gtest.h>

namespace chronavel::sim {
namespace {

std::vector<RxFrame> FeedAll(FrameParser& p, const std::vector<uint8_t>& bytes)
{
    std::vector<RxFrame> out;
    for (uint8_t b : bytes)
        p.Feed(b, out);
    return out;
}

std::vector<RxFrame> Good(const std::vector<RxFrame>& frames)
{
    std::vector<RxFrame> good;
    for (const auto& f : frames)
        if (f.check_ok)
            good.push_back(f);
    return good;
}

TEST(FrameParser, TakesTheWorkedExampleFrames)
{
    FrameParser p;
    auto f = FeedAll(p, {0x00, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA2});
    ASSERT_EQ(f.size(), 1u);
    EXPECT_TRUE(f[0].check_ok);
    EXPECT_EQ(f[0].addr, 1);
    EXPECT_EQ(f[0].cmd, 0x74);
    EXPECT_EQ(f[0].p1, 0x4D);

    f = FeedAll(p, {0x00, 0xE0, 0x00, 0x05, 0x80, 0x00, 0x00, 0x66, 0x65});
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].addr, 5);
    EXPECT_EQ(f[0].cmd, 0x80);

    f = FeedAll(
        p, {0x00, 0x00, 0xE0, 0x00, 0x01, 0x70, 0x00, 0x03, 0x55, 0x54, 0x61, 0x62, 0x63, 0x26});
    ASSERT_EQ(f.size(), 1u);
    EXPECT_TRUE(f[0].check_ok);
    EXPECT_TRUE(f[0].has_data);
    EXPECT_EQ(f[0].data, (std::vector<uint8_t>{0x61, 0x62, 0x63}));
    EXPECT_TRUE(p.Idle());
}

TEST(FrameParser, RejectsBadChecksAndFindsTheNextFrame)
{
    FrameParser p;
    // Header check wrong.
    auto f = FeedAll(p, {0x00, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA3});
    EXPECT_TRUE(Good(f).empty());
    EXPECT_FALSE(f.empty());
    // Data check wrong.
    f = FeedAll(
        p, {0x00, 0x00, 0xE0, 0x00, 0x01, 0x70, 0x00, 0x03, 0x55, 0x54, 0x61, 0x62, 0x63, 0x27});
    EXPECT_TRUE(Good(f).empty());
    // A frame that starts inside a rejected candidate is still found.
    f = FeedAll(p, {0xE0, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA2});
    ASSERT_EQ(Good(f).size(), 1u);
    EXPECT_EQ(Good(f)[0].p1, 0x4D);
}

TEST(FrameParser, SkipsNoiseAndSurvivesGarbage)
{
    FrameParser p;
    std::vector<uint8_t> bytes = {0x13, 0xE0, 0xE0, 0xFF, 0x00, 0xE0, 0x42};
    const auto frame = BuildShortFrame(7, 0x80, 0, 0);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    auto f = Good(FeedAll(p, bytes));
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].addr, 7);

    uint32_t x = 12345;
    std::vector<uint8_t> junk;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1103515245 + 12345;
        junk.push_back(static_cast<uint8_t>(x >> 16));
    }
    FeedAll(p, junk);
    p.Reset();
    EXPECT_EQ(Good(FeedAll(p, frame)).size(), 1u);
}

TEST(FrameParser, RefusesAnAbsurdDataLength)
{
    FrameParser p;
    // A valid header announcing 0x7000 data bytes must not swallow what follows.
    auto head = BuildShortFrame(1, 0x70, 0x70, 0x00);
    head.erase(head.begin()); // a short frame's header is the data frame's header
    auto f = FeedAll(p, head);
    EXPECT_TRUE(Good(f).empty());
    f = FeedAll(p, BuildShortFrame(1, 0x80, 0, 0));
    EXPECT_EQ(Good(f).size(), 1u);
}

} // namespace
} // namespace chronavel::sim

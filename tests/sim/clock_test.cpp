#include "link/frames.h"
#include "port/segment.h"
#include "sim/clock.h"
#include "sim/local_time.h"

#include <gtest/gtest.h>

namespace chronavel::sim {
namespace {

RxFrame Frame(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2, std::vector<uint8_t> data = {})
{
    RxFrame f;
    f.addr = addr;
    f.cmd = cmd;
    f.p1 = p1;
    f.p2 = p2;
    f.has_data = !data.empty();
    f.data = std::move(data);
    return f;
}

int64_t Ms(int year, int month, int day, int h, int m, int s)
{
    ClockTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = h;
    t.minute = m;
    t.second = s;
    int64_t ms = 0;
    EXPECT_TRUE(FromClockTime(t, &ms));
    return ms;
}

TEST(Clock, DefaultsAreValidSettings)
{
    Clock c(3, 1, 0, 0);
    EXPECT_EQ(c.Reg(kRegClockAddr), 3);
    EXPECT_FALSE(c.IsMaster());
    // Format codes only from each field's own set.
    const std::vector<std::vector<int>> sets = {{0, 2, 3, 4, 5, 6, 7, 8},
                                                {0, 2, 3, 4, 5},
                                                {0, 2, 3, 4, 5},
                                                {0, 2, 3, 4, 5},
                                                {0, 3, 4, 5},
                                                {0, 2, 4, 5},
                                                {0, 4, 5},
                                                {0, 3, 4, 5}};
    for (int i = 0; i < 8; ++i) {
        const int code = c.Reg(static_cast<uint8_t>(0xD8 + i));
        EXPECT_NE(std::find(sets[i].begin(), sets[i].end(), code), sets[i].end()) << i;
    }
    // Exposures 0..49; temperatures 10 x format (0..5) + exposure.
    for (int i = 0; i < 9; ++i) {
        const int v = c.Reg(static_cast<uint8_t>(0x25 + 2 * i));
        if (i >= 3 && i <= 5)
            EXPECT_LE(v / 10, 5);
        else
            EXPECT_LT(v, 50);
    }
    // BCD pairs, percent codes.
    for (uint8_t r : {0x39, 0x3A, 0x3B, 0x3C, 0x3E, 0x3F, 0x40, 0x41})
        EXPECT_GE(FromBcd(c.Reg(r)), 0) << int(r);
    for (uint8_t r : {0x43, 0x44, 0x45})
        EXPECT_LE(c.Reg(r), 9);
}

TEST(Clock, AnswersReadWriteAndLinkCheck)
{
    Clock c(1, 1, 0, 0);
    Action a = c.Handle(Frame(1, 0x74, 0x25, 0), 0);
    ASSERT_TRUE(a.reply);
    EXPECT_EQ(a.reply->cmd, 0x74);
    EXPECT_EQ(a.reply->addr, 1);
    EXPECT_EQ(a.reply->addr2, 0);
    EXPECT_EQ(a.reply->p1, 0x25);
    EXPECT_EQ(a.reply->p2, c.Reg(0x25));

    a = c.Handle(Frame(1, 0x72, 0x4D, 0x80), 0);
    ASSERT_TRUE(a.reply);
    EXPECT_EQ(a.reply->cmd, 0x72);
    EXPECT_EQ(a.reply->p1, 0x4D);
    EXPECT_EQ(a.reply->p2, 0x80);
    EXPECT_TRUE(a.became_master);
    EXPECT_TRUE(c.IsMaster());
    EXPECT_FALSE(c.Handle(Frame(1, 0x72, 0x4D, 0x81), 0).became_master); // already master
    c.Handle(Frame(1, 0x72, 0x4D, 0x00), 0);
    EXPECT_FALSE(c.IsMaster());

    a = c.Handle(Frame(1, 0x80, 0, 0), 0);
    ASSERT_TRUE(a.reply);
    EXPECT_EQ(a.reply->cmd, 0x80);

    EXPECT_FALSE(c.Handle(Frame(1, 0x99, 0, 0), 0).reply);
}

TEST(Clock, TakesTheTimeAndKeepsIt)
{
    Clock c(1, 1, 0, 0);
    const int64_t host = Ms(24, 5, 1, 12, 0, 0);
    // 2024-03-10 was a Sunday: day of the week 8.
    Action a = c.Handle(Frame(1, 0x70, 0, 7, {0x05, 0x59, 0x23, 0x08, 0x10, 0x03, 0x24}), host);
    ASSERT_TRUE(a.time_set);
    ASSERT_TRUE(a.reply);
    EXPECT_EQ(a.reply->cmd, 0x70);
    EXPECT_FALSE(a.day_of_week_mismatch);
    EXPECT_EQ(a.carried_ms, Ms(24, 3, 10, 23, 59, 5));
    // Ninety seconds later it has run on, across midnight.
    const ClockTime t = ToClockTime(c.TimeMs(host + 90000));
    EXPECT_EQ(t.day, 11);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.minute, 0);
    EXPECT_EQ(t.second, 35);
    EXPECT_EQ(t.day_of_week, 2);

    // Refused: not BCD, day of week 1, 31 April, wrong length.
    for (const auto& bad :
         std::vector<std::vector<uint8_t>>{{0x5A, 0x30, 0x23, 0x08, 0x10, 0x03, 0x24},
                                           {0x05, 0x30, 0x23, 0x01, 0x10, 0x03, 0x24},
                                           {0x05, 0x30, 0x23, 0x04, 0x31, 0x04, 0x24},
                                           {0x05, 0x30, 0x23}}) {
        a = c.Handle(Frame(1, 0x70, 0, static_cast<uint8_t>(bad.size()), bad), host);
        EXPECT_TRUE(a.time_rejected);
        EXPECT_FALSE(a.reply);
    }
    // A day of the week that does not match the date is noted, not refused.
    a = c.Handle(Frame(1, 0x70, 0, 7, {0x05, 0x30, 0x23, 0x02, 0x10, 0x03, 0x24}), host);
    EXPECT_TRUE(a.time_set);
    EXPECT_TRUE(a.day_of_week_mismatch);
}

TEST(Clock, StatusBlockBytesSitAtTheirIndices)
{
    Clock c(1, 7, 0, 0);
    c.SetReg(0x2B, 37);
    c.SetReg(0x37, 0x85);
    c.SetReg(0x45, 0x09);
    const int64_t host = Ms(25, 12, 31, 23, 59, 58);
    const auto block = c.StatusBlock(host);
    ASSERT_EQ(block.size(), 100u);
    auto img = [&](int k) { return block[static_cast<size_t>(k - 1)]; };
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(img(10 + 2 * i), c.Reg(static_cast<uint8_t>(0x25 + 2 * i))) << i;
    EXPECT_EQ(img(16), 37);
    for (int j = 0; j <= 14; ++j)
        EXPECT_EQ(img(27 + j), c.Reg(static_cast<uint8_t>(0x37 + j))) << j;
    EXPECT_EQ(img(27), 0x85);
    EXPECT_EQ(img(41), 0x09);
    EXPECT_EQ(img(42), 0x58);
    EXPECT_EQ(img(55), 0x59);
    EXPECT_EQ(img(56), 0x23);
    EXPECT_EQ(img(57), 0x31);
    EXPECT_EQ(img(58), 0x12);
    EXPECT_EQ(img(59), 0x25);
    // Plausible readings: indoor and outdoor temperatures, pressure 7xx,
    // humidity in percent, radiation digits.
    EXPECT_NEAR(DecodeSigned(img(43)), 21, 9);
    EXPECT_NEAR(DecodeSigned(img(44)), -3, 9);
    EXPECT_GE(img(46), 30);
    EXPECT_LE(img(46), 90);
    EXPECT_LE(img(47), 100);
    for (int k : {48, 49, 50, 51, 52, 53}) {
        EXPECT_LE(img(k), k <= 50 ? 9 : 99) << k;
    }
}

TEST(Clock, ReadingsDriftWithinBounds)
{
    Clock c(1, 99, 0, 0);
    const auto first = c.StatusBlock(0);
    bool moved = false;
    for (int i = 0; i < 3600; ++i) {
        c.DriftReadings();
        const auto b = c.StatusBlock(0);
        moved = moved || b[42] != first[42] || b[50] != first[50] || b[46] != first[46];
        ASSERT_NEAR(DecodeSigned(b[42]), 21, 9);
        ASSERT_LE(b[46], 100);
        ASSERT_LE(b[47], 100);
    }
    EXPECT_TRUE(moved);
}

TEST(Clock, TextBlockFollowsTheLayout)
{
    Clock c(1, 1, 0, 0);
    auto b = c.TextBlock();
    const size_t n = b[0];
    ASSERT_GE(n, 1u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(b[1 + static_cast<size_t>(i)], c.Reg(static_cast<uint8_t>(0xD8 + i)));
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(b[9 + i], c.Reg(static_cast<uint8_t>(0xE0 + i)));
        total += b[9 + i];
    }
    EXPECT_EQ(b.size(), 9 + n + total);
    std::string first;
    for (size_t m = 0; m < b[9]; ++m)
        first += SegmentChar(b[9 + n + m]);
    EXPECT_EQ(first, "12345");

    // Text lengths written by the program reshape the stored texts.
    c.SetReg(0xE0, 2);
    c.SetReg(0xE1, 0);
    b = c.TextBlock();
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b.size(), 9u + 1 + 2);
    EXPECT_EQ(SegmentChar(b[10]) + SegmentChar(b[11]), "12");
}

} // namespace
} // namespace chronavel::sim

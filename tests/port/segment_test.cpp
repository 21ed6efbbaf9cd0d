#include "port/segment.h"

#include <gtest/gtest.h>
#include <map>

using namespace chronavel;

namespace {

TEST(SegmentChar, KnownCodes)
{
    const std::map<uint8_t, std::string> table = {
        {0x3F, "0"}, {0x06, "1"}, {0x5B, "2"}, {0x4F, "3"}, {0x66, "4"}, {0x6D, "5"}, {0x7D, "6"},
        {0x07, "7"}, {0x7F, "8"}, {0x6F, "9"}, {0x40, "-"}, {0x08, "_"}, {0x80, "."},
    };
    for (int c = 0; c < 256; ++c) {
        const auto code = static_cast<uint8_t>(c);
        const auto it = table.find(code);
        EXPECT_EQ(SegmentChar(code), it == table.end() ? " " : it->second) << std::hex << c;
    }
}

TEST(SegmentChar, BlankForNothingLettersAndDigitsWithTheirPoint)
{
    EXPECT_EQ(SegmentChar(0x00), " ");
    EXPECT_EQ(SegmentChar(0x77), " "); // "A"
    EXPECT_EQ(SegmentChar(0xBF), " "); // "0."
    EXPECT_EQ(SegmentChar(0xFF), " ");
}

TEST(DecodeSigned, Examples)
{
    EXPECT_EQ(DecodeSigned(0x00), 0);
    EXPECT_EQ(DecodeSigned(0x7F), 127);
    EXPECT_EQ(DecodeSigned(0xFF), -1);
    EXPECT_EQ(DecodeSigned(0xF6), -10);
    EXPECT_EQ(DecodeSigned(0x81), -127);
    EXPECT_EQ(DecodeSigned(0x80), 0);
}

TEST(DecodeSigned, TwosComplementExceptMinus128)
{
    for (int b = 0; b < 256; ++b) {
        const int expected = b == 0x80 ? 0 : (b < 0x80 ? b : b - 256);
        EXPECT_EQ(DecodeSigned(static_cast<uint8_t>(b)), expected) << b;
    }
}

} // namespace

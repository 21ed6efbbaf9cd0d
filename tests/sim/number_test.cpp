// The simulator's numbers: decimal or 0x-hex, never C's octal.
#include "sim/number.h"

#include <gtest/gtest.h>

namespace chronavel::sim {
namespace {

TEST(SimNumber, DecimalOrHexAndNothingElse)
{
    const struct {
        const char* text;
        std::optional<int> value;
    } cases[] = {
        {"10", 10},
        {"010", 10},
        {"0x10", 16},
        {"0X1f", 31},
        {"0", 0},
        {"254", 254},
        {"0x", std::nullopt},
        {"", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"0x-1", std::nullopt},
        {"12a", std::nullopt},
        {"0xG", std::nullopt},
        {"99999999999", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
}

} // namespace
} // namespace chronavel::sim

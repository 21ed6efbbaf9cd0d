#include <gtest/gtest.h>

#include "link/frames.h"

using namespace chronavel;

TEST(Frames, ReadRegisterExample)
{
    EXPECT_EQ(BuildShortFrame(0x01, 0x74, 0x4D, 0x00),
              (std::vector<uint8_t>{0x00, 0xE0, 0x00, 0x01, 0x74, 0x4D, 0x00, 0xA3, 0xA2}));
}

// The 67 register reads of the classic read-all batch, in its order: the
// load the engine's integration test and benchmark put on the line.
#pragma once

#include <cstdint>
#include <vector>

namespace chronavel::test {

inline std::vector<uint8_t> ReadAllBatch67()
{
    std::vector<uint8_t> regs;
    for (int r = 0x25; r <= 0x31; r += 2)
        regs.push_back(static_cast<uint8_t>(r));
    for (int r = 0x39; r <= 0x45; ++r)
        regs.push_back(static_cast<uint8_t>(r));
    for (int r = 0x4C; r <= 0x52; ++r)
        regs.push_back(static_cast<uint8_t>(r));
    for (int r = 0xD8; r <= 0xFF; ++r)
        regs.push_back(static_cast<uint8_t>(r));
    return regs;
}

}  // namespace chronavel::test

// Bytes as hex, in capitals, the one way every text of the program and its
// tools writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chronavel {

// The two digits of a byte: "4D".
void AppendHexDigits(std::string& out, uint8_t b);
std::string HexDigits(uint8_t b);
// Each byte's two digits, run together: "4D0A".
std::string HexDigits(const std::vector<uint8_t>& bytes);
// "0x4D".
std::string Hex2(uint8_t b);
// "$4D/77": a clock's address as the windows name it.
std::string ClockName(uint8_t addr);

} // namespace chronavel

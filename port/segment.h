// The clock's seven-segment character codes and its signed readings.
#pragma once

#include <cstdint>
#include <string>

namespace chronavel {

// One character for a seven-segment code: digits, "-", "_", "."; any other
// code (letters, a digit with its point lit, 0x00) is one blank.
std::string SegmentChar(uint8_t code);

// A reading byte as a signed number: two's complement, except that 0x80
// reads as 0.
int DecodeSigned(uint8_t b);

} // namespace chronavel

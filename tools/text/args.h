// Parsing of the tool's arguments: numbers (decimal or 0x-hex), clock
// addresses, register assignments and synchronisation periods. Every
// failure carries a one-line message that names the bad argument.
#pragma once

#include "link/hex.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace chronavel::ctl {

// A usage error: the message is printed as it stands and the tool exits 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "12", "0x0C", "0X0c" -> 12. nullopt for anything else (signs, blanks,
// trailing characters, more than max).
std::optional<uint32_t> ParseNumber(const std::string& text, uint32_t max);

// A clock address 0..255, or "all" (0xFF).
uint8_t ParseAddress(const std::string& text);

// The other way round: "all" for 0xFF, else Hex2.
std::string AddrText(uint8_t addr);

// A register number 0..255.
uint8_t ParseRegister(const std::string& text);

struct RegisterValue {
    uint8_t Reg = 0;
    uint8_t Value = 0;
};

// "REG=VALUE", both 0..255.
RegisterValue ParseAssignment(const std::string& text);

// minute, hour, 3h, day -> seconds.
int ParsePeriod(const std::string& text);

} // namespace chronavel::ctl

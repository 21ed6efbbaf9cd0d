// Numbers on the simulator's command line and in its files: decimal, or hex
// after "0x" ("010" is ten, as an operator reads it, not C's eight).
#pragma once

#include <optional>
#include <string>

namespace chronavel::sim {

// The number the whole text spells, decimal or 0x-hex; nullopt for anything
// else (blanks, signs, trailing characters, more than an int holds).
std::optional<int> ParseNumber(const std::string& text);

} // namespace chronavel::sim

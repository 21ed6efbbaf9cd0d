// Texts every room of the tool writes: times in UTC and bytes made valid
// UTF-8. A byte in hex is the link's Hex2 (link/hex.h).
#pragma once

#include <ctime>
#include <string>

namespace chronavel::ctl {

// A time as "2026-12-07T12:00:00Z".
std::string UtcText(std::time_t t);

// The text with every byte that is not valid UTF-8 replaced by U+FFFD: a
// port's name comes from the file system, which allows any bytes, and JSON,
// the page and the metrics carry only UTF-8.
std::string ValidUtf8(const std::string& text);

} // namespace chronavel::ctl

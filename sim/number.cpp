#include "sim/number.h"

#include <charconv>

namespace chronavel::sim {

std::optional<int> ParseNumber(const std::string& text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    // from_chars takes a minus sign; neither form has one.
    if (first == last || *first == '-')
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (error != std::errc{} || end != last)
        return std::nullopt;
    return value;
}

} // namespace chronavel::sim

#include "link/hex.h"

namespace chronavel {

void AppendHexDigits(std::string& out, uint8_t b)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
}

std::string HexDigits(uint8_t b)
{
    std::string out;
    AppendHexDigits(out, b);
    return out;
}

std::string HexDigits(const std::vector<uint8_t>& bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes)
        AppendHexDigits(out, b);
    return out;
}

std::string Hex2(uint8_t b)
{
    return "0x" + HexDigits(b);
}

std::string ClockName(uint8_t addr)
{
    return "$" + HexDigits(addr) + "/" + std::to_string(addr);
}

} // namespace chronavel

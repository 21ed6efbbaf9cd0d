#include "tools/text/args.h"

#include <cctype>
#include <cstdio>

namespace chronavel::ctl {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::optional<uint32_t> ParseNumber(const std::string& text, uint32_t max)
{
    uint32_t base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= text.size())
        return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || static_cast<uint32_t>(d) >= base)
            return std::nullopt;
        value = value * base + static_cast<uint32_t>(d);
        if (value > max)
            return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

uint8_t ParseAddress(const std::string& text)
{
    if (Lower(text) == "all")
        return 0xFF;
    const auto v = ParseNumber(text, 255);
    if (!v)
        throw UsageError("invalid clock address '" + text +
                         "' (--addr): expected 0..255, decimal or 0x-hex, or all");
    return static_cast<uint8_t>(*v);
}

std::string AddrText(uint8_t addr)
{
    return addr == 0xFF ? std::string("all") : Hex2(addr);
}

uint8_t ParseRegister(const std::string& text)
{
    const auto v = ParseNumber(text, 255);
    if (!v)
        throw UsageError("invalid register number '" + text +
                         "': expected 0..255, decimal or 0x-hex");
    return static_cast<uint8_t>(*v);
}

RegisterValue ParseAssignment(const std::string& text)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        throw UsageError("invalid register assignment '" + text + "': expected REG=VALUE");
    RegisterValue rv;
    const std::string reg = text.substr(0, eq);
    const std::string value = text.substr(eq + 1);
    const auto r = ParseNumber(reg, 255);
    if (!r)
        throw UsageError("invalid register number '" + reg + "' in '" + text +
                         "': expected 0..255, decimal or 0x-hex");
    const auto v = ParseNumber(value, 255);
    if (!v)
        throw UsageError("invalid register value '" + value + "' in '" + text +
                         "': expected 0..255, decimal or 0x-hex");
    rv.Reg = static_cast<uint8_t>(*r);
    rv.Value = static_cast<uint8_t>(*v);
    return rv;
}

int ParsePeriod(const std::string& text)
{
    const std::string p = Lower(text);
    if (p == "minute")
        return 60;
    if (p == "hour")
        return 3600;
    if (p == "3h")
        return 3 * 3600;
    if (p == "day")
        return 24 * 3600;
    throw UsageError("invalid period '" + text + "' (--period): expected minute, hour, 3h or day");
}

} // namespace chronavel::ctl

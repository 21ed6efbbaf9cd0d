#include "port/segment.h"

namespace chronavel {

std::string SegmentChar(uint8_t code)
{
    switch (code) {
    case 0x3F:
        return "0";
    case 0x06:
        return "1";
    case 0x5B:
        return "2";
    case 0x4F:
        return "3";
    case 0x66:
        return "4";
    case 0x6D:
        return "5";
    case 0x7D:
        return "6";
    case 0x07:
        return "7";
    case 0x7F:
        return "8";
    case 0x6F:
        return "9";
    case 0x40:
        return "-";
    case 0x08:
        return "_";
    case 0x80:
        return ".";
    default:
        return " ";
    }
}

int DecodeSigned(uint8_t b)
{
    if (b == 0x80)
        return 0;
    return b < 0x80 ? b : static_cast<int>(b) - 256;
}

} // namespace chronavel

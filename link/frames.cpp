#include "link/frames.h"

#include "link/frame_trace.h"
#include "link/reception.h"

#include <algorithm>
#include <iterator>

namespace chronavel {

uint16_t SumBytes(const uint8_t* buf, size_t count)
{
    uint16_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint16_t>(sum + buf[i]);
    return sum;
}

void CalcSum(uint8_t* buf, uint16_t first, uint16_t last, uint16_t position, int form)
{
    uint16_t sum = 0;
    if (last >= first)
        sum = SumBytes(buf + first, static_cast<size_t>(last - first) + 1);
    if (form == 1) {
        buf[position] = CheckByte2(sum);
    } else {
        buf[position] = CheckByte1(sum);
        buf[position + 1] = CheckByte2(sum);
    }
}

bool HasDataBlock(uint8_t command)
{
    return command == kReplyStatus || command == kReplyText || command == kReplyS ||
           command == kReply81;
}

bool IsOwnFrameHeader(const ReplyHeader& h)
{
    return h.Addr == 0 && h.Addr2 != 0;
}

bool AnswersRequest(const ReplyHeader& h, uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2)
{
    if (IsOwnFrameHeader(h) || h.Cmd != cmd)
        return false;
    if (addr == kBroadcast ? h.Addr == 0 : h.Addr != addr)
        return false;
    switch (cmd) {
    case kCmdReadRegister:
        return h.Param1 == p1;
    case kCmdWriteRegister:
        return h.Param1 == p1 && h.Param2 == p2;
    default:
        return true;
    }
}

std::vector<uint8_t> BuildShortFrame(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2)
{
    std::vector<uint8_t> f{0x00, kSync, 0x00, addr, cmd, p1, p2, 0x00, 0x00};
    CalcSum(f.data(), 0, 6, 7, 2);
    return f;
}

std::vector<uint8_t> BuildDataFrame(uint8_t addr, uint8_t cmd, uint8_t len_hi, uint8_t len_lo,
                                    const uint8_t* data)
{
    const size_t n = static_cast<size_t>(len_hi) * 256 + len_lo;
    if (n > kMaxDataLength || (n > 0 && data == nullptr))
        return {};
    std::vector<uint8_t> f(n + kDataFrameOverhead, 0);
    const uint8_t head[] = {0x00, 0x00, kSync, 0x00, addr, cmd, len_hi, len_lo};
    std::copy(std::begin(head), std::end(head), f.begin());
    CalcSum(f.data(), 0, 7, 8, 2);
    std::copy(data, data + n, f.begin() + 10);
    // The range includes the still-zero check position, which adds nothing.
    CalcSum(f.data(), 10, static_cast<uint16_t>(10 + n), static_cast<uint16_t>(10 + n), 1);
    return f;
}

bool WriteShortFrame(platform::SerialDevice& port, uint8_t addr, uint8_t cmd, uint8_t p1,
                     uint8_t p2)
{
    const auto f = BuildShortFrame(addr, cmd, p1, p2);
    port.Purge();
    NoteWrittenFrame(f.data(), f.size());
    // A finished write means a sent frame: the next frame's purge must not
    // cut this one off.
    const bool ok = port.Write(f.data(), f.size()) && port.Drain();
    TraceFrame(FrameDirection::Sent, addr, cmd, f.data(), f.size(), ok);
    return ok;
}

bool WriteDataFrame(platform::SerialDevice& port, uint8_t addr, uint8_t cmd, uint8_t len_hi,
                    uint8_t len_lo, const uint8_t* data, bool purge)
{
    const auto f = BuildDataFrame(addr, cmd, len_hi, len_lo, data);
    if (f.empty())
        return false;
    if (purge)
        port.Purge();
    NoteWrittenFrame(f.data(), f.size());
    const bool ok = port.Write(f.data(), f.size()) && port.Drain();
    TraceFrame(FrameDirection::Sent, addr, cmd, f.data(), f.size(), ok);
    return ok;
}

} // namespace chronavel

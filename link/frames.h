// Wire frames between the PC and the clocks: the short frame, the data
// frame, the additive checksum, and the writers that put frames on the line.
#pragma once

#include "platform/serial.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chronavel {

constexpr uint8_t kSync = 0xE0;
constexpr uint8_t kBroadcast = 0xFF;

// Command bytes sent by the PC.
constexpr uint8_t kCmdReadRegister = 0x74;  // "t"
constexpr uint8_t kCmdWriteRegister = 0x72; // "r"
constexpr uint8_t kCmdSetTime = 0x70;       // "p"
constexpr uint8_t kCmdLinkCheck = 0x80;

// Reply command bytes the receiver knows.
constexpr uint8_t kReplyEmpty = 0x00;
constexpr uint8_t kReplyParen = 0x28;    // "("
constexpr uint8_t kReplyStatus = 0x52;   // "R": status block
constexpr uint8_t kReplyText = 0x53;     // "S": text block
constexpr uint8_t kReplyS = 0x73;        // "s"
constexpr uint8_t kReplyRegister = 0x74; // "t"
constexpr uint8_t kReply81 = 0x81;

constexpr size_t kShortFrameSize = 9;
constexpr size_t kDataFrameOverhead = 11;
constexpr size_t kMaxDataLength = 65525; // the frame then fills 65,536 bytes

// Sums buf[first..last] (nothing when last < first) modulo 65,536 and writes
// the check byte(s) at buf[position] (form 1: one byte, the low byte of the
// sum; form 2: two bytes, (high + low) mod 256 and then low).
void CalcSum(uint8_t* buf, uint16_t first, uint16_t last, uint16_t position, int form);

// The sum itself, for readers that compare rather than write.
uint16_t SumBytes(const uint8_t* buf, size_t count);

// The two check bytes of a sum, in wire order.
inline uint8_t CheckByte1(uint16_t sum)
{
    return static_cast<uint8_t>((sum >> 8) + (sum & 0xFF));
}
inline uint8_t CheckByte2(uint16_t sum)
{
    return static_cast<uint8_t>(sum & 0xFF);
}

// True for the reply commands that are followed by a data block.
bool HasDataBlock(uint8_t command);

// The five header bytes of one reply, positions +1 .. +5.
struct ReplyHeader {
    uint8_t Addr = 0;
    uint8_t Addr2 = 0;
    uint8_t Cmd = 0;
    uint8_t Param1 = 0;
    uint8_t Param2 = 0;
};

// A header shaped like one of the PC's own frames: 0 as its source and a
// clock as its target. An adapter that hears its own transmission hands
// such frames back, at any delay; a clock never sends one.
bool IsOwnFrameHeader(const ReplyHeader& h);

// Whether h is the answer of the clock(s) at addr to the frame (cmd, p1,
// p2): the same clock (any clock for 0xFF) and command, for a register
// read the same register, for a register write the same register and
// value. Anything else on the line (another clock, a master's blocks, a
// duplicate of an earlier answer) is not.
bool AnswersRequest(const ReplyHeader& h, uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2);

// The frames as bytes.
std::vector<uint8_t> BuildShortFrame(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2);
// n = len_hi * 256 + len_lo bytes are taken from data (which may be null
// only when n is 0). n above kMaxDataLength gives an empty vector.
std::vector<uint8_t> BuildDataFrame(uint8_t addr, uint8_t cmd, uint8_t len_hi, uint8_t len_lo,
                                    const uint8_t* data);

// Purge the port, then write the whole frame with one write. The result of
// the write is returned for callers that care; the protocol itself notices a
// lost frame only by the missing reply.
bool WriteShortFrame(platform::SerialDevice& port, uint8_t addr, uint8_t cmd, uint8_t p1,
                     uint8_t p2);
// purged = false: the caller purged the port already (a timed frame, which
// makes no system call between its last look at the clock and the write).
bool WriteDataFrame(platform::SerialDevice& port, uint8_t addr, uint8_t cmd, uint8_t len_hi,
                    uint8_t len_lo, const uint8_t* data, bool purge = true);

} // namespace chronavel

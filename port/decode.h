// Reply decoding: turns each reply the exchange thread finds on the line
// into clock state (the register image and settings, the clock's texts, the
// emulated display) and reports empty answers.
#pragma once

#include "port/port_error.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel {

constexpr int kTextBlockSize = 104;   // indices 0..103; index 0 is never written
constexpr int kImageDataPlaces = 100; // status-block bytes RegImage can hold
constexpr int kTextDataPlaces = 103;  // text-block bytes TextBlock can hold

// The address of the clock that last answered a read of register 0x4D as
// master (bit 7 set); 0 at start. A new master search sets it back to 0.
extern std::atomic<uint8_t> MasterAddress;

// The last text block and what was made of it.
struct TextBlockState {
    std::array<uint8_t, kTextBlockSize> TextBlock{};
    int32_t TextCount = 0;               // as the block announced it
    std::vector<std::string> ClockTexts; // the texts that fit in the block, in order
};
// A copy, taken under the decoder's lock.
TextBlockState CurrentTextBlock();

// Runs on the exchange thread once a byte has arrived: finds the next
// reply, releases the request it answers, reads its data block and applies
// it, then checks the line status. When the data block cannot be read, the
// failure ("Error reading port"), and nothing is applied.
std::optional<ReadFailure> DecodeReply();

// The second half of DecodeReply, for a reply already taken off the line:
// applies header and data block (data may be null for replies without one).
// Only the first param2 bytes of data are looked at, and never more than it
// holds.
void ApplyReply(uint8_t reply_addr, uint8_t cmd, uint8_t param1, uint8_t param2,
                const std::vector<uint8_t>* data);

// Text state empty, MasterAddress 0 (tests).
void ResetDecodeState();

} // namespace chronavel

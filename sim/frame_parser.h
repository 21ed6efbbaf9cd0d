// The clock's receiver: finds the PC's frames in the byte stream by the sync
// byte and the two check bytes, and takes the data block of a data frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chronavel::sim {

struct RxFrame {
    uint8_t addr = 0;
    uint8_t cmd = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    bool has_data = false;
    std::vector<uint8_t> data;
    bool check_ok = true; // false: a rejected candidate, reported for the log
};

// Commands of the PC that are followed by a data block (length in P1, P2).
bool CommandCarriesData(uint8_t cmd);

// Longest data block a clock takes; a header announcing more is noise.
constexpr size_t kMaxRxData = 1024;

class FrameParser {
public:
    // Appends every frame completed by this byte to out, and every rejected
    // candidate (a sync byte whose header or data check failed) with
    // check_ok false.
    void Feed(uint8_t byte, std::vector<RxFrame>& out);

    // Forgets a partial frame (the receiver's inter-byte time-out).
    void Reset() { buf_.clear(); }
    bool Idle() const { return buf_.empty(); }

private:
    void Scan(std::vector<RxFrame>& out);
    std::vector<uint8_t> buf_; // starts with a sync byte whenever not empty
};

} // namespace chronavel::sim

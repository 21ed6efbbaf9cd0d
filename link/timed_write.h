// The timed write: a frame whose data block carries a time of day is
// written so that its last byte leaves on a second boundary, with the bytes
// made for that second; and how far after their seconds such frames really
// ended. The wait itself is TNewThread::AwaitFrameEnd (declared with the
// thread in link/exchange.h, defined here).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace chronavel {

struct TRequestRec;

// Writes a request that has a data block on PortHandle; a time-carrying
// block is first waited for and stamped (RequestData), and a stop request
// during that wait leaves the frame unwritten.
void WriteDataRequest(const TRequestRec& req);

// How far after the second it carries each time frame's last byte left the
// port (the port reports it drained), as a Prometheus-style histogram.
struct FrameEndStats {
    static constexpr std::array<double, 8> kBounds = {0.0001, 0.0002, 0.0005, 0.001,
                                                      0.002,  0.005,  0.01,   0.05};
    std::array<uint64_t, kBounds.size()> Below{}; // per bound, cumulative
    uint64_t Count = 0;
    double SumSeconds = 0;
    std::optional<double> LastSeconds; // the latest frame's offset
};
FrameEndStats FrameEnds();
// Counts one time frame's end, seconds after its second.
void RecordFrameEnd(double seconds);

// Forgets the frame ends (tests).
void ResetFrameEnds();

} // namespace chronavel

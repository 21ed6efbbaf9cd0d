// A fake port with a clock behind it for the window tests: every short frame
// is answered with its echo header (optionally after a pause), and the
// register writes that went out can be listed.
#pragma once

#include "link/frames.h"
#include "testkit/fake_port.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace chronavel::test {

class ClockPort {
public:
    explicit ClockPort(int answer_delay_ms = 0)
        : port(std::make_shared<FakePort>()), delay_ms_(answer_delay_ms)
    {
        port->on_write = [this](const std::vector<uint8_t>& f) {
            if (f.size() < kShortFrameSize || silent.load())
                return;
            if (delay_ms_ > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
            std::vector<uint8_t> h{0x00, kSync, f[3], 0x00, f[4], f[5], f[6]};
            const uint16_t sum = SumBytes(h.data() + 1, 6);
            h.push_back(CheckByte1(sum));
            h.push_back(CheckByte2(sum));
            port->Feed(h);
        };
    }

    // (register, value) of every register write, in order.
    std::vector<std::pair<uint8_t, uint8_t>> RegisterWrites() const
    {
        std::vector<std::pair<uint8_t, uint8_t>> out;
        for (const auto& w : port->Writes())
            if (w.size() >= kShortFrameSize && w[4] == kCmdWriteRegister)
                out.emplace_back(w[5], w[6]);
        return out;
    }

    std::shared_ptr<FakePort> port;
    std::atomic<bool> silent{false};

private:
    int delay_ms_;
};

} // namespace chronavel::test

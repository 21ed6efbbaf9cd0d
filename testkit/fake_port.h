// A serial device for tests: scripted input, a record of every write, and a
// hook that answers writes the way a clock would. No real time passes: an
// empty read returns at once (the tests count reads, not milliseconds).
#pragma once

#include "platform/serial.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace chronavel::test {

class FakePort : public platform::SerialDevice {
public:
    // A marker in the input: the next read returns no byte (a pause longer
    // than the read time-out).
    static constexpr int kPause = -1;

    // Called after each write with the bytes written; may Feed() a reply.
    std::function<void(const std::vector<uint8_t>&)> on_write;
    // Runs at every purge (a test moves time here, as a busy machine that
    // takes the core away at the system call).
    std::function<void()> on_purge;
    // Runs as each read begins (a test closes the port under the read here).
    std::function<void()> on_read;

    bool fail_reads = false;
    bool fail_status = false;
    std::atomic<bool> lost{false}; // the device has vanished
    uint32_t error_word = 0;
    std::atomic<int> line_speed{9600};

    void Feed(const std::vector<uint8_t>& bytes)
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (uint8_t b : bytes)
            input_.push_back(b);
    }
    void FeedPause(int count = 1)
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (int i = 0; i < count; ++i)
            input_.push_back(kPause);
    }
    std::vector<std::vector<uint8_t>> Writes() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return writes_;
    }
    size_t WriteCount() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return writes_.size();
    }
    int Purges() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return purges_;
    }
    int Reads() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return reads_;
    }
    // When set, InputWaiting tells the bytes queued before the next pause
    // (a reply coming in); otherwise it reports none, as a port that cannot
    // tell does.
    bool tell_input_waiting = false;
    int InputWaiting() override
    {
        std::lock_guard<std::mutex> hold(lock_);
        int n = 0;
        for (auto it = input_.begin(); tell_input_waiting && it != input_.end() && *it != kPause;
             ++it)
            ++n;
        return n;
    }

    size_t Pending() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return input_.size();
    }

    int Read(uint8_t* buf, size_t n) override
    {
        if (on_read)
            on_read();
        std::lock_guard<std::mutex> hold(lock_);
        ++reads_;
        if (fail_reads)
            return -1;
        int got = 0;
        while (static_cast<size_t>(got) < n && !input_.empty()) {
            int v = input_.front();
            if (v == kPause) {
                if (got == 0)
                    input_.pop_front(); // the pause is this read
                break;
            }
            input_.pop_front();
            buf[got++] = static_cast<uint8_t>(v);
        }
        return got;
    }
    bool Write(const uint8_t* buf, size_t n) override
    {
        std::vector<uint8_t> w(buf, buf + n);
        {
            std::lock_guard<std::mutex> hold(lock_);
            writes_.push_back(w);
        }
        if (on_write)
            on_write(w);
        return true;
    }
    bool Purge() override
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            ++purges_;
        }
        if (on_purge)
            on_purge();
        return true;
    }
    bool ClearErrors(uint32_t& word) override
    {
        if (fail_status)
            return false;
        word = error_word;
        error_word = 0;
        return true;
    }
    bool SetSpeed(int baud) override
    {
        line_speed.store(baud);
        return true;
    }
    int LineSpeed() const override { return line_speed.load(); }
    bool Lost() const override { return lost.load(); }
    void SetReadTimeoutPerByte(int ms) override { timeout_per_byte_ = ms; }
    int ReadTimeoutPerByte() const override { return timeout_per_byte_; }

private:
    mutable std::mutex lock_;
    std::deque<int> input_;
    std::vector<std::vector<uint8_t>> writes_;
    int purges_ = 0;
    int reads_ = 0;
    int timeout_per_byte_ = 80;
};

} // namespace chronavel::test

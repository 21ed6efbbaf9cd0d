// The POSIX serial device behind OpenSerial, exposed for the tests that
// drive it over pseudo-terminals and inject the driver's error counters.
#pragma once

#include "platform/serial.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <termios.h>

namespace chronavel::platform {

// The driver's running totals of line errors since the device was set up.
struct LineCounters {
    uint32_t frame = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t brk = 0;
    uint32_t buf_overrun = 0;
};

enum class CounterRead {
    kOk,
    kNone,   // the device keeps no counters (a pseudo-terminal): clean line
    kFailed, // the call failed: bad handle, device gone
};

using CounterSource = std::function<CounterRead(int fd, LineCounters& out)>;

// The driver's counters (TIOCGICOUNT where the system has it).
CounterRead ReadDriverCounters(int fd, LineCounters& out);

// The error word for what changed between two readings of the counters.
uint32_t ErrorWordFromCounters(const LineCounters& before, const LineCounters& now);

class PosixSerial : public SerialDevice {
public:
    // Takes over fd, already open, claimed and configured; dcb is the line
    // settings record that was applied to it.
    PosixSerial(int fd, const termios& dcb);
    ~PosixSerial() override;
    PosixSerial(const PosixSerial&) = delete;
    PosixSerial& operator=(const PosixSerial&) = delete;

    int Read(uint8_t* buf, size_t n) override;
    bool Write(const uint8_t* buf, size_t n) override;
    bool Drain() override;
    bool Purge() override;
    int InputWaiting() override;
    bool ClearErrors(uint32_t& error_word) override;
    bool SetSpeed(int baud) override;
    int LineSpeed() const override;
    void SetReadTimeoutPerByte(int ms) override;
    int ReadTimeoutPerByte() const override;
    bool Lost() const override;
    void Close() override;

    // Replaces the counter source and takes a fresh baseline from it, so only
    // errors after this call are reported.
    void SetCounterSource(CounterSource source);

    // The speed the device currently runs at, as the driver reports it.
    bool Speed(int& baud) const;

    // The line settings applied at open (the speed changes separately).
    termios PortDcb() const;

private:
    bool Usable() const;
    void MarkLost(int err);

    const int fd_;
    const termios dcb_;
    std::atomic<int> timeout_per_byte_{80};
    std::atomic<bool> lost_{false};
    std::atomic<bool> closed_{false};
    // The last read found the line silent: the next one waits before it
    // reads, which saves an idle poller one system call a pass.
    std::atomic<bool> was_silent_{false};

    std::mutex counter_lock_;
    CounterSource counters_;
    LineCounters last_;
};

} // namespace chronavel::platform

// Frame trace: every frame the program writes, every reply header it
// accepts and every data block it reads with the result of its check, handed
// to whoever listens (the sent-data log, chronavelctl --trace). While nobody
// listens the writers and readers pay one call and a relaxed atomic load.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace chronavel {

enum class FrameDirection : uint8_t {
    Sent,      // a frame written to the line
    Header,    // an accepted reply header
    DataBlock, // the data block after a header, with its check byte
};

struct FrameEvent {
    std::chrono::system_clock::time_point When;
    FrameDirection Direction = FrameDirection::Sent;
    uint8_t Addr = 0; // the clock written to, or the replying clock (+1)
    uint8_t Cmd = 0;
    const uint8_t* Bytes = nullptr; // valid only during the call
    size_t Count = 0;
    // Sent: the write succeeded. DataBlock: the check byte matched.
    bool Ok = true;
    // DataBlock: the length the header announced (Count is what arrived,
    // check byte included).
    size_t Announced = 0;
};

// Listeners run on the thread that wrote or read the frame (the exchange
// thread, or the window thread for a synchronous transaction) while it holds
// the port: they must return quickly and never wait for another thread.
using FrameObserver = std::function<void(const FrameEvent&)>;

// Returns an id for RemoveFrameObserver.
int AddFrameObserver(FrameObserver observer);
// Once it returns the listener is not running and is never called again.
void RemoveFrameObserver(int id);
// Every listener, as RemoveFrameObserver each (tests). Ids are not given out
// again, so a late RemoveFrameObserver of an old one removes nothing.
void RemoveAllFrameObservers();

namespace detail {
void NotifyFrame(FrameDirection direction, uint8_t addr, uint8_t cmd, const uint8_t* bytes,
                 size_t count, bool ok, size_t announced);
} // namespace detail

// Whether anybody listens: a frame is only formatted for them.
bool FrameTraceOn();

inline void TraceFrame(FrameDirection direction, uint8_t addr, uint8_t cmd, const uint8_t* bytes,
                       size_t count, bool ok = true, size_t announced = 0)
{
    if (FrameTraceOn())
        detail::NotifyFrame(direction, addr, cmd, bytes, count, ok, announced);
}

// One line, no line end: local time to the millisecond, direction, address,
// command, then the bytes in hex. For example
//   10:15:02.347 TX addr $01 cmd $70: 00 00 E0 00 01 70 00 07 58 57 ...
//   10:15:02.391 RX addr $01 cmd $70: E0 01 00 70 00 07 58 57
//   10:15:02.612 RX addr $01 cmd $52 data 32, check ok: 21 05 ...
std::string FormatFrameLine(const FrameEvent& event);

// Lines handed from a tracing thread to a reader on another thread (the
// window thread) without the tracing thread ever waiting on the reader. At
// most `cap` lines are held; the oldest go first.
class FrameLineQueue {
public:
    explicit FrameLineQueue(size_t cap) : cap_(cap) {}

    // True when the queue was empty before: the reader must be woken (a
    // reader that has not taken the lines yet needs no second wake).
    bool Push(std::string line);
    // Every line queued, oldest first; the queue is empty afterwards.
    std::vector<std::string> TakeAll();
    // Lines pushed out unread because the cap was reached, since the start.
    size_t Dropped() const;

private:
    const size_t cap_;
    mutable std::mutex lock_;
    std::deque<std::string> lines_; // guarded by lock_
    size_t dropped_ = 0;            // guarded by lock_
};

} // namespace chronavel

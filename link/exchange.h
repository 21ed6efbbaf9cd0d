// The exchange thread: owns the serial exchange while a connection stands.
// It takes queued requests one at a time, writes them, polls the port for
// replies and hands them to the reply decoder, runs the retry engine, and
// takes WM_REQUEST_CANCEL from its own message queue between passes.
#pragma once

#include "link/line_clock.h"
#include "link/request.h"
#include "platform/serial.h"
#include "port/port_error.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace chronavel {

constexpr int WM_QUIT = 0x0012;

// The reply decoder the loop runs when a read brought a byte. It reads the
// rest of the reply itself; a data block it could not read ends the loop,
// which keeps the failure's text (EndError).
using ReplyDecoder = std::optional<ReadFailure> (*)();
// nullptr restores the default, DecodeReply (port/decode.h).
void SetReplyDecoder(ReplyDecoder decoder);
ReplyDecoder CurrentReplyDecoder();

// Header hunt, pending match and removal, data block read; nothing else
// (for tests of the loop that need no clock state).
std::optional<ReadFailure> MinimalDecodeReply();

struct RequestQueues;

class TNewThread : public std::enable_shared_from_this<TNewThread> {
public:
    // Builds a fresh ring and pending list, makes them the producers' target,
    // and starts the loop on a new thread one step below normal priority.
    // before_ready runs on the new thread before it counts as ready (tests).
    static std::shared_ptr<TNewThread> Create(std::function<void()> before_ready = {});
    // The same without a thread: the caller runs the passes with RunPass.
    static std::shared_ptr<TNewThread> CreateManual();

    ~TNewThread();
    TNewThread(const TNewThread&) = delete;
    TNewThread& operator=(const TNewThread&) = delete;

    // Queues a message for the loop, waiting first until the thread is ready.
    // False (and the block released) when the loop has already ended.
    bool PostToThread(int msg, std::unique_ptr<FailureBlock> block = nullptr);

    // Asks the loop to end after the pass in progress. Does not wait. A header
    // search or block read of the pass ends at once.
    void StopThread();
    bool StopRequested() const { return stop_.load(); }

    // Stops the loop and makes the rest of the pass in progress skip the
    // line: a new thread owns it from now on.
    void Retire();
    bool Retired() const { return retired_.load(); }

    // False once the loop has ended, whether asked to or not.
    bool Running() const { return !ended_.load(); }
    // The loop ended on an error (a reply's data block that could not be
    // read, or an escaping exception); its message.
    bool EndedOnError() const;
    std::string EndError() const;

    // Waits until the loop has ended; false when the limit passed first.
    bool WaitEnded(std::chrono::milliseconds limit);
    // The same, but also returns as soon as the thread is waiting on the
    // window thread (a failure report), which a caller there must not wait on.
    bool WaitEndedOrBlocked(std::chrono::milliseconds limit);
    // True while the thread waits on the window thread (any host call).
    bool InHostCall() const { return in_host_call_.load() > 0; }

    std::thread::id ThreadId() const;

    // One pass of the loop, in its fixed order: one message, send, read,
    // decode (or idle count), retries. No pause. False when the loop is to
    // end (stop or quit), and at once, the rest of the pass skipped, when the
    // decoder could not read a data block: the loop then ends with its text.
    // Exceptions from the pass escape.
    bool RunPass();

    int IdleCount() const { return idle_.load(); }

    // Passes completed so far: a watchdog sees the loop moving.
    uint64_t Passes() const { return passes_.load(); }

    // True when the last pass left work for the next one at once: a reply
    // coming in, or a request in the ring that can be taken now. The loop
    // then skips its pause; an idle line keeps it.
    bool WorkWaiting() const { return work_waiting_.load(); }

    // Waits until a frame of the given wire time, written now, would end on
    // a second boundary, and returns that second: the first boundary that
    // leaves enough time, chosen by the wall clock, which is read afresh so
    // a change of the PC's time gives the right second. Never waits much
    // more than a second (after a clock change it then gives the second
    // nearest the frame's end). Nullopt at once on a stop request: the line
    // is being given up and the frame is not to be written.
    // port, when given, takes the port (true; it may block) shortly before
    // the moment to write, or lets it go (false). When the port came too late
    // for that moment, it is let go and the frame takes the next second, so
    // nothing waited for stands between the chosen second and the write. On
    // a return other than nullopt the port is held. aligned, when given, is
    // false for the nearest second given after a clock change. Defined with
    // the timed write it serves, in link/timed_write.cpp.
    std::optional<WallTime> AwaitFrameEnd(LineDuration wire,
                                          const std::function<void(bool)>& port = {},
                                          bool* aligned = nullptr);

    // Marks a host call of this thread (link/host_call.h); calls may nest.
    void EnterHostCall() { in_host_call_.fetch_add(1); }
    void LeaveHostCall() { in_host_call_.fetch_sub(1); }

    // The port this thread may use now: the first port it found open, while
    // PortHandle still holds it and the thread is not retired; else none.
    // On this thread only.
    platform::SerialPtr OwnPort();

private:
    TNewThread();
    void Main(std::shared_ptr<TNewThread> self, std::function<void()> before_ready);
    void Dispatch(int msg, std::unique_ptr<FailureBlock> block);
    void MarkEnded(const std::string& error, bool on_error);

    struct Message {
        int Msg = 0;
        std::unique_ptr<FailureBlock> Block;
    };

    std::shared_ptr<RequestQueues> queues_;
    std::thread thread_;
    std::mutex join_lock_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Message> messages_; // guarded by lock_
    bool ready_ = false;           // guarded by lock_
    std::string error_;            // guarded by lock_
    bool ended_on_error_ = false;  // guarded by lock_
    std::thread::id id_;           // guarded by lock_
    bool manual_ = false;          // guarded by lock_

    std::atomic<bool> ended_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> retired_{false};
    std::atomic<int> in_host_call_{0};
    platform::SerialPtr line_port_; // this thread's own
    std::atomic<int> idle_{0};
    std::atomic<bool> work_waiting_{false};
    std::atomic<uint64_t> passes_{0};
    bool quit_ = false; // the loop's own
    // Why the loop is to end on an error (the loop's own).
    std::optional<std::string> failed_read_;
    // How long the last stretch before a timed write is spun (the loop's own).
    LineDuration spin_ = std::chrono::milliseconds(2);
};

// The exchange thread whose pass is running on the calling thread, if any.
TNewThread* CurrentPassThread();

// The port the calling thread may do I/O on. On an exchange thread, its own
// port (TNewThread::OwnPort): a retired thread, or one whose port has been
// closed or replaced, never reads, writes, purges or checks the status of its
// successor's port. On any other thread, PortHandle.
platform::SerialPtr LinePort();

// True on an exchange thread that has been retired or whose port has been
// replaced by another: its I/O returns at once, quietly.
bool LineTakenAway();

// The process-wide reference to the current exchange thread. A thread that
// ended on its own stays here with Running() false and is not used again.
class ExchangeThreadVar {
public:
    std::shared_ptr<TNewThread> Get() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return thread_;
    }
    void Set(std::shared_ptr<TNewThread> t)
    {
        std::lock_guard<std::mutex> hold(lock_);
        thread_ = std::move(t);
    }

private:
    mutable std::mutex lock_;
    std::shared_ptr<TNewThread> thread_;
};
extern ExchangeThreadVar ExchangeThread;

// Retires the running exchange thread, if any, waits for it to end (at most
// one pass, and never while it waits on the window thread), then creates and
// starts a new one and stores it in ExchangeThread.
std::shared_ptr<TNewThread> StartExchangeThread();

// What came of a post to ExchangeThread.
enum class PostResult {
    kPosted,      // queued for the running thread
    kThreadEnded, // the thread has ended and takes nothing
    kNoThread,    // no exchange thread was ever started (or it was forgotten)
};
// Told to the operator when a post found no exchange thread.
constexpr const char* kThreadNotStartedText = "Thread not started";

// Posts to ExchangeThread; the block is released when nothing takes it.
[[nodiscard]] PostResult PostToThread(int msg, std::unique_ptr<FailureBlock> block = nullptr);

// Asks ExchangeThread to stop; does not wait. Nothing when there is none.
void StopThread();

// Stops ExchangeThread and waits up to limit for it to end. True when no
// thread is left running.
bool StopExchangeThread(std::chrono::milliseconds limit);

// Stops and forgets the exchange thread, restores the default decoder
// (tests).
void ResetExchangeState();

} // namespace chronavel

#include "link/exchange.h"

#include "link/frames.h"
#include "link/queues.h"
#include "link/reception.h"
#include "platform/serial.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "port/decode.h"
#include "port/port.h"

#include <algorithm>
#include <exception>

namespace chronavel {

ExchangeThreadVar ExchangeThread;

namespace {

constexpr int kIdlePassesToClearMaster = 21;
constexpr auto kPassPause = std::chrono::milliseconds(10);
// How long a new thread waits for its predecessor's pass to end before it
// goes on without it (the predecessor then skips the line and ends alone).
constexpr auto kPredecessorWait = std::chrono::milliseconds(3000);

// The full decoder: replies turn into clock state.
constexpr ReplyDecoder kDefaultDecoder = &DecodeReply;
std::atomic<ReplyDecoder> decoder{kDefaultDecoder};

thread_local TNewThread* pass_thread = nullptr;

class PassScope {
public:
    explicit PassScope(TNewThread* t) : previous_(pass_thread) { pass_thread = t; }
    ~PassScope() { pass_thread = previous_; }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;

private:
    TNewThread* previous_;
};

} // namespace

void SetReplyDecoder(ReplyDecoder fn)
{
    decoder.store(fn ? fn : kDefaultDecoder);
}

ReplyDecoder CurrentReplyDecoder()
{
    return decoder.load();
}

std::optional<ReadFailure> MinimalDecodeReply()
{
    if (!HuntFrame())
        return std::nullopt;
    const ReplyHeader h = CurrentReplyHeader();
    RemovePending(FindAnswered(h));
    // Read only to take the block off the line.
    if (HasDataBlock(h.Cmd))
        return ReadDataBlock(h.Param2).Failure;
    return std::nullopt;
}

TNewThread* CurrentPassThread()
{
    return pass_thread;
}

platform::SerialPtr TNewThread::OwnPort()
{
    if (retired_.load())
        return nullptr;
    platform::SerialPtr now = PortHandle.Get();
    if (!now)
        return nullptr;
    // The first port found open is this thread's for good; a port opened
    // after it belongs to the thread started for it.
    if (!line_port_)
        line_port_ = now;
    return now == line_port_ ? now : nullptr;
}

platform::SerialPtr LinePort()
{
    if (TNewThread* t = CurrentPassThread())
        return t->OwnPort();
    return PortHandle.Get();
}

bool LineTakenAway()
{
    TNewThread* t = CurrentPassThread();
    if (!t)
        return false;
    if (t->Retired())
        return true;
    return PortHandle.Get() != nullptr && !t->OwnPort();
}

TNewThread::TNewThread() : queues_(MakeQueues(kRingRequests)) {}

std::shared_ptr<TNewThread> TNewThread::Create(std::function<void()> before_ready)
{
    std::shared_ptr<TNewThread> t(new TNewThread());
    PublishQueues(t->queues_);
    std::lock_guard<std::mutex> hold(t->join_lock_);
    t->thread_ = std::thread(&TNewThread::Main, t.get(), t, std::move(before_ready));
    return t;
}

std::shared_ptr<TNewThread> TNewThread::CreateManual()
{
    std::shared_ptr<TNewThread> t(new TNewThread());
    PublishQueues(t->queues_);
    std::lock_guard<std::mutex> hold(t->lock_);
    t->ready_ = true;
    t->manual_ = true;
    return t;
}

TNewThread::~TNewThread()
{
    std::lock_guard<std::mutex> hold(join_lock_);
    if (thread_.joinable()) {
        // The last reference may be the thread's own, dropped as it ends.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

void TNewThread::Main(std::shared_ptr<TNewThread> self, std::function<void()> before_ready)
{
    PassScope scope(this);
    BindQueues bind(queues_.get());
    platform::LowerThreadPriority(); // the window thread is served first
    if (before_ready)
        before_ready();
    {
        std::lock_guard<std::mutex> hold(lock_);
        ready_ = true;
        id_ = std::this_thread::get_id();
    }
    changed_.notify_all();

    std::string error;
    bool on_error = false;
    try {
        while (!stop_.load() && !quit_) {
            if (!RunPass() && failed_read_)
                break;
            // A transaction waiting for the port gets it between passes.
            if ((work_waiting_.load() && PortIoWaiters().load() == 0) || stop_.load())
                continue;
            // A plain sleep: a wait on the condition costs an idle thread
            // one more system call a pass (waking on the mutex), and a stop
            // request is seen at most one pause later.
            std::this_thread::sleep_for(kPassPause);
        }
    } catch (const std::exception& e) {
        error = e.what();
        on_error = true;
    } catch (...) {
        error = "unknown error";
        on_error = true;
    }
    if (failed_read_) {
        error = *failed_read_;
        on_error = true;
    }
    MarkEnded(error, on_error);
    // Releasing self here may destroy this object (the thread then detaches).
    self.reset();
}

void TNewThread::MarkEnded(const std::string& error, bool on_error)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        error_ = error;
        ended_on_error_ = on_error;
        ended_.store(true);
        // What nobody will take any more is released now.
        messages_.clear();
    }
    changed_.notify_all();
}

bool TNewThread::RunPass()
{
    PassScope scope(this);
    BindQueues bind(queues_.get());

    // 1. One message, without waiting.
    {
        Message m;
        bool have = false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!messages_.empty()) {
                m = std::move(messages_.front());
                messages_.pop_front();
                have = true;
            }
        }
        if (have) {
            if (m.Msg == WM_QUIT)
                quit_ = true;
            else
                Dispatch(m.Msg, std::move(m.Block));
        }
    }

    // With no port open there is nothing to talk to: requests stay queued.
    // A retired thread, or one whose port was replaced, leaves the line to
    // its successor.
    const bool line = OwnPort() != nullptr;

    // 2. A new request only when none is outstanding.
    if (line && PendingEmpty() && !RingEmpty()) {
        RequestQueues& q = ActiveQueues();
        q.Taking.store(true);
        struct Taken {
            RequestQueues& Q;
            ~Taken() { Q.Taking.store(false); }
        } taken{q};
        TRequestRec req = GetRequest();
        SendRequest(req);
        // Resends count from the write: a request that waited in the ring
        // behind a long batch is not due the moment it first goes out.
        req.NextDue = platform::GetTickCount() + static_cast<uint32_t>(req.Interval);
        if (req.Retries > 0)
            AddPending(req);
    }

    // 3. One byte, bounded by the port's read time-out.
    uint32_t got = 0;
    const bool read = line && !LineTakenAway();
    if (read)
        got = ReadByte();

    // 4. Decode, or count an idle pass while a master is taken to be active.
    // Only a pass that listened to the line counts: with no port open there
    // is no silence to hear.
    if (got > 0) {
        if (!LineTakenAway()) {
            if (const std::optional<ReadFailure> failed = decoder.load()()) {
                failed_read_ = failed->Text;
                return false;
            }
        }
    } else if (read && MasterActive.load() == 1) {
        if (idle_.fetch_add(1) + 1 >= kIdlePassesToClearMaster) {
            MasterActive.store(0);
            idle_.store(0);
        }
    }

    // 5. Retries.
    if (line && !LineTakenAway())
        CheckPending();

    // A batch runs at the pace of the wire and the clock's turnaround, not
    // of the pause: no pause while a reply is coming in or a request can be
    // taken at once. Each such pass reads the line or takes a request, so
    // the loop cannot spin.
    work_waiting_.store(read && !LineTakenAway() && (got > 0 || (PendingEmpty() && !RingEmpty())));
    passes_.fetch_add(1);

    return !stop_.load() && !quit_;
}

void TNewThread::Dispatch(int msg, std::unique_ptr<FailureBlock> block)
{
    if (msg == WM_REQUEST_CANCEL && block)
        RemovePending(FindPending(block->Rec.Addr, block->Rec.Cmd));
}

bool TNewThread::PostToThread(int msg, std::unique_ptr<FailureBlock> block)
{
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return ready_ || ended_.load(); });
    if (ended_.load())
        return false;
    messages_.push_back(Message{msg, std::move(block)});
    return true;
}

void TNewThread::StopThread()
{
    bool manual = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_.store(true);
        manual = manual_;
    }
    changed_.notify_all();
    // Nobody runs the passes of a manual loop but its caller: it ends here.
    if (manual)
        MarkEnded("", false);
}

void TNewThread::Retire()
{
    retired_.store(true);
    StopThread();
}

bool TNewThread::EndedOnError() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return ended_on_error_;
}

std::string TNewThread::EndError() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
}

std::thread::id TNewThread::ThreadId() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return id_;
}

bool TNewThread::WaitEnded(std::chrono::milliseconds limit)
{
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (!changed_.wait_for(hold, limit, [this] { return ended_.load(); }))
            return false;
    }
    std::lock_guard<std::mutex> hold(join_lock_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    return true;
}

bool TNewThread::WaitEndedOrBlocked(std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (WaitEnded(std::chrono::milliseconds(5)))
            return true;
        if (in_host_call_.load())
            return false;
    }
    return WaitEnded(std::chrono::milliseconds(0));
}

std::shared_ptr<TNewThread> StartExchangeThread()
{
    if (std::shared_ptr<TNewThread> old = ExchangeThread.Get()) {
        if (old->Running()) {
            old->Retire();
            old->WaitEndedOrBlocked(kPredecessorWait);
        }
    }
    std::shared_ptr<TNewThread> t = TNewThread::Create();
    ExchangeThread.Set(t);
    return t;
}

PostResult PostToThread(int msg, std::unique_ptr<FailureBlock> block)
{
    std::shared_ptr<TNewThread> t = ExchangeThread.Get();
    if (!t)
        return PostResult::kNoThread;
    return t->PostToThread(msg, std::move(block)) ? PostResult::kPosted : PostResult::kThreadEnded;
}

void StopThread()
{
    if (std::shared_ptr<TNewThread> t = ExchangeThread.Get())
        t->StopThread();
}

bool StopExchangeThread(std::chrono::milliseconds limit)
{
    std::shared_ptr<TNewThread> t = ExchangeThread.Get();
    if (!t)
        return true;
    t->StopThread();
    return t->WaitEnded(limit);
}

void ResetExchangeState()
{
    StopExchangeThread(std::chrono::milliseconds(5000));
    ExchangeThread.Set(nullptr);
    SetReplyDecoder(nullptr);
}

} // namespace chronavel

// The exchange loop: one pass at a time on the test thread where the order
// and the schedule matter, a real thread where starting, stopping and the
// message queue matter.
#include "engine_fixture.h"
#include "support/wait.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace chronavel::test {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kPassMs = 90; // an idle pass: 80 ms read time-out + 10 ms pause

class LoopTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        loop = TNewThread::CreateManual();
        ExchangeThread.Set(loop);
        port->on_write = [this](const Bytes& w) {
            write_ticks.push_back(tick.Now() - kNearWrap);
            if (answer)
                port->Feed(ReplyFrame(w[3], w[3], w[4], w[5], 0x5A));
        };
    }
    // A pass and the time it takes on an idle line.
    void Pass()
    {
        loop->RunPass();
        tick.Advance(kPassMs);
    }
    void Passes(int n)
    {
        for (int i = 0; i < n; ++i)
            Pass();
    }

    std::shared_ptr<TNewThread> loop;
    std::vector<uint32_t> write_ticks; // ms since the test's start
    bool answer = false;
};

TEST_F(LoopTest, EmptyRingTakesNothing)
{
    Passes(5);
    EXPECT_EQ(port->WriteCount(), 0u);
    EXPECT_EQ(RingRead(), 0);
    EXPECT_EQ(port->Reads(), 5); // one byte asked for per pass
}

TEST_F(LoopTest, HundredFiftyRequestsGoOutInOrder)
{
    for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(PutRequest(MakeRequest(1, 3000, 0, tick.Now() + 3000, kCmdReadRegister,
                                           static_cast<uint8_t>(i), 0, nullptr, nullptr, 2, 0)));
    Passes(150);
    const auto writes = port->Writes();
    ASSERT_EQ(writes.size(), 150u);
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ(writes[i][5], static_cast<uint8_t>(i));
    EXPECT_TRUE(RingEmpty());
}

TEST_F(LoopTest, RequestWithoutRetriesIsWrittenOnceAndNeverPending)
{
    PutRequest(MakeRequest(1, 3000, 0, tick.Now() + 3000, kCmdReadRegister, 0x4D, 0, nullptr,
                           nullptr, 2, 0));
    int reports = 0;
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock>) { ++reports; });
    Pass();
    EXPECT_TRUE(PendingEmpty());
    Passes(200);
    EXPECT_EQ(port->WriteCount(), 1u);
    EXPECT_EQ(reports, 0);
}

TEST_F(LoopTest, UnansweredRequestIsResentThreeTimesThenReportedOnce)
{
    std::vector<uint32_t> report_ticks;
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock> b) {
        report_ticks.push_back(tick.Now() - kNearWrap);
        EXPECT_EQ(b->Thread, std::this_thread::get_id());
    });
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    Passes(400); // 36 s

    ASSERT_EQ(write_ticks.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(write_ticks[i], 3000u * i) << i;
        EXPECT_LE(write_ticks[i], 3000u * i + 3 * kPassMs) << i;
    }
    ASSERT_EQ(report_ticks.size(), 1u);
    // Reported in the pass after the last resend, without another wait.
    EXPECT_EQ(report_ticks[0], write_ticks[3] + kPassMs);
    // The spent entry holds the line: nothing new is taken meanwhile.
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x25, 0));
    Passes(50);
    EXPECT_EQ(port->WriteCount(), 4u);
}

TEST_F(LoopTest, DueTimeAcrossTheTickWrapIsAboutThreeSecondsLater)
{
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    EXPECT_EQ(RingRead(), 0);
    Pass();
    ASSERT_EQ(port->WriteCount(), 1u);
    EXPECT_EQ(PendHead()->Next->Rec.NextDue, 2000u);
    Passes(30); // 2.7 s: not yet
    EXPECT_EQ(port->WriteCount(), 1u);
    Passes(5);
    EXPECT_EQ(port->WriteCount(), 2u);
}

TEST_F(LoopTest, OkReArmsForThreeMoreResends)
{
    int reports = 0;
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock>) {
        if (++reports == 1)
            RearmCursorEntry();
    });
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    Passes(400);
    EXPECT_EQ(reports, 2);
    ASSERT_EQ(write_ticks.size(), 7u);
    // The re-armed entry is due one interval after the first report.
    EXPECT_GE(write_ticks[4] - write_ticks[3], 3000u);
    EXPECT_LE(write_ticks[4] - write_ticks[3], 3000u + 3 * kPassMs);
}

TEST_F(LoopTest, CancelRemovesTheEntryBetweenPassesAndFreesTheLine)
{
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock> b) {
        EXPECT_EQ(PostToThread(WM_REQUEST_CANCEL, std::move(b)), PostResult::kPosted);
        EXPECT_FALSE(PendingEmpty()); // not while the report is handled
    });
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    while (write_ticks.size() < 4)
        Pass();
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x25, 0));
    Pass(); // the report
    EXPECT_FALSE(PendingEmpty());
    Pass(); // the cancel, then the next request
    ASSERT_EQ(port->WriteCount(), 5u);
    EXPECT_EQ(port->Writes()[4][5], 0x25);
    ASSERT_FALSE(PendingEmpty());
    EXPECT_EQ(PendHead()->Next->Rec.Param1, 0x25);
    EXPECT_EQ(PendHead()->Next->Next, nullptr);
}

TEST_F(LoopTest, WithoutAHandlerASpentRequestIsGivenUp)
{
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    Passes(110);
    EXPECT_EQ(port->WriteCount(), 4u);
    EXPECT_TRUE(PendingEmpty());
}

// Resends count from the write, not from the queueing: a request that
// waited behind a long batch is not written twice at once.
TEST_F(LoopTest, RequestThatWaitedInTheRingIsDueAnIntervalAfterItsWrite)
{
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    tick.Advance(3500);
    loop->RunPass();
    EXPECT_EQ(port->WriteCount(), 1u);
    EXPECT_EQ(PendHead()->Next->Rec.Retries, 3);
    EXPECT_EQ(PendHead()->Next->Rec.NextDue, tick.Now() + 3000);
}

// A reply coming in holds a due resend back (its purge would throw the
// reply away) for one interval at most.
TEST_F(LoopTest, DueResendWaitsForAReplyComingIn)
{
    port->tell_input_waiting = true;
    const auto coming_in = [&] {
        // A byte that wakes the loop, a pause that ends its search, and
        // more bytes waiting when the retries are looked at.
        port->Feed({0x55});
        port->FeedPause(kHuntEmptyReads);
        port->Feed(Bytes(40, 0x55));
    };
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    loop->RunPass();
    tick.Advance(3000);
    coming_in();
    loop->RunPass();
    EXPECT_EQ(port->WriteCount(), 1u);
    tick.Advance(3000);
    coming_in();
    loop->RunPass();
    EXPECT_EQ(port->WriteCount(), 2u);
}

TEST_F(LoopTest, AnsweredRequestsGoOutStrictlyOneAfterAnother)
{
    answer = true;
    for (int i = 0; i < 67; ++i)
        PutRequest(StandardRequest(1, kCmdReadRegister, static_cast<uint8_t>(i), 0));
    for (int i = 0; i < 67; ++i) {
        Pass();
        ASSERT_EQ(port->WriteCount(), static_cast<size_t>(i + 1));
        EXPECT_TRUE(PendingEmpty()) << "reply to request " << i << " not matched";
    }
    EXPECT_TRUE(RingEmpty());
    Passes(100);
    EXPECT_EQ(port->WriteCount(), 67u); // no resends
}

TEST_F(LoopTest, QueuesAreIdleOnlyOnceTheLastRequestIsAnsweredOrGivenUp)
{
    EXPECT_TRUE(QueuesIdle());
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x25, 0));
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x27, 0));
    EXPECT_FALSE(QueuesIdle());
    Pass(); // 0x25 out, unanswered
    EXPECT_FALSE(QueuesIdle());
    answer = true;
    Passes(40); // 0x25 resent and answered, then 0x27 out and answered
    EXPECT_TRUE(RingEmpty());
    EXPECT_TRUE(QueuesIdle());

    // Seen from another thread while the exchange takes a request: never
    // idle between the ring's move and the entry on the pending list.
    answer = false;
    std::atomic<bool> stop{false}, idle_seen{false};
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x29, 0));
    std::thread watcher([&] {
        while (!stop.load())
            if (QueuesIdle())
                idle_seen.store(true);
    });
    Pass();
    EXPECT_FALSE(QueuesIdle());
    stop.store(true);
    watcher.join();
    EXPECT_FALSE(idle_seen.load());

    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock> b) {
        EXPECT_EQ(PostToThread(WM_REQUEST_CANCEL, std::move(b)), PostResult::kPosted);
    });
    Passes(110); // resends spent, given up
    EXPECT_TRUE(QueuesIdle());
}

TEST_F(LoopTest, ReplyStartingWithTheSyncByteAfterSilenceIsNotFound)
{
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    Pass();
    Bytes reply = ReplyFrame(1, 1, kCmdReadRegister, 0x4D, 0x5A);
    reply.erase(reply.begin()); // 0xE0 is the byte that wakes the loop
    port->Feed(reply);
    Pass();
    EXPECT_FALSE(PendingEmpty());
    port->Feed(ReplyFrame(1, 1, kCmdReadRegister, 0x4D, 0x5A));
    Pass();
    EXPECT_TRUE(PendingEmpty());
}

TEST_F(LoopTest, DataBearingReplyIsReadWhole)
{
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    Pass();
    port->Feed(ReplyFrame(1, 1, kReplyStatus, 0, 3, {0x61, 0x62, 0x63}));
    Pass();
    EXPECT_FALSE(PendingEmpty()); // a master's block answers no register read
    EXPECT_EQ(port->Pending(), 0u);
    EXPECT_EQ(ReceivedBytes(), (Bytes{0x61, 0x62, 0x63, 0x26}));
}

TEST_F(LoopTest, MasterActiveClearsOnTheTwentyFirstIdlePass)
{
    MasterActive.store(1);
    Passes(20);
    EXPECT_EQ(MasterActive.load(), 1);
    Pass();
    EXPECT_EQ(MasterActive.load(), 0);
    EXPECT_EQ(loop->IdleCount(), 0);
    Passes(30); // no counting while no master is active
    EXPECT_EQ(loop->IdleCount(), 0);
}

TEST_F(LoopTest, PassesWithoutAPortAreNotIdlePasses)
{
    PortHandle.Set(nullptr);
    MasterActive = 1;
    Passes(30);
    EXPECT_EQ(MasterActive.load(), 1);
    EXPECT_EQ(loop->IdleCount(), 0);
}

TEST_F(LoopTest, BytesInBetweenDoNotRestartTheIdleCount)
{
    MasterActive.store(1);
    Passes(10);
    port->Feed({0x55});
    Pass();
    EXPECT_EQ(loop->IdleCount(), 10);
    Passes(10);
    EXPECT_EQ(MasterActive.load(), 1);
    Pass();
    EXPECT_EQ(MasterActive.load(), 0);
}

TEST_F(LoopTest, QuitEndsTheLoopAfterThePassThatTookIt)
{
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    loop->PostToThread(WM_QUIT);
    EXPECT_FALSE(loop->RunPass());
    EXPECT_EQ(port->WriteCount(), 1u); // the pass ran to its end
}

TEST_F(LoopTest, OtherMessagesAreIgnored)
{
    loop->PostToThread(1234);
    loop->PostToThread(WM_REQUEST_CANCEL); // no block
    EXPECT_TRUE(loop->RunPass());
    EXPECT_TRUE(loop->RunPass());
}

TEST_F(LoopTest, NoPortLeavesRequestsQueuedAndShowsNothing)
{
    PortHandle.Set(nullptr);
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    Passes(5);
    EXPECT_FALSE(RingEmpty());
    EXPECT_TRUE(host.Messages().empty());
    PortHandle.Set(port);
    Pass();
    EXPECT_EQ(port->WriteCount(), 1u);
}

TEST_F(LoopTest, DecoderHookIsWhatTheLoopRuns)
{
    static std::atomic<int> calls{0};
    calls = 0;
    SetReplyDecoder([]() -> std::optional<ReadFailure> {
        calls.fetch_add(1);
        return std::nullopt;
    });
    port->Feed({0x01, 0x02});
    Passes(3);
    EXPECT_EQ(calls.load(), 2);
    const ReplyDecoder mine = CurrentReplyDecoder();
    SetReplyDecoder(nullptr);
    EXPECT_NE(CurrentReplyDecoder(), mine);
}

// --- Host calls and a successor on the line.

// Notes, for each host call, whether the loop counted as waiting on the
// window thread then, and runs `during` inside the first call (the window
// thread reconnecting while a message box is open).
class WatchingHost : public RecorderHost {
public:
    void Synchronize(const std::function<void()>& fn) override
    {
        Note("sync");
        RecorderHost::Synchronize(fn);
    }
    void ShowMessage(const std::string& text) override
    {
        Note(text);
        RecorderHost::ShowMessage(text);
    }
    std::shared_ptr<TNewThread> loop;
    std::vector<std::pair<std::string, bool>> calls; // what, marked as waiting
    std::function<void()> during;

private:
    void Note(const std::string& what)
    {
        calls.emplace_back(what, loop && loop->InHostCall());
        if (auto f = std::move(during)) {
            during = nullptr;
            f();
        }
    }
};

class CountingPort : public FakePort {
public:
    bool ClearErrors(uint32_t& word) override
    {
        ++status_checks;
        return FakePort::ClearErrors(word);
    }
    int status_checks = 0;
};

TEST_F(LoopTest, EveryHostCallMarksTheLoopAsWaitingOnTheWindowThread)
{
    WatchingHost watch;
    watch.loop = loop;
    struct Case {
        const char* Name;
        std::function<void()> Arrange;
        std::string Expected;
    };
    const Case cases[] = {
        {"empty answer", [&] { port->Feed(ReplyFrame(1, 0, kReplyEmpty, 0, 0)); }, "Данных нет!"},
        {"display update",
         [&] {
             port->Feed(ReplyFrame(1, 0, kReplyStatus, 0, 3, {1, 2, 3}));
         },
         "sync"},
        {"read error", [&] { port->fail_reads = true; }, "Error reading port"},
        {"line status",
         [&] {
             port->error_word = platform::kRxParity;
             port->Feed(ReplyFrame(1, 0, kCmdLinkCheck, 0, 0));
         },
         " Ошибка чётности принятых данных"},
        {"failure report",
         [&] {
             SetRequestFailedHandler([](std::unique_ptr<FailureBlock>) {});
             AddPending(MakeRequest(1, 3000, 0, tick.Now(), kCmdReadRegister, 0x4D, 0, nullptr,
                                    nullptr, 2, 0));
         },
         "sync"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        watch.calls.clear();
        c.Arrange();
        loop->RunPass();
        port->fail_reads = false;
        ASSERT_FALSE(watch.calls.empty());
        EXPECT_EQ(watch.calls.front().first, c.Expected);
        for (const auto& [what, marked] : watch.calls)
            EXPECT_TRUE(marked) << what;
        EXPECT_FALSE(loop->InHostCall());
    }
}

// The window thread reconnects while the loop's "Данных нет!" box is open:
// once the box is closed, the old loop reads, writes, purges and checks
// nothing more, neither on its own port nor on its successor's, whether it
// was retired first or the new port came first.
TEST_F(LoopTest, OldLoopLeavesTheLineToItsSuccessor)
{
    WatchingHost watch;
    for (bool retire : {true, false}) {
        SCOPED_TRACE(retire ? "retired" : "port replaced, not yet retired");
        auto old_port = std::make_shared<CountingPort>();
        auto new_port = std::make_shared<CountingPort>();
        PortHandle.Set(old_port);
        auto old_loop = TNewThread::CreateManual();
        watch.loop = old_loop;
        old_loop->RunPass(); // takes the line
        // A resend falls due in the same pass, and a line-status check
        // follows every decoded reply.
        AddPending(
            MakeRequest(1, 3000, 3, tick.Now(), kCmdReadRegister, 0x4D, 0, nullptr, nullptr, 2, 0));
        old_port->Feed(ReplyFrame(1, 0, kReplyEmpty, 0, 0));
        int reads_then = 0;
        watch.during = [&] {
            reads_then = old_port->Reads();
            PortHandle.Set(new_port);
            if (retire)
                old_loop->Retire();
        };
        old_loop->RunPass();
        old_loop->RunPass();
        ASSERT_EQ(watch.Messages().back(), "Данных нет!");
        EXPECT_EQ(old_port->Reads(), reads_then);
        EXPECT_EQ(old_port->WriteCount(), 0u);
        EXPECT_EQ(old_port->status_checks, 0);
        EXPECT_EQ(new_port->Reads(), 0);
        EXPECT_EQ(new_port->WriteCount(), 0u);
        EXPECT_EQ(new_port->Purges(), 0);
        EXPECT_EQ(new_port->status_checks, 0);
        old_loop->StopThread();
    }
}

// --- A real thread.

class ThreadTest : public EngineTest {};

TEST_F(ThreadTest, PostToThreadWithoutAThreadSaysSo)
{
    EXPECT_EQ(PostToThread(WM_REQUEST_CANCEL, nullptr), PostResult::kNoThread);
    EXPECT_NO_THROW(StopThread());
}

TEST_F(ThreadTest, PostBeforeTheThreadIsReadyWaitsAndDelivers)
{
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<bool> opened{false};
    auto t = TNewThread::Create([&] {
        std::unique_lock<std::mutex> hold(m);
        cv.wait(hold, [&] { return open; });
    });
    std::thread opener([&] {
        std::this_thread::sleep_for(100ms);
        opened.store(true);
        {
            std::lock_guard<std::mutex> hold(m);
            open = true;
        }
        cv.notify_all();
    });
    EXPECT_TRUE(t->PostToThread(WM_QUIT));
    EXPECT_TRUE(opened.load());
    EXPECT_TRUE(t->WaitEnded(5s));
    EXPECT_FALSE(t->EndedOnError());
    opener.join();
}

TEST_F(ThreadTest, StopDuringAPassLetsThePassComplete)
{
    auto t = StartExchangeThread();
    port->on_write = [](const Bytes&) { StopThread(); };
    PutRequest(StandardRequest(1, kCmdReadRegister, 0x4D, 0));
    ASSERT_TRUE(t->WaitEnded(5s));
    EXPECT_EQ(port->WriteCount(), 1u);
    EXPECT_GE(port->Reads(), 1); // the pass went on to its read
    EXPECT_FALSE(t->Running());
}

TEST_F(ThreadTest, QuitMessageEndsTheThread)
{
    auto t = StartExchangeThread();
    EXPECT_EQ(PostToThread(WM_QUIT), PostResult::kPosted);
    EXPECT_TRUE(t->WaitEnded(5s));
    // An ended thread takes nothing, and says so.
    EXPECT_FALSE(t->PostToThread(WM_QUIT));
    EXPECT_EQ(PostToThread(WM_REQUEST_CANCEL, nullptr), PostResult::kThreadEnded);
}

// Reads of more than one byte fail: the data-block read fails.
class BlockFailPort : public FakePort {
public:
    int Read(uint8_t* buf, size_t n) override { return n > 1 ? -1 : FakePort::Read(buf, n); }
};

TEST_F(ThreadTest, FailedBlockReadEndsTheThreadAndItIsKnown)
{
    auto failing = std::make_shared<BlockFailPort>();
    failing->Feed(ReplyFrame(1, 1, kReplyStatus, 0, 3, {1, 2, 3}));
    PortHandle.Set(failing);
    auto t = StartExchangeThread();
    ASSERT_TRUE(t->WaitEnded(5s));
    EXPECT_TRUE(t->EndedOnError());
    EXPECT_EQ(t->EndError(), "Error reading port");
    EXPECT_TRUE(host.Messages().empty()); // nothing reported to the window side
    EXPECT_FALSE(ExchangeThread.Get()->Running());
}

TEST_F(ThreadTest, StartingAnotherThreadEndsTheFirstAndGetsAFreshRing)
{
    auto first = StartExchangeThread();
    auto second = StartExchangeThread();
    EXPECT_FALSE(first->Running());
    EXPECT_TRUE(second->Running());
    EXPECT_EQ(ExchangeThread.Get(), second);
    EXPECT_EQ(RingRead(), RingWrite());
    PutRequest(MakeRequest(1, 3000, 0, tick.Now() + 3000, kCmdReadRegister, 0x4D, 0, nullptr,
                           nullptr, 2, 0));
    EXPECT_TRUE(WaitUntil([&] { return port->WriteCount() > 0; }));
    EXPECT_EQ(port->WriteCount(), 1u);
    EXPECT_TRUE(StopExchangeThread(5s));
}

TEST_F(ThreadTest, FailureReportCarriesTheThreadsIdentity)
{
    std::promise<std::thread::id> reported;
    std::atomic<bool> once{false};
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock> b) {
        if (!once.exchange(true))
            reported.set_value(b->Thread);
        RearmCursorEntry();
    });
    auto t = StartExchangeThread();
    PutRequest(MakeRequest(1, 3000, 1, tick.Now() + 3000, kCmdReadRegister, 0x4D, 0, nullptr,
                           nullptr, 2, 0));
    auto f = reported.get_future();
    // Resends fall due from the write on: the tick moves until the report.
    ASSERT_TRUE(WaitUntil([&] {
        tick.Advance(3500);
        return f.wait_for(0s) == std::future_status::ready;
    }));
    EXPECT_EQ(f.get(), t->ThreadId());
    EXPECT_TRUE(StopExchangeThread(5s));
}

// A host whose window thread is closing: Synchronize returns without
// running the function.
class AbandoningHost : public RecorderHost {
public:
    void Synchronize(const std::function<void()>&) override { calls.fetch_add(1); }
    std::atomic<int> calls{0};
};

TEST(ThreadShutdown, StopAndWaitDoNotHangWhenTheReportIsAbandoned)
{
    ResetCoreState();
    AbandoningHost host;
    FakeTick tick(kNearWrap);
    auto port = std::make_shared<FakePort>();
    PortHandle.Set(port);
    int handled = 0;
    SetRequestFailedHandler([&](std::unique_ptr<FailureBlock>) { ++handled; });
    auto t = StartExchangeThread();
    PutRequest(MakeRequest(1, 3000, 1, tick.Now() + 3000, kCmdReadRegister, 0x4D, 0, nullptr,
                           nullptr, 2, 0));
    // Resends fall due from the write on: the tick moves until the report.
    EXPECT_TRUE(WaitUntil([&] {
        tick.Advance(3500);
        return host.calls.load() > 0;
    }));
    EXPECT_EQ(host.calls.load(), 1);
    EXPECT_TRUE(StopExchangeThread(5s));
    EXPECT_EQ(handled, 0);
    ResetCoreState();
    PortHandle.Set(nullptr);
}

// A host with a window thread of its own: Synchronize runs the function
// there and waits, as the real windows do.
class WindowThreadHost : public RecorderHost {
public:
    WindowThreadHost() : window_([this] { Run(); }) {}
    ~WindowThreadHost() override
    {
        {
            std::lock_guard<std::mutex> hold(m_);
            done_ = true;
        }
        cv_.notify_all();
        window_.join();
    }
    void Synchronize(const std::function<void()>& fn) override
    {
        std::promise<void> ran;
        {
            std::lock_guard<std::mutex> hold(m_);
            jobs_.push_back([&] {
                fn();
                ran.set_value();
            });
        }
        cv_.notify_all();
        ran.get_future().wait();
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> hold(m_);
        for (;;) {
            cv_.wait(hold, [this] { return done_ || !jobs_.empty(); });
            if (done_)
                return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            hold.unlock();
            job();
            hold.lock();
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    bool done_ = false;
    std::thread window_;
};

TEST(ThreadDeadlock, FailureHandlerCanRunATransactionOnTheWindowThread)
{
    ResetCoreState();
    FakeTick tick(kNearWrap);
    auto port = std::make_shared<FakePort>();
    PortHandle.Set(port);
    {
        WindowThreadHost host;
        std::promise<bool> answered;
        std::atomic<bool> once{false};
        SetRequestFailedHandler([&](std::unique_ptr<FailureBlock> b) {
            if (once.exchange(true))
                return;
            // The link check of the window side, while the exchange thread
            // waits for this handler.
            answered.set_value(SyncTransaction(1, kCmdLinkCheck, 0, 0, 1).Answered);
            RearmCursorEntry();
            EXPECT_EQ(PostToThread(WM_REQUEST_CANCEL, std::move(b)), PostResult::kPosted);
        });
        auto t = StartExchangeThread();
        PutRequest(MakeRequest(1, 3000, 1, tick.Now() + 3000, kCmdReadRegister, 0x4D, 0, nullptr,
                               nullptr, 2, 0));
        auto f = answered.get_future();
        // Resends fall due from the write on: the tick moves until the report.
        ASSERT_TRUE(WaitUntil([&] {
            tick.Advance(3500);
            return f.wait_for(0s) == std::future_status::ready;
        }));
        EXPECT_FALSE(f.get());
        EXPECT_TRUE(StopExchangeThread(5s));
        ResetCoreState();
    }
    PortHandle.Set(nullptr);
}

// The first thread's handler is still open (it started the second thread)
// when the second thread reports: each handler works on its own thread's
// list, and afterwards the window side is back on the current queues.
TEST(ThreadDeadlock, OverlappingReportsLeaveTheWindowSideOnTheCurrentQueues)
{
    ResetCoreState();
    FakeTick tick(kNearWrap);
    auto port = std::make_shared<FakePort>();
    PortHandle.Set(port);
    {
        WindowThreadHost host;
        auto first = TNewThread::CreateManual();
        AddPending(
            MakeRequest(1, 3000, 0, tick.Now(), kCmdReadRegister, 0x25, 0, nullptr, nullptr, 2, 0));
        TPendingNode* first_head = PendHead();
        auto second = TNewThread::CreateManual();
        AddPending(
            MakeRequest(1, 3000, 0, tick.Now(), kCmdReadRegister, 0x27, 0, nullptr, nullptr, 2, 0));
        TPendingNode* second_head = PendHead();
        ASSERT_NE(first_head, second_head);

        std::promise<void> first_in;
        std::promise<void> release_first;
        std::shared_future<void> released = release_first.get_future().share();
        std::vector<TPendingNode*> seen; // window thread only until the joins
        SetRequestFailedHandler([&](std::unique_ptr<FailureBlock> b) {
            seen.push_back(PendHead());
            if (b->Rec.Param1 == 0x25) {
                first_in.set_value();
                released.wait();
            }
        });
        std::thread a([&] { first->RunPass(); });
        EXPECT_EQ(first_in.get_future().wait_for(5s), std::future_status::ready);
        std::thread b([&] { second->RunPass(); });
        EXPECT_TRUE(WaitUntil([&] { return second->InHostCall(); }));
        release_first.set_value();
        a.join();
        b.join();
        EXPECT_EQ(seen, (std::vector<TPendingNode*>{first_head, second_head}));
        EXPECT_EQ(PendHead(), second_head);
        SetRequestFailedHandler(nullptr);
    }
    ResetCoreState();
    PortHandle.Set(nullptr);
}

#if defined(__linux__)
TEST_F(ThreadTest, RunsOneStepBelowNormalPriority)
{
    const int process_nice = getpriority(PRIO_PROCESS, 0);
    std::atomic<int> thread_nice{-100};
    auto t = TNewThread::Create([&] {
        thread_nice.store(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))));
    });
    t->PostToThread(WM_QUIT);
    ASSERT_TRUE(t->WaitEnded(5s));
    if (process_nice < 19) {
        EXPECT_EQ(thread_nice.load(), process_nice + 1);
    }
}
#endif

} // namespace
} // namespace chronavel::test

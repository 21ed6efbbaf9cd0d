// The main window's decisions without the window: display texts, the
// second boundary, the period items, synchronisation with and without a
// connection, and the request-failure dialogs answered every way.
#include "app/main_logic.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "platform/tick.h"
#include "port/port.h"
#include "support/local_time.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"
#include "testkit/fake_time.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace chronavel {
namespace {

using test::At;

TEST(MainLogicTest, DisplayTexts)
{
    EXPECT_EQ(TimeText(At(2026, 12, 31, 23, 59, 59)), "23.59.59");
    EXPECT_EQ(DateText(At(2026, 12, 31, 23, 59, 59)), "31.12.2026");
    EXPECT_EQ(TimeText(At(2027, 1, 1, 0, 0, 0)), "00.00.00");
    EXPECT_EQ(DateText(At(2027, 1, 1, 0, 0, 0)), "01.01.2027");
    EXPECT_EQ(TimeText(At(2026, 12, 6, 9, 5, 7)), "09.05.07");
    EXPECT_EQ(DateText(At(2026, 12, 6, 9, 5, 7)), "06.12.2026");
}

TEST(MainLogicTest, NextSecondBoundary)
{
    using namespace std::chrono;
    const system_clock::time_point whole{seconds(1'800'000'000)};
    EXPECT_EQ(MsToNextSecond(whole), 1000);
    EXPECT_EQ(MsToNextSecond(whole + milliseconds(1)), 999);
    EXPECT_EQ(MsToNextSecond(whole + milliseconds(250)), 750);
    EXPECT_EQ(MsToNextSecond(whole + milliseconds(999)), 1);
}

TEST(MainLogicTest, PeriodClicks)
{
    // Check marks as the click (or Load_settings) left them, the sender, and
    // what the handler leaves.
    struct Case {
        const char* what;
        PeriodChecks before;
        int sender;
        PeriodChecks after;
        int32_t period;
    };
    const Case cases[] = {
        {"Час after Минута",
         {false, true, true, false, false},
         2,
         {false, false, true, false, false},
         3600},
        {"the checked Минута clicked again",
         {false, false, false, false, false},
         1,
         {false, false, false, false, false},
         0},
        {"3 часа",
         {false, false, false, true, false},
         3,
         {false, false, false, true, false},
         10800},
        {"stored 4 at start-up",
         {false, false, false, false, true},
         4,
         {false, false, false, false, true},
         86400},
        {"stored 1 at start-up",
         {false, true, false, false, false},
         1,
         {false, true, false, false, false},
         60},
        {"stored 0: the submenu itself",
         {true, false, false, false, false},
         0,
         {true, false, false, false, false},
         0},
        {"Минута while the submenu carries the mark",
         {true, true, false, false, false},
         1,
         {false, true, false, false, false},
         60},
    };
    for (const Case& c : cases) {
        PeriodChecks checks = c.before;
        EXPECT_EQ(PeriodClick(checks, c.sender), c.period) << c.what;
        EXPECT_EQ(checks, c.after) << c.what;
    }
    EXPECT_EQ(PeriodSeconds(0), 0);
    EXPECT_EQ(PeriodSeconds(5), 0);
}

// A manual exchange thread on a fake port: the test runs its passes.
class MainEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetExchangeState();
        ResetRequestState();
    }
    void TearDown() override
    {
        ResetExchangeState();
        PortHandle.Set(nullptr);
        ResetRequestState();
    }
    void Connect()
    {
        PortHandle.Set(port_);
        thread_ = TNewThread::CreateManual();
        ExchangeThread.Set(thread_);
    }
    // The request sent and waiting for its answer, with PendCursor on it.
    void SendAndSpend()
    {
        ASSERT_EQ(SyncTime(0x05), SyncOutcome::kQueued);
        thread_->RunPass();
        ASSERT_FALSE(PendingEmpty());
        TPendingNode* entry = FindPending(0x05, kCmdSetTime);
        ASSERT_NE(entry, nullptr);
        entry->Rec.Retries = 0;
        entry->Rec.Exhausted = 1;
    }

    std::shared_ptr<test::FakePort> port_ = std::make_shared<test::FakePort>();
    // Time frames wait for their second boundary on these, not on real time.
    test::FakeTime clocks_{test::LocalWall(2026, 12, 6, 14, 5, 8, 500), 10'000};
    std::shared_ptr<TNewThread> thread_;
    test::RecorderHost host_;
};

TEST_F(MainEngineTest, SyncNeedsAConnection)
{
    EXPECT_EQ(SyncTime(0xFF), SyncOutcome::kNoConnection);
    EXPECT_EQ(SyncOutcomeText(SyncOutcome::kNoConnection), kNoConnectionText);
    // A thread without a port is no connection either.
    thread_ = TNewThread::CreateManual();
    ExchangeThread.Set(thread_);
    EXPECT_EQ(SyncTime(0xFF), SyncOutcome::kNoConnection);
    EXPECT_TRUE(RingEmpty());

    PortHandle.Set(port_);
    EXPECT_EQ(SyncTime(0xFF), SyncOutcome::kQueued);
    EXPECT_EQ(SyncOutcomeText(SyncOutcome::kQueued), "");
    const TRequestRec r = GetRequest();
    EXPECT_EQ(r.Addr, 0xFF);
    EXPECT_EQ(r.Cmd, kCmdSetTime);
    ASSERT_TRUE(r.Data);
    EXPECT_EQ(r.Data->Bytes, (std::vector<uint8_t>{0x08, 0x05, 0x14, 0x08, 0x06, 0x12, 0x26}));

    while (PutRequest(StandardRequest(1, kCmdReadRegister, 0x25, 0))) {
    }
    EXPECT_EQ(SyncTime(0xFF), SyncOutcome::kQueueFull);
    EXPECT_EQ(SyncOutcomeText(SyncOutcome::kQueueFull), kQueueFullText);

    thread_->StopThread();
    EXPECT_EQ(SyncTime(0xFF), SyncOutcome::kNoConnection);
}

// What the reconnect path did to the window.
struct UiRecord final : ReconnectUi {
    bool closing = false;
    std::vector<std::string> calls;
    bool Closing() const override { return closing; }
    void ClearN7() override { calls.push_back("N7"); }
    void StopTimer3() override { calls.push_back("Timer3"); }
    void ShowConnectionDialog() override
    {
        // The port is already closed when the dialog shows.
        calls.push_back(PortHandle.Get() ? "dialog, port open" : "dialog");
    }
};

std::unique_ptr<FailureBlock> BlockFor(const TRequestRec& rec)
{
    return std::make_unique<FailureBlock>(FailureBlock{rec, std::this_thread::get_id()});
}

TEST_F(MainEngineTest, FailureAnsweredOkRearmsAndQueuesAFreshCopy)
{
    Connect();
    SendAndSpend();
    const TRequestRec failed = FindPending(0x05, kCmdSetTime)->Rec;
    clocks_.SetTick(20'000);
    host_.AnswerNext(true);
    UiRecord ui;
    EXPECT_EQ(HandleRequestFailed(BlockFor(failed), ui), FailureAnswer::kRetried);

    EXPECT_EQ(host_.Warnings(), std::vector<std::string>{kRetryReadText});
    const TRequestRec& rearmed = PendCursor()->Rec;
    EXPECT_EQ(rearmed.Retries, 3);
    EXPECT_EQ(rearmed.Exhausted, 0);
    EXPECT_EQ(rearmed.NextDue, 23'000u);
    const TRequestRec copy = GetRequest();
    EXPECT_EQ(copy.Addr, 0x05);
    EXPECT_EQ(copy.Cmd, kCmdSetTime);
    EXPECT_EQ(copy.Param2, 7);
    EXPECT_EQ(copy.Retries, 3);
    EXPECT_EQ(copy.NextDue, 23'000u);
    EXPECT_EQ(copy.Interval, 3000);
    EXPECT_EQ(copy.ReplyMode, 2);
    EXPECT_EQ(copy.Data, failed.Data); // the same block, stamped afresh at each write
    EXPECT_TRUE(RingEmpty());
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_TRUE(thread_->Running());
}

TEST_F(MainEngineTest, FailureAnsweredCancelThenCancelDropsTheRequestOnly)
{
    Connect();
    SendAndSpend();
    host_.AnswerNext(false);
    host_.AnswerNext(false);
    UiRecord ui;
    EXPECT_EQ(HandleRequestFailed(BlockFor(FindPending(0x05, kCmdSetTime)->Rec), ui),
              FailureAnswer::kGivenUp);
    EXPECT_EQ(host_.Warnings(), (std::vector<std::string>{kRetryReadText, kReconnectText}));
    EXPECT_FALSE(PendingEmpty()); // until the exchange thread takes the cancel
    thread_->RunPass();
    EXPECT_TRUE(PendingEmpty());
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_TRUE(PortHandle.Get());
    EXPECT_TRUE(thread_->Running());
}

TEST_F(MainEngineTest, FailureAnsweredCancelThenOkReconnects)
{
    Connect();
    SendAndSpend();
    const int purges = port_->Purges();
    host_.AnswerNext(false);
    host_.AnswerNext(true);
    UiRecord ui;
    EXPECT_EQ(HandleRequestFailed(BlockFor(FindPending(0x05, kCmdSetTime)->Rec), ui),
              FailureAnswer::kReconnected);
    EXPECT_FALSE(thread_->Running());
    EXPECT_EQ(port_->Purges(), purges + 1);
    EXPECT_FALSE(PortHandle.Get());
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"N7", "Timer3", "dialog"}));
}

// The thread that reported is forgotten meanwhile: the operator is told and
// asked nothing more, where the post used to throw out of the handler.
TEST_F(MainEngineTest, FailureCancelledWithNoThreadLeftSaysSo)
{
    Connect();
    SendAndSpend();
    ExchangeThread.Set(nullptr);
    host_.AnswerNext(false);
    UiRecord ui;
    EXPECT_EQ(HandleRequestFailed(BlockFor(FindPending(0x05, kCmdSetTime)->Rec), ui),
              FailureAnswer::kNoThread);
    EXPECT_EQ(host_.Warnings(), std::vector<std::string>{kRetryReadText});
    EXPECT_EQ(host_.Messages(), std::vector<std::string>{kThreadNotStartedText});
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(MainEngineTest, FailureWhileClosingAsksNothing)
{
    Connect();
    SendAndSpend();
    UiRecord ui;
    ui.closing = true;
    EXPECT_EQ(HandleRequestFailed(BlockFor(FindPending(0x05, kCmdSetTime)->Rec), ui),
              FailureAnswer::kClosing);
    EXPECT_TRUE(host_.Warnings().empty());
    thread_->RunPass();
    EXPECT_TRUE(PendingEmpty());
}

TEST_F(MainEngineTest, CloseStepsStopTheThreadAndCloseThePort)
{
    Connect();
    CloseSteps();
    EXPECT_FALSE(thread_->Running());
    EXPECT_FALSE(PortHandle.Get());
    EXPECT_TRUE(FinishExchange(std::chrono::milliseconds(100)));
}

} // namespace
} // namespace chronavel

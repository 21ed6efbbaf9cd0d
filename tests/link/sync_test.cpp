// Synchronous transactions: one frame, a wait for its answer on the calling
// thread, bounded resends, and what an unanswered one returns.
#include "engine_fixture.h"

#include <chrono>
#include <thread>

namespace chronavel::test {
namespace {

using namespace std::chrono_literals;

using SyncTest = EngineTest;

const Bytes kLinkCheckToClock1 = BuildShortFrame(1, kCmdLinkCheck, 0, 0);

// Each transaction stands on its own: one that went unanswered leaves
// nothing behind that would keep the next from being sent.
TEST_F(SyncTest, AnUnansweredTransactionDoesNotStopTheNext)
{
    EXPECT_FALSE(SyncTransaction(2, kCmdLinkCheck, 0, 0, 1));
    port->on_write = [&](const Bytes& w) {
        if (w[3] == 1)
            port->Feed(ReplyFrame(1, 0, kCmdLinkCheck, 0, 0));
    };
    EXPECT_TRUE(SyncTransaction(1, kCmdLinkCheck, 0, 0, 1));
    EXPECT_EQ(port->WriteCount(), 2u);
}

TEST_F(SyncTest, NoPortSendsAndTellsNothing)
{
    PortHandle.Set(nullptr);
    const TransactionResult r = SyncTransaction(1, kCmdWriteRegister, 0x4D, 0, 5);
    EXPECT_FALSE(r);
    EXPECT_FALSE(r.WentUnanswered) << "no message is due: nothing was sent";
    EXPECT_FALSE(r.Line);
    EXPECT_EQ(port->WriteCount(), 0u);
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(SyncTest, ClockAnsweringTheSecondFrame)
{
    port->on_write = [&](const Bytes&) {
        if (port->WriteCount() == 2)
            port->Feed(ReplyFrame(1, 0, kCmdWriteRegister, 0x4D, 0x80));
    };
    EXPECT_TRUE(SyncTransaction(1, kCmdWriteRegister, 0x4D, 0x80, 3));
    EXPECT_EQ(port->WriteCount(), 2u);
    EXPECT_EQ(port->Writes()[0], BuildShortFrame(1, kCmdWriteRegister, 0x4D, 0x80));
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(SyncTest, SilentClockWithLimitFive)
{
    port->error_word = 0;
    const TransactionResult r = SyncTransaction(1, kCmdWriteRegister, 0x4D, 0x80, 5);
    EXPECT_FALSE(r);
    EXPECT_TRUE(r.WentUnanswered);
    EXPECT_FALSE(r.Line) << "a clean line has nothing to tell";
    EXPECT_EQ(port->WriteCount(), 5u);
    EXPECT_EQ(port->Reads(), 50); // ten empty reads per wait, about 4 s on a real line
    EXPECT_TRUE(host.Messages().empty()) << "the caller speaks";
    EXPECT_EQ(port->Purges(), 6); // one per frame, and one at the end
}

TEST_F(SyncTest, MessageShowsTheAddressInUpperCaseHex)
{
    EXPECT_EQ(NoAnswerMessage(0x05), "Информация от устройства $05 не поступает!");
    EXPECT_EQ(NoAnswerMessage(0xAB), "Информация от устройства $AB не поступает!");
}

TEST_F(SyncTest, SilentLinkCheckReportsNothing)
{
    EXPECT_FALSE(SyncTransaction(1, kCmdLinkCheck, 0, 0, 10));
    EXPECT_EQ(port->WriteCount(), 10u);
    EXPECT_EQ(port->Writes()[9], kLinkCheckToClock1);
    EXPECT_TRUE(host.Messages().empty());
}

// The line status is checked after the silence and handed back for the
// caller to tell after its own word on it.
TEST_F(SyncTest, LineErrorsAreReturnedNotShown)
{
    port->error_word = platform::kFrame;
    TransactionResult r = SyncTransaction(1, kCmdLinkCheck, 0, 0, 1);
    EXPECT_EQ(r.Line, (LineNotice{false, LineErrorMessage(platform::kFrame)}));
    EXPECT_TRUE(host.Messages().empty());
    ShowLineNotice(r.Line);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{LineErrorMessage(platform::kFrame)});
}

// Whatever else the line carries is read past within the same wait: no
// resend, so the clock is never made to answer twice. Only the addressed
// clock's reply with the command, register and value asked for is taken.
TEST_F(SyncTest, OnlyTheAnswerToTheFrameIsTaken)
{
    const Bytes answer = ReplyFrame(1, 0, kCmdWriteRegister, 0x4D, 0x80);
    struct Case {
        const char* what;
        Bytes before;
    } cases[] = {
        {"another command from the clock", ReplyFrame(1, 0, 0x75, 0x4D, 0x80)},
        {"another clock's answer", ReplyFrame(2, 0, kCmdWriteRegister, 0x4D, 0x80)},
        {"a master's status block, data and all",
         ReplyFrame(1, 0, kReplyStatus, 0, 3, {0xE0, 0x01, 0x00})},
        {"a duplicate answer of an earlier register", ReplyFrame(1, 0, kCmdWriteRegister, 0x4C, 1)},
        {"the register with another value", ReplyFrame(1, 0, kCmdWriteRegister, 0x4D, 0x00)},
        {"an older frame of ours heard back", BuildShortFrame(1, kCmdWriteRegister, 0x4D, 0x00)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        port = std::make_shared<FakePort>();
        PortHandle.Set(port);
        port->on_write = [&](const Bytes&) {
            port->Feed(c.before);
            port->Feed(answer);
            port->Feed(ReplyFrame(1, 0, kReplyStatus, 0, 3, {0xE0, 0x01, 0x00}));
        };
        const TransactionResult r = SyncTransaction(1, kCmdWriteRegister, 0x4D, 0x80, 1);
        EXPECT_TRUE(r);
        EXPECT_EQ(port->WriteCount(), 1u);
        // The exchange thread hunts the master's block right behind the
        // answer: the result still holds the answer.
        ASSERT_TRUE(HuntFrame());
        EXPECT_EQ(CurrentReplyHeader().Cmd, kReplyStatus);
        EXPECT_EQ(r.Reply.Param1, 0x4D);
        EXPECT_EQ(r.Reply.Param2, 0x80);

        // Without the answer the foreign header is no answer either.
        port = std::make_shared<FakePort>();
        PortHandle.Set(port);
        port->on_write = [&](const Bytes&) { port->Feed(c.before); };
        EXPECT_FALSE(SyncTransaction(1, kCmdWriteRegister, 0x4D, 0x80, 2));
        EXPECT_EQ(port->WriteCount(), 2u);
    }
}

TEST_F(SyncTest, ShorterPatienceAppliesForTheTransactionOnly)
{
    std::vector<int> timeouts;
    port->on_write = [&](const Bytes&) { timeouts.push_back(port->ReadTimeoutPerByte()); };
    SyncPatience quick;
    quick.ReadTimeoutMs = 15;
    quick.EmptyReadLimit = 2;
    EXPECT_FALSE(SyncTransaction(0x20, kCmdReadRegister, 0x4D, 0, 1, quick));
    EXPECT_EQ(timeouts, std::vector<int>{15});
    EXPECT_EQ(port->Reads(), 2);
    EXPECT_EQ(port->ReadTimeoutPerByte(), 80);
}

TEST_F(SyncTest, PatienceIsRestoredWhenTheReadFails)
{
    port->on_write = [&](const Bytes&) { port->Feed(ReplyFrame(1, 0, kReplyStatus, 0, 3)); };
    SyncPatience quick;
    quick.ReadTimeoutMs = 15;
    // A data-bearing answer's block is not read here, so no read can fail;
    // the answer ends the transaction.
    EXPECT_TRUE(SyncTransaction(1, kReplyStatus, 0, 0, 1, quick));
    EXPECT_EQ(port->ReadTimeoutPerByte(), 80);
}

TEST_F(SyncTest, FailingPortShowsOneReadErrorPerTransaction)
{
    port->fail_reads = true;
    EXPECT_FALSE(SyncTransaction(1, kCmdLinkCheck, 0, 0, 10));
    EXPECT_EQ(port->WriteCount(), 10u);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Error reading port"});
}

// A port on which time passes as on a real line: a byte costs 1 ms (about
// 9600 Bd), a read that finds nothing costs the read time-out.
class TimedPort : public FakePort {
public:
    explicit TimedPort(FakeTick& tick) : tick_(tick) {}
    int Read(uint8_t* buf, size_t n) override
    {
        const int got = FakePort::Read(buf, n);
        tick_.Advance(got > 0 ? static_cast<uint32_t>(got) : 80u);
        return got;
    }

private:
    FakeTick& tick_;
};

// Foreign traffic (a master's status blocks) never counts as a silent wait,
// so without an overall bound these transactions would not end until the
// traffic stopped (here after 2,000 blocks). Each ends as unanswered once its
// silent waits' time (10 x 10 x 80 ms for the link check, 5 x 10 x 80 ms for
// a register write) has passed; endless noise (30,000 bytes) ends each wait
// after twice the longest reply's bytes.
TEST_F(SyncTest, ForeignTrafficCannotKeepATransactionGoing)
{
    struct Case {
        const char* Name;
        uint8_t Cmd;
        int Limit;
        bool StatusBlocks; // another clock's block after each frame
        size_t NoiseBytes; // bytes that never form a header
    };
    const Case cases[] = {
        {"link check, master's blocks every 300 ms", kCmdLinkCheck, 10, true, 0},
        {"register write, master's blocks", kCmdWriteRegister, 5, true, 0},
        {"link check, endless noise", kCmdLinkCheck, 10, false, 30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto timed = std::make_shared<TimedPort>(tick);
        PortHandle.Set(timed);
        if (c.NoiseBytes > 0)
            timed->Feed(Bytes(c.NoiseBytes, 0x55));
        if (c.StatusBlocks)
            timed->on_write = [&](const Bytes&) {
                if (timed->WriteCount() > 2000)
                    return;
                tick.Advance(300);
                timed->Feed(ReplyFrame(1, 0, kReplyStatus, 0, 0));
            };
        const uint32_t start = tick.Now();
        EXPECT_FALSE(SyncTransaction(2, c.Cmd, 0, 0, c.Limit));
        const uint32_t bound = static_cast<uint32_t>(c.Limit) * 10 * 80;
        // Bytes that never form a header end each wait sooner: after twice
        // the longest reply, as an empty wait.
        const uint32_t least =
            c.NoiseBytes > 0 ? static_cast<uint32_t>(c.Limit) * kHuntByteLimit : bound;
        EXPECT_GE(tick.Now() - start, least);
        EXPECT_LE(tick.Now() - start, bound + 400);
        timed->on_write = nullptr;
    }
}

// With the exchange thread polling the same port, the answer a transaction
// waits for must never be taken by the thread.
TEST_F(SyncTest, ExchangeThreadCannotTakeTheAnswer)
{
    port->on_write = [&](const Bytes& w) {
        if (w[4] == kCmdLinkCheck)
            port->Feed(ReplyFrame(1, 0, kCmdLinkCheck, 0, 0));
    };
    auto t = StartExchangeThread();
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(SyncTransaction(1, kCmdLinkCheck, 0, 0, 1)) << i;
        std::this_thread::sleep_for(3ms);
    }
    EXPECT_EQ(port->WriteCount(), 40u);
    EXPECT_TRUE(StopExchangeThread(5s));
}

} // namespace
} // namespace chronavel::test

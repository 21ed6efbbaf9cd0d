#include "app/master_search.h"
#include "app/service_commands.h"
#include "config/registers.h"
#include "config/write_settings.h"
#include "link/engine_fixture.h"
#include "port/sync.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::test {
namespace {

using namespace std::chrono_literals;

class ServiceCommandsTest : public EngineTest {
protected:
    // An exchange thread whose passes nobody runs: the queue exists and
    // what was put into it stays there.
    void Connect() { ExchangeThread.Set(TNewThread::CreateManual()); }

    static std::vector<TRequestRec> Queued()
    {
        std::vector<TRequestRec> out;
        while (!RingEmpty())
            out.push_back(GetRequest());
        return out;
    }
};

TEST_F(ServiceCommandsTest, WithoutAnExchangeThreadNothingIsQueuedAndTheOperatorIsTold)
{
    CreateRing(kRingRequests); // a ring left behind by an ended thread
    EXPECT_EQ(ReadAllSettings(1), kNoConnectionMessage);
    EXPECT_EQ(QueueRegisterWrite(1, 0x4D, 0), kNoConnectionMessage);
    EXPECT_EQ(QueueRegisterRead(1, "4D"), kNoConnectionMessage);
    EXPECT_TRUE(RingEmpty());

    // A thread with no port to talk through is no connection either.
    Connect();
    PortHandle.Set(nullptr);
    EXPECT_EQ(ReadAllSettings(1), kNoConnectionMessage);
    EXPECT_TRUE(RingEmpty());
}

TEST_F(ServiceCommandsTest, ReadAllQueuesTheWholeBatchInOrderOrNothing)
{
    Connect();
    ASSERT_EQ(ReadAllSettings(0x05), "");
    const auto q = Queued();
    ASSERT_EQ(q.size(), 71u);
    EXPECT_EQ(q.front().Param1, 0x25);
    EXPECT_EQ(q.back().Param1, 0xFF);
    for (size_t i = 0; i < q.size(); ++i) {
        EXPECT_EQ(q[i].Param1, ReadBatchRegisters()[i]);
        EXPECT_EQ(q[i].Addr, 0x05);
        EXPECT_EQ(q[i].Cmd, 0x74);
        EXPECT_EQ(q[i].Param2, 0);
        EXPECT_EQ(q[i].Retries, 3);
        EXPECT_EQ(q[i].Interval, 3000);
        EXPECT_EQ(q[i].ReplyMode, 2);
    }

    // Room for 70 only: the batch is refused whole.
    for (int i = 0; i < 80; ++i)
        ASSERT_TRUE(PutRequest(StandardRequest(5, 0x74, 0x4D, 0)));
    EXPECT_EQ(ReadAllSettings(0x05), kQueueFullMessage);
    EXPECT_EQ(Queued().size(), 80u);
}

TEST_F(ServiceCommandsTest, RegisterReadTakesTheLowByteOfAHexadecimalNumber)
{
    Connect();
    const struct {
        const char* Text;
        int Register; // -1: refused
    } cases[] = {{"1", 0x01},    {"4D", 0x4D},       {"4d", 0x4D}, {"1FF", 0xFF},
                 {" E0 ", 0xE0}, {"FFFFFFFF", 0xFF}, {"zz", -1},   {"", -1},
                 {"$4D", -1},    {"-1", -1},         {"4 D", -1},  {"100000000", -1}};
    for (const auto& c : cases) {
        const std::string said = QueueRegisterRead(2, c.Text);
        const auto q = Queued();
        if (c.Register < 0) {
            EXPECT_EQ(said, NotHexMessage(c.Text)) << c.Text;
            EXPECT_TRUE(q.empty()) << c.Text;
            continue;
        }
        EXPECT_EQ(said, "") << c.Text;
        ASSERT_EQ(q.size(), 1u) << c.Text;
        EXPECT_EQ(q[0].Cmd, 0x74);
        EXPECT_EQ(q[0].Param1, c.Register) << c.Text;
        EXPECT_EQ(q[0].Addr, 2);
    }
}

TEST_F(ServiceCommandsTest, RegisterWriteQueuesOneWrite)
{
    Connect();
    ASSERT_EQ(QueueRegisterWrite(3, 0x4D, 0x00), "");
    const auto q = Queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].Cmd, 0x72);
    EXPECT_EQ(q[0].Param1, 0x4D);
    EXPECT_EQ(q[0].Param2, 0x00);
}

TEST_F(ServiceCommandsTest, LinkCheck)
{
    port->on_write = [this](const Bytes& w) { port->Feed(ReplyFrame(w[3], 0, w[4], w[5], w[6])); };
    EXPECT_FALSE(LinkCheck(0xFF));
    EXPECT_EQ(port->WriteCount(), 0u) << "all clocks: nothing sent";

    EXPECT_TRUE(LinkCheck(0x04));
    ASSERT_EQ(port->WriteCount(), 1u);
    EXPECT_EQ(port->Writes()[0][4], 0x80);

    // A silent clock: false, and the silence is the caller's to show.
    port->on_write = nullptr;
    EXPECT_FALSE(LinkCheck(0x05));
    EXPECT_EQ(port->WriteCount(), 11u);
    EXPECT_TRUE(host.Messages().empty()) << "silent";

    // A master on the line is the link standing: nothing sent.
    MasterActive.store(1);
    EXPECT_TRUE(LinkCheck(0x05));
    EXPECT_EQ(port->WriteCount(), 11u);
}

TEST_F(ServiceCommandsTest, ExchangeSwitchNeverStartsASecondThread)
{
    EXPECT_TRUE(ExchangeSwitch(true));
    const auto first = ExchangeThread.Get();
    ASSERT_TRUE(first && first->Running());
    EXPECT_TRUE(ExchangeSwitch(true));
    EXPECT_EQ(ExchangeThread.Get(), first);

    EXPECT_FALSE(ExchangeSwitch(false));
    EXPECT_TRUE(first->WaitEnded(5s));

    PortHandle.Set(nullptr);
    EXPECT_FALSE(ExchangeSwitch(true)) << "no port: the mark goes again";
    EXPECT_EQ(ExchangeThread.Get(), first);

    StartExchangeOnce();
    EXPECT_EQ(ExchangeThread.Get(), first) << "one was started in this run";
    ResetExchangeState();
    StartExchangeOnce();
    ASSERT_NE(ExchangeThread.Get(), nullptr);
    EXPECT_NE(ExchangeThread.Get(), first);
    StopExchangeAndClosePort();
    EXPECT_TRUE(ExchangeThread.Get()->WaitEnded(5s));
}

// Reads of more than one byte fail: a data block cannot be read.
class BlockFailPort : public FakePort {
public:
    int Read(uint8_t* buf, size_t n) override { return n > 1 ? -1 : FakePort::Read(buf, n); }
};

// Another clock's status block comes in while a transaction waits and its
// data cannot be read: the transaction stops there, and whoever runs it
// stops too, with "Error reading port" returned (the core) or shown (the
// window-free app). Nothing else is said, nothing more written.
TEST_F(ServiceCommandsTest, FailedReadInATransactionStopsItsCallerWhoTellsIt)
{
    const auto told = [this](const std::optional<ReadFailure>& failure) {
        std::vector<std::string> out = host.Messages();
        if (failure)
            out.push_back(failure->Text);
        return out;
    };
    // A search or census: its first step ends it, the port counted as gone.
    const auto first_step = [this](auto run) {
        EXPECT_TRUE(run.Step());
        EXPECT_TRUE(run.PortLost());
        return host.Messages();
    };
    struct Case {
        const char* Name;
        std::function<std::vector<std::string>()> Run; // what reaches the operator
    };
    const Case cases[] = {
        {"transaction", [&] { return told(SyncTransaction(1, kCmdLinkCheck, 0, 0, 5).Failure); }},
        {"save",
         [&] {
             SavePlan plan;
             plan.Writes = {{0x4D, 0x80, 1, 5}, {0x4E, 0, 1, 5}};
             const WriteOutcome out = WriteSettings(1, plan);
             EXPECT_EQ(out.Result, WriteResult::kReadFailed);
             EXPECT_FALSE(out.Unanswered);
             std::vector<std::string> seen = host.Messages();
             seen.push_back(OutcomeText(1, out));
             return seen;
         }},
        {"register read",
         [&] {
             const RegistersRead read = ReadRegistersNow(1, {0x4D, 0x4E}, 3);
             EXPECT_TRUE(read.Values.Known().empty());
             return told(read.Failure);
         }},
        {"link check",
         [&] {
             EXPECT_FALSE(LinkCheck(1));
             return host.Messages();
         }},
        {"census step", [&] { return first_step(CensusRun(9600)); }},
        {"master search step", [&] { return first_step(MasterSearchRun(9600)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ResetCoreState();
        host.Clear();
        auto failing = std::make_shared<BlockFailPort>();
        failing->on_write = [&](const Bytes&) {
            failing->Feed(ReplyFrame(9, 9, kReplyStatus, 0, 3, {1, 2, 3}));
        };
        PortHandle.Set(failing);
        EXPECT_EQ(c.Run(), std::vector<std::string>{"Error reading port"});
        EXPECT_EQ(failing->WriteCount(), 1u);
        PortHandle.Set(nullptr);
    }
}

} // namespace
} // namespace chronavel::test

// Time-setting frames written to end on a second boundary, and the loop's
// pause, with the line's clocks and the sleep replaced: no real time passes.
#include "engine_fixture.h"

#include <chrono>
#include <optional>

namespace chronavel::test {
namespace {

using namespace std::chrono_literals;

TEST(LinkLineClock, WireTimeAndTheSecondAFrameEndsOn)
{
    EXPECT_EQ(WireTime(18, 9600), 18750us);
    EXPECT_EQ(WireTime(18, 115200), 1562500ns);
    EXPECT_EQ(WireTime(18, 0), 0ns);
    const WallTime s = LocalWall(2026, 12, 7, 12, 0, 5);
    struct Case {
        LineDuration from; // into the second
        LineDuration wire;
        LineDuration ends; // after the start of that second
    } cases[] = {
        {0ms, 18750us, 1s},
        {500ms, 18750us, 1s},
        {980ms, 18750us, 1s},
        {981ms, 18750us, 2s},
        {998ms, 1562500ns, 2s},
        {997ms, 1562500ns, 1s},
        {900ms, WireTime(18, 1200), 2s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FrameEndSecond(s + c.from, c.wire), s + c.ends) << c.from.count();
}

class TimedWriteTest : public EngineTest {
protected:
    // A time-setting request whose stamp records the second it was given.
    TRequestRec TimeRequest(int retries = 3)
    {
        auto data = std::make_shared<RequestData>();
        data->Bytes.assign(7, 0);
        data->StampAt = [this](WallTime second) {
            stamps.push_back(second);
            return std::vector<uint8_t>(7, 0x11);
        };
        return MakeRequest(1, 3000, retries, tick.Now() + 3000, kCmdSetTime, 0, 7, nullptr, data, 2,
                           0);
    }
    void Start(WallTime at, int speed)
    {
        tick.ResetSleeps();
        tick.SetWall(at);
        port->line_speed.store(speed);
        port->on_write = [this](const Bytes&) { written.push_back(tick.WallNow()); };
        loop = TNewThread::CreateManual();
        ExchangeThread.Set(loop);
    }
    LineDuration Wire() const { return WireTime(18, port->line_speed.load()); }

    std::shared_ptr<TNewThread> loop;
    std::vector<WallTime> stamps;
    std::vector<WallTime> written; // the wall clock as each write starts
};

// The frame's last byte leaves on the second it carries; a frame longer than
// what is left of this second goes one second later. First send and resend.
TEST_F(TimedWriteTest, StampIsTheSecondTheFrameEndsOn)
{
    const WallTime s = LocalWall(2026, 12, 7, 12, 0, 5);
    struct Case {
        LineDuration from;
        int speed;
        LineDuration stamp;
    } cases[] = {
        {0ms, 9600, 1s},     {420ms, 9600, 1s},   {975ms, 9600, 1s}, {985ms, 9600, 2s},
        {997ms, 115200, 1s}, {999ms, 115200, 2s}, {900ms, 1200, 2s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from.count() / 1000000 << " ms at " << c.speed);
        stamps.clear();
        written.clear();
        Start(s + c.from, c.speed);
        ASSERT_TRUE(PutRequest(TimeRequest()));
        loop->RunPass();
        // The resend, due three seconds on.
        tick.ShiftWall(3s);
        tick.Advance(3000);
        loop->RunPass();
        ASSERT_EQ(stamps.size(), 2u);
        ASSERT_EQ(written.size(), 2u);
        EXPECT_EQ(stamps[0], s + c.stamp);
        EXPECT_EQ(stamps[1], s + c.stamp + 4s);
        for (size_t i = 0; i < 2; ++i) {
            const LineDuration off = written[i] + Wire() - stamps[i];
            EXPECT_GE(off, 0ns);
            EXPECT_LE(off, 5 * FakeTime::kReadStep);
        }
        // Slept most of the wait; nothing held up longer than a second.
        EXPECT_GE(tick.Sleeps(), 1);
        EXPECT_LE(tick.Slept(), 2s);
        ResetExchangeState();
    }
}

TEST_F(TimedWriteTest, StopDuringTheWaitEndsItAtOnceUnwritten)
{
    Start(LocalWall(2026, 12, 7, 12, 0, 5, 100), 9600);
    tick.on_sleep = [this](int) { loop->StopThread(); };
    ASSERT_TRUE(PutRequest(TimeRequest()));
    EXPECT_FALSE(loop->RunPass());
    EXPECT_EQ(tick.Sleeps(), 1);
    EXPECT_EQ(port->WriteCount(), 0u);
    EXPECT_TRUE(stamps.empty());
}

// The PC's clock moved while the frame waited: the frame carries the second
// it ends on by the clock as it is then, on the boundary when that can be
// reached within the second the others may wait, else the nearest second.
TEST_F(TimedWriteTest, WallClockMovedDuringTheWait)
{
    const WallTime s = LocalWall(2026, 12, 7, 12, 0, 5);
    struct Case {
        LineDuration from;
        LineDuration shift;
        std::optional<LineDuration> stamp; // none: the nearest second, at once
    } cases[] = {
        {700ms, -100ms, 1s},          // back a little: wait longer, same boundary
        {700ms, 300ms, 2s},           // past the boundary: the next one
        {100ms, 3600s, std::nullopt}, // an hour on
        {100ms, -3s, std::nullopt},
        {100ms, 500ms, std::nullopt}, // the next boundary is too far: at once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.shift.count() / 1000000 << " ms");
        stamps.clear();
        written.clear();
        Start(s + c.from, 9600);
        tick.on_sleep = [this, shift = c.shift](int n) {
            if (n == 1)
                tick.ShiftWall(shift);
        };
        ASSERT_TRUE(PutRequest(TimeRequest()));
        loop->RunPass();
        ASSERT_EQ(stamps.size(), 1u);
        ASSERT_EQ(written.size(), 1u);
        const WallTime end = written[0] + Wire();
        if (c.stamp) {
            EXPECT_EQ(stamps[0], s + *c.stamp);
            EXPECT_LE(end - stamps[0], 5 * FakeTime::kReadStep);
            EXPECT_GE(end - stamps[0], 0ns);
        } else {
            EXPECT_EQ(stamps[0], NearestSecond(end));
        }
        EXPECT_LE(tick.Slept(), 1002ms);
        ResetExchangeState();
    }
}

// A thread that loses its core just before the write (a scheduler tick on
// a busy machine) finds the moment gone: the frame takes the next second
// instead of leaving late with the old one.
TEST_F(TimedWriteTest, LateAtTheWriteTakesTheNextSecond)
{
    const WallTime s = LocalWall(2026, 12, 7, 12, 0, 5);
    Start(s + 400ms, 9600);
    int purges = 0;
    port->on_purge = [&] {
        if (++purges == 1)
            tick.FakeTime::Advance(4ms);
    };
    ASSERT_TRUE(PutRequest(TimeRequest()));
    loop->RunPass();
    port->on_purge = nullptr;
    ASSERT_EQ(stamps.size(), 2u);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(stamps[0], s + 1s);
    EXPECT_EQ(stamps[1], s + 2s);
    const LineDuration off = written[0] + Wire() - stamps[1];
    EXPECT_GE(off, 0ns);
    EXPECT_LE(off, 5 * FakeTime::kReadStep);
}

// The 10 ms pause follows a pass only when nothing waits: not while a reply
// is coming in or a request can be taken at once.
TEST_F(TimedWriteTest, PauseSkippedOnlyWhileWorkWaits)
{
    struct Case {
        const char* what;
        int queued;
        int retries;
        bool answer;
        bool port_open;
        std::vector<bool> waiting; // after each pass
    } cases[] = {
        {"idle line", 0, 3, false, true, {false, false}},
        {"answered batch", 2, 3, true, true, {true, true, false}},
        {"unanswered: the read waits for the reply", 2, 3, false, true, {false, false}},
        {"no answer expected", 2, 0, false, true, {true, false}},
        {"no port: nothing to read, no spin", 2, 3, true, false, {false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetExchangeState();
        ResetRequestState();
        loop = TNewThread::CreateManual();
        ExchangeThread.Set(loop);
        PortHandle.Set(c.port_open ? port : nullptr);
        port->on_write = [this, answer = c.answer](const Bytes& w) {
            if (answer)
                port->Feed(ReplyFrame(w[3], w[3], w[4], w[5], 0x5A));
        };
        for (int i = 0; i < c.queued; ++i)
            ASSERT_TRUE(
                PutRequest(MakeRequest(1, 3000, c.retries, tick.Now() + 3000, kCmdReadRegister,
                                       static_cast<uint8_t>(i), 0, nullptr, nullptr, 2, 0)));
        for (size_t p = 0; p < c.waiting.size(); ++p) {
            loop->RunPass();
            EXPECT_EQ(loop->WorkWaiting(), c.waiting[p]) << "after pass " << p + 1;
        }
    }
}

} // namespace
} // namespace chronavel::test

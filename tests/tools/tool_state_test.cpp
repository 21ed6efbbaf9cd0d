// The tool's process-wide state, each piece made non-default the way a
// command makes it: ResetToolState brings every one back.
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "port/port.h"
#include "testkit/fake_port.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/line/tool_state.h"
#include "tools/line/tracker.h"

#include <csignal>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace chronavel::ctl {
namespace {

constexpr uint8_t kClock = 5;

std::vector<uint8_t> Frame(uint8_t cmd, uint8_t p1, uint8_t p2,
                           const std::vector<uint8_t>& data = {})
{
    std::vector<uint8_t> f{0x00, kSync, kClock, 0, cmd, p1, p2};
    const uint16_t sum = SumBytes(f.data() + 1, 6);
    f.push_back(CheckByte1(sum));
    f.push_back(CheckByte2(sum));
    if (!data.empty()) {
        f.insert(f.end(), data.begin(), data.end());
        f.push_back(static_cast<uint8_t>(SumBytes(data.data(), data.size()) & 0xFF));
    }
    return f;
}

// Hands the frame to the decoder the tracker installed, as the exchange
// thread would.
void Decode(const std::vector<uint8_t>& frame)
{
    auto port = std::make_shared<test::FakePort>();
    PortHandle.Set(port);
    port->Feed(frame);
    CurrentReplyDecoder()();
}

struct Piece {
    const char* Name;
    std::function<void()> Dirty;
    std::function<bool()> AtStart;
};

std::FILE* OutputFile()
{
    static std::FILE* file = std::tmpfile();
    return file;
}

const std::vector<Piece>& Pieces()
{
    static const std::vector<Piece> pieces = {
        {"stop request", [] { RequestStop(SIGTERM); },
         [] { return !StopRequested.load() && StopSignal.load() == 0; }},
        {"answers and their count",
         [] {
             InstallTracker(kClock);
             AddPending(StandardRequest(kClock, kCmdReadRegister, 0x43, 0));
             Decode(Frame(kReplyRegister, 0x43, 7));
         },
         [] { return !RegisterAnswer(0x43) && Counts().Answered == 0; }},
        {"text blocks",
         [] {
             InstallTracker(kClock);
             Decode(Frame(kReplyText, 0, 3, {1, 2, 3}));
         },
         [] { return TextBlocksSeen() == 0; }},
        {"failures and their count",
         [] {
             InstallTracker(kClock);
             ExchangeThread.Set(TNewThread::CreateManual()); // GiveUp posts its cancel there
             TRequestRec spent = StandardRequest(kClock, kCmdReadRegister, 0x44, 0);
             spent.Retries = 0;
             AddPending(spent);
             CheckPending();
         },
         [] { return FailedRequests().empty() && Counts().Failed == 0; }},
        {"output file", [] { SendOutputTo(OutputFile()); },
         [] {
             const long before = std::ftell(OutputFile());
             Say("tool state probe");
             std::fflush(OutputFile());
             return std::ftell(OutputFile()) == before;
         }},
    };
    return pieces;
}

TEST(ToolState, ResetBringsEveryPieceBack)
{
    ASSERT_NE(OutputFile(), nullptr);
    ResetToolState();
    for (const Piece& p : Pieces()) {
        p.Dirty();
        EXPECT_FALSE(p.AtStart()) << p.Name << " not made non-default";
    }
    ResetToolState();
    for (const Piece& p : Pieces())
        EXPECT_TRUE(p.AtStart()) << p.Name;
}

} // namespace
} // namespace chronavel::ctl

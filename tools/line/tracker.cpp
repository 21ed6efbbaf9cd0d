#include "tools/line/tracker.h"

#include "link/exchange.h"
#include "link/frames.h"
#include "link/hex.h"
#include "link/reception.h"
#include "port/decode.h"
#include "tools/line/tool_host.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace chronavel::ctl {

namespace {

struct TrackerState {
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<int> answered{0};
    std::atomic<int> failed{0};
    std::atomic<int> text_blocks{0};
    std::atomic<uint8_t> addr{0xFF};
    std::vector<TRequestRec> failures;               // guarded by lock
    std::array<std::optional<uint8_t>, 256> answers; // guarded by lock
};

TrackerState& State()
{
    static TrackerState state;
    return state;
}

void Notify()
{
    {
        std::lock_guard<std::mutex> hold(State().lock);
    }
    State().changed.notify_all();
}

// Runs on the exchange thread in place of the decoder.
std::optional<ReadFailure> TrackingDecoder()
{
    const bool outstanding = !PendingEmpty();
    if (std::optional<ReadFailure> failed = DecodeReply())
        return failed;
    const ReplyHeader h = CurrentReplyHeader();
    TrackerState& s = State();
    bool changed = false;
    if (h.Cmd == kReplyText)
        s.text_blocks.fetch_add(1);
    if (h.Cmd == kReplyRegister) {
        const uint8_t want = s.addr.load();
        // Only the addressed clock's own answers (a clock puts its address
        // at +1; +2 carries the target of our own frames heard back).
        if (want == kBroadcast ? h.Addr != 0 : h.Addr == want) {
            std::lock_guard<std::mutex> hold(s.lock);
            s.answers[h.Param1] = h.Param2;
            changed = true;
        }
    }
    if (outstanding && PendingEmpty()) {
        s.answered.fetch_add(1);
        changed = true;
    }
    if (changed)
        Notify();
    return std::nullopt;
}

void GiveUp(std::unique_ptr<FailureBlock> block)
{
    TrackerState& s = State();
    const TRequestRec rec = block->Rec;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.failures.push_back(rec);
    }
    Say("no answer from clock " + Hex2(rec.Addr) + " to command " + Hex2(rec.Cmd) +
        (rec.Cmd == kCmdSetTime ? std::string() : " " + Hex2(rec.Param1)) +
        " after its retries; given up");
    if (PostToThread(WM_REQUEST_CANCEL, std::move(block)) == PostResult::kNoThread)
        CurrentHost().ShowMessage(kThreadNotStartedText); // on the host's thread already
    s.failed.fetch_add(1);
    Notify();
}

} // namespace

void InstallTracker(uint8_t addr)
{
    State().addr.store(addr);
    SetReplyDecoder(&TrackingDecoder);
    SetRequestFailedHandler(&GiveUp);
}

TrackerCounts Counts()
{
    TrackerCounts c;
    c.Answered = State().answered.load();
    c.Failed = State().failed.load();
    return c;
}

int TextBlocksSeen()
{
    return State().text_blocks.load();
}

std::vector<TRequestRec> FailedRequests()
{
    std::lock_guard<std::mutex> hold(State().lock);
    return State().failures;
}

std::optional<uint8_t> RegisterAnswer(uint8_t reg)
{
    std::lock_guard<std::mutex> hold(State().lock);
    return State().answers[reg];
}

void ClearTracker()
{
    std::lock_guard<std::mutex> hold(State().lock);
    State().failures.clear();
    State().answers.fill(std::nullopt);
}

void ResetTracker()
{
    TrackerState& s = State();
    ClearTracker();
    s.answered.store(0);
    s.failed.store(0);
    s.text_blocks.store(0);
    s.addr.store(kBroadcast);
}

WaitEnd WaitForTotal(int target, const Line& line, std::optional<int> failed_before)
{
    TrackerState& s = State();
    std::unique_lock<std::mutex> hold(s.lock);
    while (Counts().Total() < target) {
        if (failed_before && Counts().Failed > *failed_before)
            return WaitEnd::kGivenUp;
        if (StopRequested.load())
            return WaitEnd::kInterrupted;
        if (line.Lost())
            return WaitEnd::kPortLost;
        s.changed.wait_for(hold, std::chrono::milliseconds(50));
    }
    return WaitEnd::kDone;
}

} // namespace chronavel::ctl

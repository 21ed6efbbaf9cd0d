#include "port/sync.h"

#include "link/frames.h"
#include "link/hex.h"
#include "link/line_clock.h"
#include "link/reception.h"
#include "platform/tick.h"
#include "port/io_hold.h"
#include "port/port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace chronavel {

namespace {

// Lowers the port's read time-out for the scope and puts it back after.
class ReadTimeoutScope {
public:
    ReadTimeoutScope(platform::SerialDevice& port, int ms)
        : port_(port), saved_(port.ReadTimeoutPerByte()), changed_(ms > 0 && ms != saved_)
    {
        if (changed_)
            port_.SetReadTimeoutPerByte(ms);
    }
    ~ReadTimeoutScope()
    {
        if (changed_)
            port_.SetReadTimeoutPerByte(saved_);
    }
    ReadTimeoutScope(const ReadTimeoutScope&) = delete;
    ReadTimeoutScope& operator=(const ReadTimeoutScope&) = delete;

private:
    platform::SerialDevice& port_;
    int saved_;
    bool changed_;
};

// Takes the port (as PortIoHold would) unless the deadline passes or a stop
// is asked for first. True when it is held.
bool PortIoHeldUntil(uint32_t deadline, bool& stopped)
{
    if (PortIoLock().try_lock())
        return true;
    // Polled, so a stop request or the deadline is seen in time; the
    // exchange loop pauses between its passes while someone waits here.
    PortIoWaiters().fetch_add(1);
    struct Done {
        ~Done() { PortIoWaiters().fetch_sub(1); }
    } done;
    for (;;) {
        if (PortIoLock().try_lock())
            return true;
        if (LineStopRequested()) {
            stopped = true;
            return false;
        }
        if (platform::TickReached(platform::GetTickCount(), deadline))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct Expected {
    uint8_t Addr, Cmd, Param1, Param2;
};

// Hunts for the answer to the frame just written until it comes, the line
// has been silent for empty_limit reads, or the attempt's time is over.
// Anything else on the line (a master's blocks, another clock, a duplicate
// of an earlier answer) is read past, data block and all, and the hunt goes
// on: resending at once would make the clock answer twice. A reply still
// coming in when the time is over is waited for a little longer (the
// longest reply's wire time, at most another attempt's time, never past the
// deadline), since the resend's purge would throw it away.
TransactionResult AwaitAnswer(platform::SerialDevice& port, const Expected& e,
                              const SyncPatience& patience, int empty_limit, uint32_t span,
                              uint32_t attempt_end, uint32_t deadline)
{
    int silent = 0;
    bool extended = false;
    for (;;) {
        HuntOptions hunt;
        hunt.EmptyReadLimit = empty_limit - silent;
        hunt.FreshErrorNotice = false; // one read-error message per transaction
        hunt.HasDeadline = true;
        hunt.Deadline = attempt_end;
        const bool found = HuntFrame(hunt);
        silent += Reception.EmptyReads.load();
        if (found) {
            const ReplyHeader h = CurrentReplyHeader();
            if (AnswersRequest(h, e.Addr, e.Cmd, e.Param1, e.Param2))
                return {.Answered = true, .Reply = h};
            if (patience.Heard)
                patience.Heard(h);
            if (HasDataBlock(h.Cmd)) {
                if (std::optional<ReadFailure> failed = ReadDataBlock(h.Param2).Failure)
                    return {.Failure = std::move(failed)};
            }
        }
        if (LineStopRequested() || silent >= empty_limit)
            return {};
        const uint32_t now = platform::GetTickCount();
        if (!platform::TickReached(now, attempt_end))
            continue;
        if (extended || port.InputWaiting() == 0 || platform::TickReached(now, deadline))
            return {};
        extended = true;
        // (A speed that cannot be told: a tenth of a second.)
        const auto longest = std::max<std::chrono::milliseconds>(
            std::chrono::duration_cast<std::chrono::milliseconds>(
                WireTime(kLongestReply, port.LineSpeed())),
            std::chrono::milliseconds(100));
        attempt_end = now + std::min(static_cast<uint32_t>(longest.count()) + 1, span);
        if (platform::TickReached(attempt_end, deadline))
            attempt_end = deadline;
    }
}

// When a wait someone listens to (Heard) gives up while bytes are still
// coming in, they are read for a moment longer instead of purged: an answer
// that began as the time ran out is taken, and anything else is told.
std::optional<ReplyHeader> HearTheRest(platform::SerialDevice& port, const Expected& e,
                                       const SyncPatience& patience, int per_byte)
{
    if (!patience.Heard || port.InputWaiting() <= 0)
        return std::nullopt;
    HuntOptions hunt;
    hunt.EmptyReadLimit = 1;
    hunt.FreshErrorNotice = false;
    hunt.HasDeadline = true;
    hunt.Deadline = platform::GetTickCount() + HearingMs(port.LineSpeed(), per_byte);
    while (!LineStopRequested() && HuntFrame(hunt)) {
        const ReplyHeader h = CurrentReplyHeader();
        if (AnswersRequest(h, e.Addr, e.Cmd, e.Param1, e.Param2))
            return h;
        patience.Heard(h);
    }
    return std::nullopt;
}

} // namespace

uint32_t HearingMs(int speed, int per_byte)
{
    const auto header =
        std::chrono::ceil<std::chrono::milliseconds>(WireTime(kShortFrameSize, speed));
    return static_cast<uint32_t>(2 * header.count() + 2 * std::max(1, per_byte));
}

std::string NoAnswerMessage(uint8_t addr)
{
    return "Информация от устройства $" + HexDigits(addr) + " не поступает!";
}

TransactionResult SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2, int limit)
{
    return SyncTransaction(addr, cmd, p1, p2, limit, SyncPatience{});
}

TransactionResult SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2, int limit,
                                  const SyncPatience& patience)
{
    platform::SerialPtr port = PortHandle.Get();
    if (!port)
        return {};
    limit = std::max(1, limit);
    const int empty_limit = std::max(1, patience.EmptyReadLimit);
    const int per_byte = std::max(1, patience.ReadTimeoutMs > 0 ? patience.ReadTimeoutMs
                                                                : port->ReadTimeoutPerByte());
    // Each attempt waits as long as its silent waits would take on a quiet
    // line; the transaction as a whole gets `limit` of them, counted from the
    // call, so a wait for the port held by the other thread is part of it.
    // (Kept below 2^31 ms, the reach of the wrap-safe tick comparison.)
    const uint64_t span = std::min<uint64_t>(
        static_cast<uint64_t>(empty_limit) * static_cast<uint64_t>(per_byte), 0x7FFFFFFFu);
    const auto bound =
        static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(limit) * span, 0x7FFFFFFFu));
    const uint32_t deadline = platform::GetTickCount() + bound;
    bool stopped = false;
    if (PortIoHeldUntil(deadline, stopped)) {
        // The whole exchange holds the port, so the exchange thread cannot
        // take the answer this transaction waits for.
        PortIoHold hold(std::adopt_lock);
        ReadTimeoutScope timeout(*port, patience.ReadTimeoutMs);
        ResetReadErrorNotice();
        const Expected expected{addr, cmd, p1, p2};
        for (int attempt = 1;; ++attempt) {
            WriteShortFrame(*port, addr, cmd, p1, p2);
            const uint32_t now = platform::GetTickCount();
            uint32_t attempt_end = now + static_cast<uint32_t>(span);
            if (platform::TickReached(attempt_end, deadline))
                attempt_end = deadline;
            TransactionResult awaited =
                AwaitAnswer(*port, expected, patience, empty_limit, static_cast<uint32_t>(span),
                            attempt_end, deadline);
            if (awaited.Answered || awaited.Failure)
                return awaited;
            if (LineStopRequested()) {
                stopped = true;
                break;
            }
            if (attempt >= limit || platform::TickReached(platform::GetTickCount(), deadline)) {
                if (const std::optional<ReplyHeader> h =
                        HearTheRest(*port, expected, patience, per_byte))
                    return {.Answered = true, .Reply = *h};
                break;
            }
        }
    }
    if (stopped)
        return {}; // the program is stopping: nothing more is done on the line
    TransactionResult unanswered;
    unanswered.WentUnanswered = true;
    PortIoHold hold;
    unanswered.Line = CheckLine(port.get());
    PurgePort(port.get());
    return unanswered;
}

} // namespace chronavel

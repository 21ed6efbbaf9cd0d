#include "port/sync.h"

#include "link/frames.h"
#include "link/host_call.h"
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

std::atomic<uint8_t> NoAnswer{0};

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

} // namespace

std::string NoAnswerMessage(uint8_t addr)
{
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", addr);
    return std::string("Информация от устройства $") + digits + " не поступает!";
}

bool SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2, int limit, int report)
{
    return SyncTransaction(addr, cmd, p1, p2, limit, report, SyncPatience{});
}

bool SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2, int limit, int report,
                     const SyncPatience& patience)
{
    if (NoAnswer.load() == 1)
        return false;
    platform::SerialPtr port = PortHandle.Get();
    if (!port) {
        NoAnswer.store(1);
        return false;
    }
    limit = std::max(1, limit);
    const int empty_limit = std::max(1, patience.EmptyReadLimit);
    const int per_byte = std::max(1, patience.ReadTimeoutMs > 0 ? patience.ReadTimeoutMs
                                                                : port->ReadTimeoutPerByte());
    // A header that does not match is resent at once without counting a
    // wait, so a line busy with other clocks' frames would keep the
    // transaction going for good: it gets, all in all, the time its silent
    // waits would take, counted from the call, so a wait for the port held
    // by the other thread is part of it.
    // (Kept below 2^31 ms, the reach of the wrap-safe tick comparison.)
    const uint32_t bound = static_cast<uint32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(limit) * static_cast<uint64_t>(empty_limit) *
                               static_cast<uint64_t>(per_byte),
                           0x7FFFFFFFu));
    const uint32_t deadline = platform::GetTickCount() + bound;
    bool stopped = false;
    if (PortIoHeldUntil(deadline, stopped)) {
        // The whole exchange holds the port, so the exchange thread cannot
        // take the answer this transaction waits for.
        PortIoHold hold(std::adopt_lock);
        ReadTimeoutScope timeout(*port, patience.ReadTimeoutMs);
        ResetReadErrorNotice();
        HuntOptions hunt;
        hunt.EmptyReadLimit = empty_limit;
        hunt.FreshErrorNotice = false; // one read-error message per transaction
        hunt.HasDeadline = true;
        hunt.Deadline = deadline;
        int waits = 0;
        for (;;) {
            WriteShortFrame(*port, addr, cmd, p1, p2);
            const bool found = HuntFrame(hunt);
            if (!found)
                ++waits;
            if (found && Reception.ReplyAddr.load() == addr && Reception.ReplyCmd.load() == cmd)
                return true;
            if (LineStopRequested()) {
                stopped = true;
                break;
            }
            if (waits >= limit || platform::TickReached(platform::GetTickCount(), hunt.Deadline))
                break;
        }
    }
    if (stopped) {
        // The program is stopping: nothing more is said or done on the line.
        NoAnswer.store(1);
        return false;
    }
    NoAnswer.store(1);
    if (report == 0)
        HostMessage(NoAnswerMessage(addr));
    PortIoHold hold;
    ShowLineErrors(port.get());
    PurgePort(port.get());
    return false;
}

} // namespace chronavel

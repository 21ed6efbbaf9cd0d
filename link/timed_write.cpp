#include "link/timed_write.h"

#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "platform/tick.h"
#include "port/io_hold.h"
#include "port/port.h"

#include <algorithm>
#include <mutex>
#include <optional>

namespace chronavel {

namespace {

std::mutex frame_ends_lock;
FrameEndStats frame_ends; // guarded by frame_ends_lock

} // namespace

void RecordFrameEnd(double seconds)
{
    std::lock_guard<std::mutex> hold(frame_ends_lock);
    for (size_t i = 0; i < FrameEndStats::kBounds.size(); ++i)
        if (seconds <= FrameEndStats::kBounds[i])
            ++frame_ends.Below[i];
    ++frame_ends.Count;
    frame_ends.SumSeconds += seconds;
    frame_ends.LastSeconds = seconds;
}

FrameEndStats FrameEnds()
{
    std::lock_guard<std::mutex> hold(frame_ends_lock);
    return frame_ends;
}

void ResetFrameEnds()
{
    std::lock_guard<std::mutex> hold(frame_ends_lock);
    frame_ends = {};
}

namespace {

// A timed frame later than this at its write takes the next second, at most
// this many times in a row.
constexpr auto kLateWrite = std::chrono::milliseconds(1);
constexpr int kLateWriteRetries = 3;

// The last stretch before a timed write is spun on the monotonic clock,
// not slept: a sleep may wake later than the goal of a millisecond allows.
constexpr auto kSpinStretch = std::chrono::milliseconds(2);
// Later than this at the moment to write means the wall clock was moved
// (or the thread was held up): the boundary is chosen afresh.
constexpr auto kLateLimit = std::chrono::milliseconds(100);
// Later than this once the port is held, a frame takes the next second (at
// most this many times in a row).
constexpr auto kLateTolerance = std::chrono::milliseconds(1);
constexpr int kMissedSecondsLimit = 3;
constexpr auto kLongestSpin = std::chrono::milliseconds(40);
// How long a timed write may hold up the requests behind it.
constexpr auto kAlignLimit = std::chrono::seconds(1) + 2 * kWriteLead;

} // namespace

void WriteDataRequest(const TRequestRec& req)
{
    const size_t n = static_cast<size_t>(req.Param1) * 256 + req.Param2;
    std::vector<uint8_t> bytes = req.Data->Bytes;
    std::optional<PortIoHold> hold;
    bool purged = false;
    std::optional<WallTime> second; // the one a time frame carries
    if (req.Data->StampAt) {
        platform::SerialPtr port = LinePort();
        if (!port)
            return;
        const LineDuration wire = WireTime(n + kDataFrameOverhead, port->LineSpeed());
        if (TNewThread* t = CurrentPassThread()) {
            // Waited for without the port (the window thread's transactions
            // go on meanwhile); the port is taken just before the moment to
            // write, and the second is kept only if it came in time.
            for (int attempt = 0;; ++attempt) {
                bool taken = false;
                bool aligned = true;
                second = t->AwaitFrameEnd(
                    wire,
                    [&taken](bool take) {
                        if (take)
                            PortIoLock().lock();
                        else
                            PortIoLock().unlock();
                        taken = take;
                    },
                    &aligned);
                if (taken)
                    hold.emplace(std::adopt_lock);
                if (!second)
                    return;
                bytes = req.Data->StampAt(*second);
                // Purged before the last look at the clock: a system call is
                // where a busy machine takes the core away for a scheduler
                // tick, and a frame that would now end late takes the next
                // second rather than carry an old one.
                port->Purge();
                const WallTime start =
                    *second - std::chrono::duration_cast<WallTime::duration>(wire);
                if (!taken || !aligned || attempt >= kLateWriteRetries ||
                    platform::Time()->Wall() - start <= kLateWrite)
                    break;
                hold.reset();
            }
            purged = true;
        } else {
            hold.emplace();
            second = NearestSecond(platform::Time()->Wall() +
                                   std::chrono::duration_cast<WallTime::duration>(wire));
            bytes = req.Data->StampAt(*second);
        }
    }
    if (!hold)
        hold.emplace();
    platform::SerialPtr port = LinePort();
    if (!port)
        return;
    // The frame carries the length the record declares; a shorter block is
    // padded with zeros rather than read past its end.
    if (bytes.size() < n)
        bytes.resize(n, 0);
    const bool sent =
        WriteDataFrame(*port, req.Addr, req.Cmd, req.Param1, req.Param2, bytes.data(), !purged);
    // The write returns once the port has drained: the frame's end as the
    // PC can know it.
    if (sent && second)
        RecordFrameEnd(std::chrono::duration<double>(platform::Time()->Wall() - *second).count());
}

std::optional<WallTime>
TNewThread::AwaitFrameEnd(LineDuration wire, const std::function<void(bool)>& port, bool* aligned)
{
    if (aligned)
        *aligned = true;
    const std::shared_ptr<platform::TimeSource> clocks = platform::Time();
    MonoTime give_up = clocks->Mono() + kAlignLimit;
    WallTime target = FrameEndSecond(clocks->Wall(), wire);
    bool held = !port;
    int missed = 0;
    // The last stretch is spun. A miss (a late wake on a busy machine, or the
    // port held by a transaction) makes it longer, for this frame and the
    // next ones; each frame on time shortens it again a little.
    LineDuration& spin = spin_;
    for (;;) {
        if (stop_.load())
            return std::nullopt;
        const WallTime wall = clocks->Wall();
        const MonoTime mono = clocks->Mono();
        // Until the write must start.
        const LineDuration left = (target - wire) - wall;
        // The port came too late for this second, or the thread lost its
        // core during the spin: the frame takes the next second rather than
        // leave late with an old one. Waiting for the port or the core is
        // not the clock's doing, so the wait may run on; the port is let go
        // of meanwhile.
        const auto take_next_second = [&] {
            ++missed;
            port(false);
            held = false;
            spin = std::min<LineDuration>(spin * 4, kLongestSpin);
            target = FrameEndSecond(clocks->Wall(), wire);
            give_up = clocks->Mono() + kAlignLimit;
        };
        if (held && port && left < -kLateTolerance && missed < kMissedSecondsLimit) {
            take_next_second();
            continue;
        }
        const bool moved = left < LineDuration::zero()
                               ? -left > kLateLimit
                               : left > std::chrono::seconds(1) + wire + kWriteLead;
        if (moved)
            target = FrameEndSecond(wall, wire);
        const LineDuration now_left = (target - wire) - wall;
        if (mono + std::max(now_left, LineDuration::zero()) > give_up) {
            if (!held)
                port(true);
            if (aligned)
                *aligned = false;
            return NearestSecond(clocks->Wall() +
                                 std::chrono::duration_cast<WallTime::duration>(wire));
        }
        if (now_left > spin) {
            const LineDuration nap = now_left - spin;
            if (!clocks->Real()) {
                clocks->Sleep(nap);
            } else {
                std::unique_lock<std::mutex> hold(lock_);
                changed_.wait_for(hold, nap, [this] { return stop_.load(); });
            }
            continue;
        }
        if (!held) {
            // The second is kept only if the port is ours in time: a
            // transaction of the window thread may hold it.
            port(true);
            held = true;
            continue;
        }
        spin = std::max<LineDuration>(kSpinStretch, spin - spin / 8);
        if (now_left <= LineDuration::zero())
            return target;
        const MonoTime start = mono + now_left;
        MonoTime spun = clocks->Mono();
        while (spun < start) {
            if (stop_.load())
                return std::nullopt;
            spun = clocks->Mono();
        }
        // Preempted in the spin (a scheduler tick on a busy machine costs a
        // few milliseconds): the moment is gone.
        if (port && spun - start > kLateTolerance && missed < kMissedSecondsLimit) {
            take_next_second();
            continue;
        }
        return target;
    }
}

} // namespace chronavel

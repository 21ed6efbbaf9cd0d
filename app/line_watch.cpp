#include "app/line_watch.h"

#include "app/master_search.h"
#include "link/line_clock.h"

#include <algorithm>

namespace chronavel {

namespace {

constexpr size_t kProbeFrameBytes = 9;

} // namespace

std::chrono::milliseconds PollCost(int speed)
{
    const SyncPatience p = ProbePatience(speed);
    return std::chrono::ceil<std::chrono::milliseconds>(
               WireTime(kProbeFrameBytes, std::max(speed, 1))) +
           std::chrono::milliseconds(p.ReadTimeoutMs * p.EmptyReadLimit);
}

LineWatch::LineWatch(int speed) : speed_(speed) {}

std::chrono::milliseconds LineWatch::Cycle() const
{
    const auto n = static_cast<long>(clocks_.size());
    const auto wanted =
        std::chrono::duration_cast<std::chrono::milliseconds>(PollCost(speed_) * n / kPollShare);
    return std::clamp<std::chrono::milliseconds>(wanted, kShortestCycle, kLongestCycle);
}

std::chrono::milliseconds LineWatch::PollSpacing() const
{
    return Cycle() / std::max<long>(1, static_cast<long>(clocks_.size()));
}

void LineWatch::Know(uint8_t addr, bool master, WatchTime now, bool answering)
{
    auto [it, added] = clocks_.try_emplace(addr);
    WatchedClock& c = it->second;
    c.Master = master;
    c.Answering = answering;
    c.MissesInRow = 0;
    c.AgainAt.reset();
    heard_.erase(addr);
    if (added) {
        // It has just answered; the cycle's spacing shrinks as clocks join.
        const WatchTime at = now + PollSpacing();
        if (!poll_at_ || at < *poll_at_)
            poll_at_ = at;
    }
    if (sweep_at_ == addr)
        AdvanceSweep();
}

void LineWatch::Forget(uint8_t addr)
{
    clocks_.erase(addr);
    heard_.erase(addr);
}

void LineWatch::Heard(uint8_t addr, WatchTime now)
{
    if (addr < kFirstSearchAddress || addr > kLastSearchAddress)
        return;
    const auto it = clocks_.find(addr);
    if (it == clocks_.end())
        heard_.try_emplace(addr, now);
    else if (!it->second.Answering && !it->second.AgainAt)
        it->second.AgainAt = now;
}

std::optional<WatchProbe> LineWatch::Due(WatchTime now) const
{
    std::optional<WatchProbe> again;
    WatchTime first = WatchTime::max();
    for (const auto& [addr, c] : clocks_)
        if (c.AgainAt && *c.AgainAt <= now && *c.AgainAt < first) {
            first = *c.AgainAt;
            again = WatchProbe{addr, WatchAsk::kAgain};
        }
    for (const auto& [addr, at] : heard_)
        if (at <= now && at < first) {
            first = at;
            again = WatchProbe{addr, WatchAsk::kAgain};
        }
    if (again)
        return again;
    if (!clocks_.empty() && (!poll_at_ || *poll_at_ <= now)) {
        // The next in address order, past those being asked again anyway.
        auto it = clocks_.lower_bound(poll_next_);
        for (size_t n = 0; n < clocks_.size(); ++n, ++it) {
            if (it == clocks_.end())
                it = clocks_.begin();
            if (!it->second.AgainAt)
                return WatchProbe{it->first, WatchAsk::kPoll};
        }
    }
    if (clocks_.size() < kLastSearchAddress && !clocks_.contains(sweep_at_) &&
        (!sweep_due_ || *sweep_due_ <= now))
        return WatchProbe{sweep_at_, WatchAsk::kSweep};
    return std::nullopt;
}

WatchTime LineWatch::NextDue() const
{
    WatchTime next = WatchTime::max();
    for (const auto& [addr, c] : clocks_)
        if (c.AgainAt)
            next = std::min(next, *c.AgainAt);
    for (const auto& [addr, at] : heard_)
        next = std::min(next, at);
    if (!clocks_.empty())
        next = std::min(next, poll_at_.value_or(WatchTime::min()));
    if (clocks_.size() < kLastSearchAddress)
        next = std::min(next, sweep_due_.value_or(WatchTime::min()));
    return next;
}

void LineWatch::AdvanceSweep()
{
    if (clocks_.size() >= kLastSearchAddress)
        return;
    do {
        sweep_at_ = sweep_at_ >= kLastSearchAddress ? kFirstSearchAddress
                                                    : static_cast<uint8_t>(sweep_at_ + 1);
    } while (clocks_.contains(sweep_at_));
}

std::vector<WatchEvent> LineWatch::Result(const WatchProbe& probe, bool answered, bool master,
                                          WatchTime now)
{
    std::vector<WatchEvent> events;
    const uint8_t addr = probe.Addr;
    switch (probe.Ask) {
    case WatchAsk::kSweep:
        sweep_due_ = now + kSweepSpacing;
        AdvanceSweep();
        break;
    case WatchAsk::kPoll:
        poll_at_ = now + PollSpacing();
        poll_next_ = static_cast<uint8_t>(addr + 1);
        break;
    case WatchAsk::kAgain:
        heard_.erase(addr);
        break;
    }
    const auto it = clocks_.find(addr);
    if (it == clocks_.end()) {
        // A sweep or a heard address: a clock is new only by answering.
        if (answered) {
            Know(addr, master, now);
            events.push_back({WatchChange::kNew, addr});
        }
        return events;
    }
    WatchedClock& c = it->second;
    if (answered) {
        c.MissesInRow = 0;
        c.AgainAt.reset();
        if (!c.Answering) {
            c.Answering = true;
            events.push_back({WatchChange::kBack, addr});
        }
        if (c.Master != master) {
            c.Master = master;
            events.push_back({master ? WatchChange::kMasterOn : WatchChange::kMasterOff, addr});
        }
        return events;
    }
    ++c.MissedPolls;
    if (!c.Answering) {
        c.AgainAt.reset(); // silent already: its poll in the cycle asks it next
        return events;
    }
    ++c.MissesInRow;
    if (c.MissesInRow >= kMissesToSilent) {
        c.Answering = false;
        c.AgainAt.reset();
        events.push_back({WatchChange::kSilent, addr});
    } else {
        c.AgainAt = now + kAgainAfter[c.MissesInRow - 1];
    }
    return events;
}

} // namespace chronavel

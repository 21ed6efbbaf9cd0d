#include "tools/daemon/schedule.h"

#include <algorithm>

namespace chronavel::ctl {

const char* LineTaskName(LineTask task)
{
    switch (task) {
    case LineTask::kNone:
        return "none";
    case LineTask::kTimeFrame:
        return "time frame";
    case LineTask::kEventSync:
        return "event sync";
    case LineTask::kPoll:
        return "poll";
    case LineTask::kCensus:
        return "census";
    case LineTask::kDriftRead:
        return "drift read";
    case LineTask::kSweep:
        return "sweep";
    }
    return "?";
}

ScheduleChoice NextTask(const ScheduleInput& in)
{
    if (in.FrameDue && in.Now >= *in.FrameDue)
        return {LineTask::kTimeFrame, {}};
    if (in.EventDue && in.FrameDue)
        return {LineTask::kEventSync, {}};
    const std::array<std::pair<LineTask, const TaskSlot*>, 4> others = {{
        {LineTask::kPoll, &in.Poll},
        {LineTask::kCensus, &in.Census},
        {LineTask::kDriftRead, &in.DriftRead},
        {LineTask::kSweep, &in.Sweep},
    }};
    std::optional<TaskTime> wake = in.FrameDue;
    for (const auto& [task, slot] : others) {
        if (!slot->Due)
            continue;
        if (*slot->Due <= in.Now) {
            // The first due task that fits runs; one that does not waits
            // for the frame, and so does every other (they would only take
            // the room it needs).
            if (!in.FrameDue || in.Now + slot->Cost + kFrameGuard <= *in.FrameDue)
                return {task, {}};
            return {LineTask::kNone, in.FrameDue};
        }
        wake = wake ? std::min(*wake, *slot->Due) : *slot->Due;
    }
    return {LineTask::kNone, wake};
}

TaskTime NextFrameAfterSync(TaskTime due, TaskTime now, TaskClock::duration period,
                            std::optional<std::chrono::milliseconds> longest_task)
{
    if (!longest_task)
        return std::max(due + period, now);
    const TaskClock::duration room = std::max<TaskClock::duration>(
        std::min<TaskClock::duration>(
            period, std::max<TaskClock::duration>(period / 2, std::chrono::seconds(5))),
        // With a little over the guard: the loop looks a moment after now.
        *longest_task + kFrameGuard + std::chrono::milliseconds(100));
    return std::max(due + period, now + room);
}

void LineShare::Took(TaskTime start, TaskTime end)
{
    if (!first_)
        first_ = start;
    spans_.push_back({start, std::max(start, end)});
    while (spans_.front().End < end - kWindow)
        spans_.pop_front();
}

double LineShare::Share(TaskTime now) const
{
    if (!first_)
        return 0;
    const TaskTime from = std::max(now - kWindow, std::min(*first_, now - std::chrono::minutes(1)));
    TaskClock::duration busy{};
    for (const Span& s : spans_) {
        const TaskTime a = std::max(s.Start, from), b = std::min(s.End, now);
        if (b > a)
            busy += b - a;
    }
    return std::chrono::duration<double>(busy) / std::chrono::duration<double>(now - from);
}

} // namespace chronavel::ctl

// The daemon's use of the line as a schedule of named tasks, each with the
// time it falls due and what it costs on the wire. Time frames come first:
// no other task starts unless it can end before the next frame is due, so
// the period holds whatever the supervision is doing.
#pragma once

#include <array>
#include <chrono>
#include <deque>
#include <optional>

namespace chronavel::ctl {

using TaskClock = std::chrono::steady_clock;
using TaskTime = TaskClock::time_point;

enum class LineTask {
    kNone,
    kTimeFrame, // the period's sync
    kEventSync, // a sync for a time event (summer time, zone, step, resume)
    kPoll,      // a known clock asked (or asked again) by the watch
    kCensus,    // one step of a full census
    kDriftRead, // one register of a clock whose settings are checked
    kSweep,     // one address no clock is known at
};
const char* LineTaskName(LineTask task);

// A task other than the syncs: when it is due (nullopt: nothing to do) and
// the longest it holds the line.
struct TaskSlot {
    std::optional<TaskTime> Due;
    std::chrono::milliseconds Cost{0};
};

struct ScheduleInput {
    TaskTime Now;
    std::optional<TaskTime> FrameDue; // nullopt while no sync can be made
    bool EventDue = false;            // a time event waits for its sync
    // In the order they are preferred: poll, census, drift read, sweep.
    TaskSlot Poll, Census, DriftRead, Sweep;
};

struct ScheduleChoice {
    LineTask Task = LineTask::kNone;
    // With kNone: when to look again (the earliest due time, or the frame).
    std::optional<TaskTime> WakeAt;
};

// A task must end this long before the next time frame falls due: the
// frame is queued then and leaves on the next whole second.
constexpr std::chrono::milliseconds kFrameGuard{300};

ScheduleChoice NextTask(const ScheduleInput& in);

// When the frame after a sync falls due: a period after the last one was
// due, so a frame that waited for its second does not push the next ones.
// While the line is watched, a sync that ended late (its frame sent again
// and again to a line that does not answer) still leaves room for the
// watch: half a period, at least 5 s, at most a period, and never less than
// the longest task waiting, or that task could never start and everything
// behind it would wait for good.
TaskTime NextFrameAfterSync(TaskTime due, TaskTime now, TaskClock::duration period,
                            std::optional<std::chrono::milliseconds> longest_task);

// The share of the line the supervision's tasks took over the last
// minutes: each task's time on the line, added as it ends.
class LineShare {
public:
    static constexpr std::chrono::minutes kWindow{5};
    void Took(TaskTime start, TaskTime end);
    // Over the window before now (or since the first task, when shorter,
    // but never over less than a minute).
    double Share(TaskTime now) const;

private:
    struct Span {
        TaskTime Start, End;
    };
    std::deque<Span> spans_;
    std::optional<TaskTime> first_;
};

} // namespace chronavel::ctl

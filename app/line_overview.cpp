#include "app/line_overview.h"

#include "app/master_search.h"
#include "link/hex.h"
#include "platform/local_time.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace chronavel {

OverviewRow* LineOverview::Find(uint8_t addr)
{
    auto it = std::lower_bound(rows_.begin(), rows_.end(), addr,
                               [](const OverviewRow& r, uint8_t a) { return r.Addr < a; });
    return it != rows_.end() && it->Addr == addr ? &*it : nullptr;
}

void LineOverview::Probed(uint8_t addr, bool answered, bool master, WallTime at)
{
    OverviewRow* row = Find(addr);
    if (!row) {
        if (!answered)
            return; // a silent address never seen answering has no row
        auto it = std::lower_bound(rows_.begin(), rows_.end(), addr,
                                   [](const OverviewRow& r, uint8_t a) { return r.Addr < a; });
        OverviewRow fresh;
        fresh.Addr = addr;
        row = &*rows_.insert(it, fresh);
    }
    row->SilentNow = !answered;
    if (answered) {
        ++row->Answers;
        row->LastAnswer = at;
        row->Master = master;
    }
}

void LineOverview::Checked(uint8_t addr, bool answered, WallTime at)
{
    // A link check does not say whether the clock is master: kept as known.
    const OverviewRow* row = Find(addr);
    Probed(addr, answered, row && row->Master, at);
}

void LineOverview::SettingsRead(uint8_t addr)
{
    if (OverviewRow* row = Find(addr))
        row->SettingsRead = true;
}

std::vector<OverviewRow> LineOverview::Rows() const
{
    return rows_;
}

LineOverview& Overview()
{
    static LineOverview overview;
    return overview;
}

std::vector<std::string> OverviewRowTexts(const OverviewRow& row)
{
    const std::string addr = ClockName(row.Addr);
    std::string last;
    if (row.LastAnswer) {
        const std::tm tm =
            platform::LocalCalendar(std::chrono::system_clock::to_time_t(*row.LastAnswer));
        char buf[16];
        std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
        last = buf;
    }
    if (row.SilentNow)
        last = last.empty() ? "нет ответа" : "нет ответа (был в " + last + ")";
    return {addr, std::to_string(row.Answers), row.Master ? "мастер" : "", last,
            row.SettingsRead ? "прочитаны" : ""};
}

bool CensusMayProbe(std::optional<std::chrono::milliseconds> until_tick,
                    std::chrono::milliseconds step_bound, bool frame_queued)
{
    using std::chrono::milliseconds;
    if (frame_queued)
        return false;
    if (!until_tick)
        return true;
    // The tick queues the frame, which leaves on the next whole second
    // after it; from then on frame_queued holds the census back. Before
    // the tick, no probe may start that could still hold the port at it.
    constexpr std::chrono::milliseconds kMargin{100};
    return *until_tick > step_bound + kMargin;
}

OverviewWatch::OverviewWatch(int speed, const LineOverview& overview, WatchTime now)
    : speed_(speed), watch_(speed)
{
    for (const OverviewRow& row : overview.Rows())
        watch_.Know(row.Addr, row.Master, now, !row.SilentNow);
}

std::optional<WatchProbe> OverviewWatch::Next(WatchTime now,
                                              std::optional<std::chrono::milliseconds> until_tick,
                                              bool frame_queued) const
{
    const std::optional<WatchProbe> p = watch_.Due(now);
    if (!p)
        return std::nullopt;
    const auto bound = ProbeBound(speed_, WatchPatience(speed_, Patient(*p)));
    if (!CensusMayProbe(until_tick, bound, frame_queued))
        return std::nullopt;
    return p;
}

std::vector<WatchEvent> OverviewWatch::Result(LineOverview& overview, const WatchProbe& probe,
                                              bool answered, bool master,
                                              const std::vector<uint8_t>& heard, WallTime at,
                                              WatchTime now)
{
    const std::vector<WatchEvent> events = watch_.Result(probe, answered, master, now);
    if (answered)
        overview.Probed(probe.Addr, true, master, at);
    for (const WatchEvent& e : events)
        if (e.Change == WatchChange::kSilent)
            overview.Probed(e.Addr, false, false, at);
    for (uint8_t addr : heard)
        watch_.Heard(addr, now);
    return events;
}

std::optional<uint8_t> SettingsTargetOf(const std::vector<OverviewRow>& rows, int selected)
{
    if (selected < 0 || selected >= static_cast<int>(rows.size()))
        return std::nullopt;
    return rows[static_cast<size_t>(selected)].Addr;
}

} // namespace chronavel

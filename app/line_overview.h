// The line at a glance for the windows program: which clocks answered the
// overview's census and the technician's own checks in this run, which is
// the master, when each last answered, and whether its settings were read.
// What the overview window shows and decides, without the window.
#pragma once

#include "app/line_watch.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel {

using WallTime = std::chrono::system_clock::time_point;

struct OverviewRow {
    uint8_t Addr = 0;
    int Answers = 0; // probes and link checks it answered in this run
    bool Master = false;
    std::optional<WallTime> LastAnswer;
    bool SilentNow = false; // the latest probe or check of it went unanswered
    bool SettingsRead = false;
    bool operator==(const OverviewRow&) const = default;
};

// Remembered for the whole run (the window may be closed and opened again);
// only addresses that have answered at least once have a row.
class LineOverview {
public:
    // A census probe or a link check of addr, answered or not.
    void Probed(uint8_t addr, bool answered, bool master, WallTime at);
    void Checked(uint8_t addr, bool answered, WallTime at);
    // The settings of addr were read into the settings window.
    void SettingsRead(uint8_t addr);
    // In address order.
    std::vector<OverviewRow> Rows() const;
    void Clear() { rows_.clear(); }

private:
    OverviewRow* Find(uint8_t addr);
    std::vector<OverviewRow> rows_; // address order
};

// The run's overview (window thread only).
LineOverview& Overview();

// The texts of a row's five columns: "$05/5", "3", "мастер" or "", the time
// of the last answer (with "нет ответа" when the latest went unanswered),
// "прочитаны" or "".
std::vector<std::string> OverviewRowTexts(const OverviewRow& row);
constexpr const char* kOverviewColumns[] = {"Адрес", "Ответов", "Мастер", "Последний ответ",
                                            "Настройки"};

// Whether the census may take its next probe now, or must let a time frame
// go first. A probe holds the port for up to step_bound; a frame queued
// meanwhile would leave late. until_tick: time to the period's next tick
// (nullopt when no period runs); the frame it queues leaves on the next
// whole second after it. frame_queued: requests are waiting or in flight.
bool CensusMayProbe(std::optional<std::chrono::milliseconds> until_tick,
                    std::chrono::milliseconds step_bound, bool frame_queued);

// While the overview is open between censuses, its rows are kept fresh by
// the daemon's watch: each clock polled on its cycle, a miss asked again
// before the row says "нет ответа", the other addresses swept.
class OverviewWatch {
public:
    // Watches the rows that answered last (silent ones are known, and asked
    // on their turn).
    OverviewWatch(int speed, const LineOverview& overview, WatchTime now);

    // The probe to make now; nullopt when none is due or when it could
    // still hold the port as the period's frame falls due (as the census).
    std::optional<WatchProbe> Next(WatchTime now,
                                   std::optional<std::chrono::milliseconds> until_tick,
                                   bool frame_queued) const;
    // How long Next's probe may wait for its answer.
    bool Patient(const WatchProbe& probe) const { return probe.Ask == WatchAsk::kAgain; }
    WatchTime NextDue() const { return watch_.NextDue(); }

    // A probe's outcome, and the addresses heard on the line meanwhile: the
    // rows follow the watch's verdicts (one miss is not a silent clock).
    std::vector<WatchEvent> Result(LineOverview& overview, const WatchProbe& probe, bool answered,
                                   bool master, const std::vector<uint8_t>& heard, WallTime at,
                                   WatchTime now);

private:
    int speed_;
    LineWatch watch_;
};

// "Настройки…" on a row: the clock the settings window is to read; nullopt
// without a row chosen.
std::optional<uint8_t> SettingsTargetOf(const std::vector<OverviewRow>& rows, int selected);

} // namespace chronavel

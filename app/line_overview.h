// The line at a glance for the windows program: which clocks answered the
// overview's census and the technician's own checks in this run, which is
// the master, when each last answered, and whether its settings were read.
// What the overview window shows and decides, without the window.
#pragma once

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

// "Настройки…" on a row: the clock the settings window is to read; nullopt
// without a row chosen.
std::optional<uint8_t> SettingsTargetOf(const std::vector<OverviewRow>& rows, int selected);

} // namespace chronavel

// The emulated clock display: the texts the clock's main field cycles
// through and the texts of its additional fields, worked out from each
// status block, and the choice of what the main field shows right now.
#pragma once

#include "port/display_lock.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace chronavel {

constexpr int kMainFieldTexts = 9;  // time, date, year, temp 1..3, pressure, humidity, radiation
constexpr int kExtraFieldTexts = 7; // numbered 1..7: temp 1..3, pressure, humidity, radiation, date
constexpr int kFieldTableRows = 7;
constexpr size_t kFieldNameChars = 15;
constexpr size_t kFieldValueChars = 10;

struct FieldEntry {
    std::string Name;  // at most 15 characters
    std::string Value; // at most 10 characters
    bool operator==(const FieldEntry&) const = default;
};
using FieldRows = std::array<FieldEntry, kFieldTableRows>;

// The texts as they stand; a copy, taken under the texts' own lock.
struct DisplayTexts {
    std::array<std::string, kMainFieldTexts> MainFieldText;
    std::array<std::string, kExtraFieldTexts + 1> ExtraFieldText; // [0] unused
    FieldRows FieldCatalog;
    FieldRows FieldTable;
    int FieldTableRows = 0; // rows in use, from the top
    std::string Shown;      // what the main field shows (the label's text)
};
DisplayTexts CurrentDisplayTexts();

// Builds MainFieldText and ExtraFieldText from RegImage, Expo, ExpoUnits
// and FieldFormat. A text whose format has no rule keeps its old value.
void FormatClockFields();

// The item the main field shows at the current DisplayTick: the first k
// whose running exposure sum reaches the tick (0 when none does). Starts a
// new cycle (DisplayTick := 1, under DisplayTickLock) once the tick has
// passed the sum.
int ChooseCurrentItem();

// Fills FieldCatalog and FieldTable: the date first, then temperature 1..3,
// pressure, humidity, radiation, leaving out fields whose format is 0.
void FillFieldTable();

// Picks the shown item, fills the table and hands both to the display sink.
// Runs on the window thread (the decoder reaches it through Synchronize).
void ShowClockFields();

// Whoever shows the emulated display (the main window, the command-line
// tool) installs a sink; none installed means nothing is drawn.
using ClockDisplaySink =
    std::function<void(const std::string& shown, const FieldRows& table, int rows)>;
void SetClockDisplaySink(ClockDisplaySink sink);
bool ClockDisplaySinkSet();

// Texts empty, tick 0, no sink (tests).
void ResetDisplayState();

// --- Text helpers shared with the windows.
// Number of characters (code points) of a UTF-8 text.
size_t Utf8Length(const std::string& s);
// The first n characters of a UTF-8 text.
std::string Utf8Prefix(const std::string& s, size_t n);

} // namespace chronavel

// What the remote settings window decides, without the window: which list
// position, check box and time each bound control shows for the settings
// variables, and what the controls give back on a save.
#pragma once

#include "config/register_values.h"
#include "config/registers.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace chronavel {

constexpr int kNoSelection = -1;
constexpr int kTimePickers = 4;
constexpr int kTemperatureLists = 3;

// A time picker and the check box beside it.
struct TimePicker {
    int Hour = 0;
    int Minute = 0;
    bool Enabled = true;
    bool Checked = false;
};

// Picker order: reduced brightness on, off, alarm 1, alarm 2.
enum TimePickerIndex : int { kPickDimOn = 0, kPickDimOff = 1, kPickAlarm1 = 2, kPickAlarm2 = 3 };

// The bound controls of the window. Lists hold positions, kNoSelection when
// nothing is chosen; the flag registers one bit per check box, their eight
// boxes enabled only while the clock's value is known.
struct SettingsView {
    std::array<int, kExpoCount> Expo{}; // exposure lists, "-", "1".. (temperatures: units)
    std::array<int, kTemperatureLists> TempFormat{}; // format digit of temperatures 1..3
    // The byte lists ("$00/0" .. "$FF/255") by register: the register
    // table's plain rows the window shows (the address, S6, SE).
    std::map<uint8_t, int> Bytes;
    uint8_t MasterFlags = 0;
    uint8_t OptionFlags = 0;
    bool MasterEnabled = true;
    bool OptionEnabled = true;
    std::array<int, kFieldFormatCount> FieldFormat{}; // by field number
    int TimeZone = 0;                                 // entry, (p - 24) / 2 hours
    int Volume = 0;                                   // "10%" .. "100%"
    int DimLevel = 0;
    int NormLevel = 0;
    std::array<TimePicker, kTimePickers> Times{};
    int UpperLevel = 0; // level + 99
    int LowerLevel = 0; // level + 99
    int Correction = 0; // correction + 59
};

// The registers of the byte lists, ascending.
std::vector<uint8_t> ByteListRegisters();

// The controls as the window is created: the format lists on "0 нет", the
// format digits on "0", "100%" for the volume and the normal level, "10%"
// for the reduced level, pickers at 18:00, 09:00, 09:00, 18:00 with their
// boxes clear, the exposure lists empty (they are built at each showing).
SettingsView InitialSettingsView();

// Default time-zone entry when the code read matches none: +3.0 hours.
constexpr int kDefaultTimeZoneEntry = 30;

// Sets every bound control of v from what the clock answered in its last
// read batch. A register it did not answer leaves its list without a
// selection (its check boxes clear and disabled, its picker disabled with
// the box cleared); a picker whose pair is a valid time takes it, is
// enabled and gets its box set; any other pair disables it, box cleared,
// time kept.
void StandFields(SettingsView& v, const RegisterValues& clock);

// The register values a save would carry: what the clock answered, with
// every control the operator changed since it was shown (shown -> now) put
// over it. A control left without a selection, or a disabled picker, keeps
// the clock's value; a register neither answered nor set stays unknown. A
// flag register the clock did not answer is never taken: one ticked box
// would carry seven bits nobody read.
RegisterValues ChosenRegisters(const SettingsView& shown, const SettingsView& now,
                               const RegisterValues& clock);

// The registers the window's controls show, ascending: the register table's
// rows with a control (the read batch but 0x4F and the text lengths).
std::vector<uint8_t> WindowRegisters();

// The line telling the operator which of the window's registers the clock
// did not answer, or "" when it answered them all.
std::string UnreadText(const RegisterValues& clock);

// The lists built in code.
std::string AddressItem(int value);                                    // "$0A/10"
std::string TimeZoneItem(int entry, const std::string& decimal_point); // "-11.5", "13.0"

} // namespace chronavel

#include "config/settings_form.h"

#include <atomic>
#include <cstdio>

namespace chronavel {

namespace {

constexpr int kExpoItems = 50;        // "-", "1" .. "49"
constexpr int kTemperatureItems = 10; // "-", "1" .. "9"
constexpr int kFormatDigits = 6;      // "0" .. "5"
constexpr int kLevelItems = 199;      // -99 .. 99
constexpr int kCorrectionItems = 119; // -59 .. 59
constexpr int kCorrectionOffset = 59;
constexpr int kFirstTemperature = 3; // Expo[3..5]

std::atomic<bool> saved_in_run{false};

bool IsTemperature(int i)
{
    return i >= kFirstTemperature && i < kFirstTemperature + kTemperatureLists;
}

int InRange(int position, int items)
{
    return position >= 0 && position < items ? position : kNoSelection;
}

// The variables of the four pickers, in picker order.
std::array<std::atomic<uint16_t>*, kTimePickers> PickerWords()
{
    auto& s = ClockSettings;
    return {&s.DimOnTime, &s.DimOffTime, &s.Alarm1Time, &s.Alarm2Time};
}

// Image indices of the high byte of each pair, in picker order.
constexpr std::array<int, kTimePickers> kPickerImage = {29, 31, 34, 36};

template <typename T> void StoreIfChosen(std::atomic<T>& var, int chosen)
{
    if (chosen != kNoSelection)
        var.store(static_cast<T>(chosen));
}

} // namespace

SettingsView InitialSettingsView()
{
    SettingsView v;
    v.Expo.fill(kNoSelection);
    v.TempFormat.fill(0);
    v.FieldFormat.fill(0);
    v.TimeZone = kNoSelection;
    v.ClockAddr = v.RegS6 = v.RegSE = kNoSelection;
    v.Volume = 9;
    v.DimLevel = 0;
    v.NormLevel = 9;
    v.Times[kPickDimOn] = {18, 0, true, false};
    v.Times[kPickDimOff] = {9, 0, true, false};
    v.Times[kPickAlarm1] = {9, 0, true, false};
    v.Times[kPickAlarm2] = {18, 0, true, false};
    v.UpperLevel = v.LowerLevel = v.Correction = kNoSelection;
    return v;
}

void StandFields(SettingsView& v)
{
    const auto& s = ClockSettings;

    for (int i = 0; i < kExpoCount; ++i) {
        const int value = s.Expo[i].load();
        if (IsTemperature(i)) {
            v.Expo[i] = TemperatureExposure(static_cast<uint8_t>(value));
            v.TempFormat[i - kFirstTemperature] = InRange(value / 10, kFormatDigits);
        } else {
            v.Expo[i] = InRange(value, kExpoItems);
        }
    }

    v.ClockAddr = s.ClockAddr.load();
    v.RegS6 = s.RegS6.load();
    v.RegSE = s.RegSE.load();
    v.MasterFlags = s.MasterFlags.load();
    v.OptionFlags = s.OptionFlags.load();

    for (int f = 0; f < kFieldFormatCount; ++f)
        v.FieldFormat[f] = CountPos(f, s.FieldFormat[f].load(), false);

    v.TimeZone = kDefaultTimeZoneEntry;
    if (const int p = TimeZoneEntry(s.TimeZone.load()); p >= 0)
        v.TimeZone = p;

    v.Volume = 0;
    if (const int p = PercentPosition(s.Volume.load()); p >= 0)
        v.Volume = p;
    // The brightness levels show what the clock reported; a code no entry
    // carries leaves the list without a selection, so a save keeps it.
    v.DimLevel = PercentPosition(s.DimLevel.load());
    v.NormLevel = PercentPosition(s.NormLevel.load());

    const auto words = PickerWords();
    for (int t = 0; t < kTimePickers; ++t) {
        TimePicker& p = v.Times[t];
        int hour = 0, minute = 0;
        if (DecodeBcdPair(words[t]->load(), hour, minute)) {
            p.Hour = hour;
            p.Minute = minute;
            p.Checked = true;
        } else {
            p.Enabled = false;
            p.Checked = false;
        }
    }

    if (SavedInRun()) {
        v.UpperLevel = InRange(s.UpperLevelIdx.load(), kLevelItems);
        v.LowerLevel = InRange(s.LowerLevelIdx.load(), kLevelItems);
        v.Correction = InRange(s.CorrectionIdx.load(), kCorrectionItems);
    } else {
        // Before any save the lists show the clock's own values, so a first
        // save does not send -99 and -59 in their place.
        v.UpperLevel = InRange(s.UpperLevel.load(), kLevelItems);
        v.LowerLevel = InRange(s.LowerLevel.load(), kLevelItems);
        v.Correction = InRange(s.DayCorrection.load() + kCorrectionOffset, kCorrectionItems);
    }
}

void MakeRegisters(const SettingsView& v)
{
    auto& s = ClockSettings;

    for (int i = 0; i < kExpoCount; ++i) {
        if (!IsTemperature(i)) {
            StoreIfChosen(s.Expo[i], InRange(v.Expo[i], kExpoItems));
            continue;
        }
        const uint8_t was = s.Expo[i].load();
        const int exposure = InRange(v.Expo[i], kTemperatureItems);
        const int format = InRange(v.TempFormat[i - kFirstTemperature], kFormatDigits);
        s.Expo[i].store(static_cast<uint8_t>(10 * (format != kNoSelection ? format : was / 10) +
                                             (exposure != kNoSelection ? exposure : was % 10)));
    }

    StoreIfChosen(s.ClockAddr, InRange(v.ClockAddr, 256));
    StoreIfChosen(s.RegS6, InRange(v.RegS6, 256));
    StoreIfChosen(s.RegSE, InRange(v.RegSE, 256));
    s.MasterFlags.store(v.MasterFlags);
    s.OptionFlags.store(v.OptionFlags);

    for (int f = 0; f < kFieldFormatCount; ++f)
        StoreIfChosen(s.FieldFormat[f], CountPos(f, v.FieldFormat[f], true));

    if (const int p = InRange(v.TimeZone, kTimeZoneEntries); p != kNoSelection)
        s.TimeZone.store(TimeZoneCode(p));
    if (const int p = InRange(v.Volume, kPercentEntries); p != kNoSelection)
        s.Volume.store(PercentCode(p));
    if (const int p = InRange(v.DimLevel, kPercentEntries); p != kNoSelection)
        s.DimLevel.store(PercentCode(p));
    if (const int p = InRange(v.NormLevel, kPercentEntries); p != kNoSelection)
        s.NormLevel.store(PercentCode(p));

    if (const int p = InRange(v.Correction, kCorrectionItems); p != kNoSelection) {
        s.DayCorrection.store(static_cast<int16_t>(p - kCorrectionOffset));
        s.CorrectionIdx.store(p);
    }
    if (const int p = InRange(v.UpperLevel, kLevelItems); p != kNoSelection) {
        s.UpperLevel.store(static_cast<uint8_t>(p));
        s.UpperLevelIdx.store(p);
    }
    if (const int p = InRange(v.LowerLevel, kLevelItems); p != kNoSelection) {
        s.LowerLevel.store(static_cast<uint8_t>(p));
        s.LowerLevelIdx.store(p);
    }
    saved_in_run.store(true);

    const auto words = PickerWords();
    for (int t = 0; t < kTimePickers; ++t) {
        const TimePicker& p = v.Times[t];
        // A disabled picker stands for a pair that was not a valid time; the
        // operator cannot change it, so the save keeps what was read.
        if (p.Enabled)
            words[t]->store(BcdPair(p.Hour, p.Minute));
    }

    auto& e = Registers.RegEdited;
    for (int i = 0; i < kExpoCount; ++i)
        e[10 + 2 * i] = s.Expo[i].load();
    e[27] = s.TimeZone.load();
    e[28] = s.UpperLevel.load();
    for (int t = 0; t < kTimePickers; ++t) {
        const uint16_t w = words[t]->load();
        e[kPickerImage[t]] = static_cast<uint8_t>(w >> 8);
        e[kPickerImage[t] + 1] = static_cast<uint8_t>(w & 0xFF);
    }
    e[33] = s.RegS6.load();
    e[38] = s.OptionFlags.load();
    e[39] = s.Volume.load();
}

bool SavedInRun()
{
    return saved_in_run.load();
}

void ResetSavedInRun()
{
    saved_in_run.store(false);
}

std::string AddressItem(int value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%02X/%d", value & 0xFF, value & 0xFF);
    return buf;
}

std::string TimeZoneItem(int entry, const std::string& decimal_point)
{
    // Half hours: the one decimal is always 0 or 5.
    const int d = entry - 24;
    std::string text = d < 0 ? "-" : "";
    const int a = d < 0 ? -d : d;
    text += std::to_string(a / 2) + decimal_point + (a % 2 ? "5" : "0");
    return text;
}

std::string SaveRefusal(uint8_t target)
{
    if (target != 0xFF)
        return {};
    return "Настройки записываются только в одни часы. Выберите в окне \"Подключение\" "
           "адрес часов вместо \"Всем\" и прочитайте их настройки снова.";
}

} // namespace chronavel

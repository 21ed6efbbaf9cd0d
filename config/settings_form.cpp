#include "config/settings_form.h"

#include "config/register_table.h"
#include "link/hex.h"

#include <algorithm>
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

bool IsTemperature(int i)
{
    return i >= kFirstTemperature && i < kFirstTemperature + kTemperatureLists;
}

int InRange(int position, int items)
{
    return position >= 0 && position < items ? position : kNoSelection;
}

// The hour register of each pair, in picker order.
constexpr std::array<uint8_t, kTimePickers> kPickerRegister = {kRegDimOnHour, kRegDimOffHour,
                                                               kRegAlarm1Hour, kRegAlarm2Hour};

} // namespace

std::vector<uint8_t> ByteListRegisters()
{
    std::vector<uint8_t> regs;
    for (const RegisterRow& r : RegisterTable())
        if (r.Kind == RegisterKind::kPlain && r.Controls)
            regs.push_back(r.First);
    std::sort(regs.begin(), regs.end());
    return regs;
}

SettingsView InitialSettingsView()
{
    SettingsView v;
    v.Expo.fill(kNoSelection);
    v.TempFormat.fill(0);
    v.FieldFormat.fill(0);
    v.TimeZone = kNoSelection;
    for (uint8_t reg : ByteListRegisters())
        v.Bytes[reg] = kNoSelection;
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

void StandFields(SettingsView& v, const RegisterValues& clock)
{
    // A list position for a known register, else no selection.
    const auto shown = [&](uint8_t reg, auto position) {
        return clock.Has(reg) ? position(clock.At(reg)) : kNoSelection;
    };

    for (int i = 0; i < kExpoCount; ++i) {
        const auto reg = static_cast<uint8_t>(kRegExpo0 + 2 * i);
        if (IsTemperature(i)) {
            v.Expo[i] = shown(reg, [](uint8_t b) { return int(TemperatureExposure(b)); });
            v.TempFormat[i - kFirstTemperature] =
                shown(reg, [](uint8_t b) { return InRange(b / 10, kFormatDigits); });
        } else {
            v.Expo[i] = shown(reg, [](uint8_t b) { return InRange(b, kExpoItems); });
        }
    }

    const auto byte = [](uint8_t b) { return int(b); };
    for (uint8_t reg : ByteListRegisters())
        v.Bytes[reg] = shown(reg, byte);
    // An unread flag register shows its boxes clear and disabled, so none of
    // its bits can be set from a guess.
    v.MasterEnabled = clock.Has(kRegMasterFlags);
    v.OptionEnabled = clock.Has(kRegOptionFlags);
    v.MasterFlags = v.MasterEnabled ? clock.At(kRegMasterFlags) : 0;
    v.OptionFlags = v.OptionEnabled ? clock.At(kRegOptionFlags) : 0;

    for (int f = 0; f < kFieldFormatCount; ++f)
        v.FieldFormat[f] = shown(static_cast<uint8_t>(kRegFieldFormat0 + f),
                                 [f](uint8_t b) { return CountPos(f, b, false); });

    v.TimeZone = shown(kRegTimeZone, [](uint8_t b) {
        const int p = TimeZoneEntry(b);
        return p >= 0 ? p : kDefaultTimeZoneEntry;
    });
    v.Volume = shown(kRegVolume, [](uint8_t b) { return PercentPosition(b).value_or(0); });
    // The brightness levels: a code no entry carries leaves the list without
    // a selection, so a save keeps it.
    v.DimLevel =
        shown(kRegDimLevel, [](uint8_t b) { return PercentPosition(b).value_or(kNoSelection); });
    v.NormLevel =
        shown(kRegNormLevel, [](uint8_t b) { return PercentPosition(b).value_or(kNoSelection); });

    for (int t = 0; t < kTimePickers; ++t) {
        TimePicker& p = v.Times[t];
        const auto reg = kPickerRegister[t];
        int hour = 0, minute = 0;
        const bool known = clock.Has(reg) && clock.Has(static_cast<uint8_t>(reg + 1));
        if (known && DecodeBcdPair(static_cast<uint16_t>(clock.At(reg) << 8 | clock.At(reg + 1)),
                                   hour, minute)) {
            p = {hour, minute, true, true};
        } else {
            p.Enabled = false;
            p.Checked = false;
        }
    }

    // This clock's own values, whatever an earlier save chose for another.
    const auto level = [](uint8_t b) { return InRange(b, kLevelItems); };
    v.UpperLevel = shown(kRegUpperLevel, level);
    v.LowerLevel = shown(kRegLowerLevel, level);
    v.Correction = kNoSelection;
    if (clock.Has(kRegCorrectionHigh) && clock.Has(kRegCorrectionLow))
        v.Correction =
            InRange(CorrectionFromBytes(clock.At(kRegCorrectionHigh), clock.At(kRegCorrectionLow)) +
                        kCorrectionOffset,
                    kCorrectionItems);
}

RegisterValues ChosenRegisters(const SettingsView& shown, const SettingsView& now,
                               const RegisterValues& clock)
{
    RegisterValues out = clock;
    // A list the operator changed to an item: that item's register value.
    const auto take = [&](uint8_t reg, int was, int is, auto value) {
        if (is != was && is != kNoSelection)
            if (const int v = value(is); v >= 0)
                out.Set(reg, static_cast<uint8_t>(v));
    };

    for (int i = 0; i < kExpoCount; ++i) {
        const auto reg = static_cast<uint8_t>(kRegExpo0 + 2 * i);
        if (!IsTemperature(i)) {
            take(reg, shown.Expo[i], now.Expo[i], [](int p) { return InRange(p, kExpoItems); });
            continue;
        }
        const int t = i - kFirstTemperature;
        if (now.Expo[i] == shown.Expo[i] && now.TempFormat[t] == shown.TempFormat[t])
            continue;
        // Each digit from its list, or the clock's digit where the list has
        // no selection; with neither, the register stays as it is.
        const int exposure = InRange(now.Expo[i], kTemperatureItems);
        const int format = InRange(now.TempFormat[t], kFormatDigits);
        if ((exposure == kNoSelection || format == kNoSelection) && !clock.Has(reg))
            continue;
        const uint8_t was = clock.At(reg);
        out.Set(reg, static_cast<uint8_t>(10 * (format != kNoSelection ? format : was / 10) +
                                          (exposure != kNoSelection ? exposure : was % 10)));
    }

    const auto byte = [](int p) { return InRange(p, 256); };
    for (uint8_t reg : ByteListRegisters()) {
        const auto was = shown.Bytes.find(reg), is = now.Bytes.find(reg);
        if (was != shown.Bytes.end() && is != now.Bytes.end())
            take(reg, was->second, is->second, byte);
    }
    // The boxes stand for single bits: without the byte read, the other
    // bits would be made up.
    if (clock.Has(kRegMasterFlags) && now.MasterEnabled && now.MasterFlags != shown.MasterFlags)
        out.Set(kRegMasterFlags, now.MasterFlags);
    if (clock.Has(kRegOptionFlags) && now.OptionEnabled && now.OptionFlags != shown.OptionFlags)
        out.Set(kRegOptionFlags, now.OptionFlags);

    for (int f = 0; f < kFieldFormatCount; ++f)
        take(static_cast<uint8_t>(kRegFieldFormat0 + f), shown.FieldFormat[f], now.FieldFormat[f],
             [f](int p) { return CountPos(f, p, true); });

    const auto percent = [](int p) {
        return InRange(p, kPercentEntries) != kNoSelection ? int(PercentCode(p)) : -1;
    };
    take(kRegTimeZone, shown.TimeZone, now.TimeZone, [](int p) {
        return InRange(p, kTimeZoneEntries) != kNoSelection ? int(TimeZoneCode(p)) : -1;
    });
    take(kRegVolume, shown.Volume, now.Volume, percent);
    take(kRegDimLevel, shown.DimLevel, now.DimLevel, percent);
    take(kRegNormLevel, shown.NormLevel, now.NormLevel, percent);

    const auto level = [](int p) { return InRange(p, kLevelItems); };
    take(kRegUpperLevel, shown.UpperLevel, now.UpperLevel, level);
    take(kRegLowerLevel, shown.LowerLevel, now.LowerLevel, level);
    if (now.Correction != shown.Correction &&
        InRange(now.Correction, kCorrectionItems) != kNoSelection) {
        const auto c = static_cast<int16_t>(now.Correction - kCorrectionOffset);
        out.Set(kRegCorrectionHigh, CorrectionHigh(c));
        out.Set(kRegCorrectionLow, CorrectionLow(c));
    }

    for (int t = 0; t < kTimePickers; ++t) {
        const TimePicker& was = shown.Times[t];
        const TimePicker& is = now.Times[t];
        const bool changed = is.Hour != was.Hour || is.Minute != was.Minute ||
                             is.Enabled != was.Enabled || is.Checked != was.Checked;
        // A disabled picker stands for a pair that was no valid time, or
        // was not read; the save keeps what the clock holds.
        if (!changed || !is.Enabled || is.Hour < 0 || is.Hour > 23 || is.Minute < 0 ||
            is.Minute > 59)
            continue;
        const uint16_t w = BcdPair(is.Hour, is.Minute);
        out.Set(kPickerRegister[t], static_cast<uint8_t>(w >> 8));
        out.Set(static_cast<uint8_t>(kPickerRegister[t] + 1), static_cast<uint8_t>(w & 0xFF));
    }
    return out;
}

std::vector<uint8_t> WindowRegisters()
{
    return ShownRegisters();
}

std::string UnreadText(const RegisterValues& clock)
{
    std::vector<uint8_t> unread;
    for (uint8_t reg : WindowRegisters())
        if (!clock.Has(reg))
            unread.push_back(reg);
    if (unread.empty())
        return {};
    // The line has two rows at the foot of the window: a long list is cut.
    constexpr size_t kListed = 4;
    std::string text = "Не прочитаны: ";
    if (unread.size() <= kListed) {
        text += RegisterList(unread);
    } else {
        text += RegisterList({unread.begin(), unread.begin() + kListed - 1}) + " и ещё " +
                std::to_string(unread.size() - (kListed - 1));
    }
    return text + " — их значения не записываются.";
}

std::string AddressItem(int value)
{
    return ClockName(static_cast<uint8_t>(value));
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

} // namespace chronavel

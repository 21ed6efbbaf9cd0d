#include "config/register_table.h"

#include <algorithm>

namespace chronavel {

namespace {

using S = ClockSettingsVars;

// The variable of a byte row, whatever the index.
template <std::atomic<uint8_t> S::*Var> std::atomic<uint8_t>* ByteOf(int)
{
    return &(ClockSettings.*Var);
}

template <auto List> std::atomic<uint8_t>* ListOf(int i)
{
    return &(ClockSettings.*List)[i];
}

template <std::atomic<uint16_t> S::*Var> std::atomic<uint16_t>* WordOf()
{
    return &(ClockSettings.*Var);
}

constexpr const char* kExpoControls[] = {"ComboBox1", "ComboBox2", "ComboBox3",
                                         "ComboBox4", "ComboBox5", "ComboBox6",
                                         "ComboBox7", "ComboBox8", "ComboBox9"};
// By field number: main, temperatures 1..3, pressure, humidity, radiation, date.
constexpr const char* kFormatControls[] = {"ComboBox10", "ComboBox44", "ComboBox45", "ComboBox46",
                                           "ComboBox47", "ComboBox48", "ComboBox49", "ComboBox43"};
constexpr const char* kClockAddrControl[] = {"ComboBox50"};
constexpr const char* kMasterControls[] = {"CheckBox4"};
constexpr const char* kTimeZoneControl[] = {"ComboBox51"};
constexpr const char* kVolumeControl[] = {"ComboBox52"};
constexpr const char* kS6Control[] = {"ComboBox58"};
constexpr const char* kOptionControls[] = {"CheckBox29"};
constexpr const char* kDimLevelControl[] = {"ComboBox53"};
constexpr const char* kNormLevelControl[] = {"ComboBox54"};
constexpr const char* kSEControl[] = {"ComboBox60"};
constexpr const char* kUpperLevelControl[] = {"ComboBox55"};
constexpr const char* kLowerLevelControl[] = {"ComboBox56"};
constexpr const char* kDimOnControl[] = {"DateTimePicker1"};
constexpr const char* kDimOffControl[] = {"DateTimePicker2"};
constexpr const char* kAlarm1Control[] = {"DateTimePicker3"};
constexpr const char* kAlarm2Control[] = {"DateTimePicker4"};
constexpr const char* kCorrectionControl[] = {"ComboBox57"};

using K = RegisterKind;
using W = SaveWrite;

// Named rows in the order read-all lists them; the rest after.
// clang-format off
const RegisterRow kRows[] = {
    {"Expo", kRegExpo0, kExpoCount, 2, K::kExposure, ListOf<&S::Expo>, nullptr, kExpoControls, W::kImage, 0},
    {"FieldFormat", kRegFieldFormat0, kFieldFormatCount, 1, K::kFieldFormat, ListOf<&S::FieldFormat>, nullptr, kFormatControls, W::kAlways, 1},
    {"TextLen", kRegTextLen0, kTextLenCount, 1, K::kTextLength, ListOf<&S::TextLen>, nullptr, nullptr, W::kUpToFirstZero, 2},
    {"ClockAddr", kRegClockAddr, 1, 1, K::kPlain, ByteOf<&S::ClockAddr>, nullptr, kClockAddrControl, W::kAlways, 5},
    {"MasterFlags", kRegMasterFlags, 1, 1, K::kFlags, ByteOf<&S::MasterFlags>, nullptr, kMasterControls, W::kAlways, 4},
    {"TimeZone", kRegTimeZone, 1, 1, K::kTimeZone, ByteOf<&S::TimeZone>, nullptr, kTimeZoneControl, W::kImage, 0},
    {"Volume", kRegVolume, 1, 1, K::kPercent, ByteOf<&S::Volume>, nullptr, kVolumeControl, W::kImage, 0},
    {"RegS6", kRegS6, 1, 1, K::kPlain, ByteOf<&S::RegS6>, nullptr, kS6Control, W::kImage, 0},
    {"OptionFlags", kRegOptionFlags, 1, 1, K::kFlags, ByteOf<&S::OptionFlags>, nullptr, kOptionControls, W::kImage, 0},
    {"DimLevel", kRegDimLevel, 1, 1, K::kPercent, ByteOf<&S::DimLevel>, nullptr, kDimLevelControl, W::kChanged, 0},
    {"NormLevel", kRegNormLevel, 1, 1, K::kPercent, ByteOf<&S::NormLevel>, nullptr, kNormLevelControl, W::kChanged, 0},
    {"RegSE", kRegSE, 1, 1, K::kPlain, ByteOf<&S::RegSE>, nullptr, kSEControl, W::kChanged, 0},
    {"UpperLevel", kRegUpperLevel, 1, 1, K::kLevel, ByteOf<&S::UpperLevel>, nullptr, kUpperLevelControl, W::kImage, 0},
    {"LowerLevel", kRegLowerLevel, 1, 1, K::kLevel, ByteOf<&S::LowerLevel>, nullptr, kLowerLevelControl, W::kChanged, 0},
    {"DimOnTime", kRegDimOnHour, 2, 1, K::kTimePair, nullptr, WordOf<&S::DimOnTime>, kDimOnControl, W::kImage, 0},
    {"DimOffTime", kRegDimOffHour, 2, 1, K::kTimePair, nullptr, WordOf<&S::DimOffTime>, kDimOffControl, W::kImage, 0},
    {"Alarm1Time", kRegAlarm1Hour, 2, 1, K::kTimePair, nullptr, WordOf<&S::Alarm1Time>, kAlarm1Control, W::kImage, 0},
    {"Alarm2Time", kRegAlarm2Hour, 2, 1, K::kTimePair, nullptr, WordOf<&S::Alarm2Time>, kAlarm2Control, W::kImage, 0},
    {"DayCorrection", kRegCorrectionHigh, 2, 1, K::kCorrection, nullptr, nullptr, kCorrectionControl, W::kAlways, 3},
    {nullptr, kRegUnused4F, 1, 1, K::kUnknown, nullptr, nullptr, nullptr, W::kNever, 0},
};
// clang-format on

} // namespace

bool RegisterRow::Holds(uint8_t reg) const
{
    const int d = reg - First;
    return d >= 0 && d % Step == 0 && d / Step < Count;
}

std::span<const RegisterRow> RegisterTable()
{
    return kRows;
}

const RegisterRow* RowOf(uint8_t reg)
{
    for (const RegisterRow& r : kRows)
        if (r.Holds(reg))
            return &r;
    return nullptr;
}

RegisterValues SettingsVariables()
{
    RegisterValues out;
    for (const RegisterRow& r : kRows) {
        if (r.Byte) {
            for (int i = 0; i < r.Count; ++i)
                out.Set(r.Reg(i), r.Byte(i)->load());
        } else if (r.Word || r.Kind == RegisterKind::kCorrection) {
            const auto w = r.Word ? r.Word()->load()
                                  : static_cast<uint16_t>(ClockSettings.DayCorrection.load());
            out.Set(r.Reg(0), static_cast<uint8_t>(w >> 8));
            out.Set(r.Reg(1), static_cast<uint8_t>(w & 0xFF));
        }
    }
    return out;
}

std::vector<uint8_t> ShownRegisters()
{
    std::vector<uint8_t> regs;
    for (const RegisterRow& r : kRows)
        if (r.Controls)
            for (int i = 0; i < r.Count; ++i)
                regs.push_back(r.Reg(i));
    std::sort(regs.begin(), regs.end());
    return regs;
}

} // namespace chronavel

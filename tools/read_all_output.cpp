#include "tools/read_all_output.h"

#include "config/registers.h"
#include "tools/args.h"

#include <atomic>
#include <cstdio>
#include <utility>

namespace chronavel::ctl {

namespace {

template <class Array> nlohmann::json Numbers(const Array& values)
{
    nlohmann::json out = nlohmann::json::array();
    for (const auto& v : values)
        out.push_back(static_cast<int>(v.load()));
    return out;
}

template <class Array> std::string NumberList(const Array& values)
{
    std::string out;
    for (const auto& v : values) {
        if (!out.empty())
            out += ' ';
        out += std::to_string(static_cast<int>(v.load()));
    }
    return out;
}

std::string Row(const std::string& name, const std::string& value)
{
    std::string line = name;
    line.resize(15, ' ');
    return line + value;
}

std::string ByteText(uint8_t v)
{
    return Hex2(v) + " (" + std::to_string(v) + ")";
}

// A BCD pair word as "HH:MM" (the digits as they stand, even when not BCD).
std::string PairText(uint16_t word)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X:%02X", (word >> 8) & 0xFF, word & 0xFF);
    return buf;
}

// The single-byte and time settings, in the order the table shows them.
using ByteVar = std::atomic<uint8_t> ClockSettingsVars::*;
constexpr std::pair<const char*, ByteVar> kByteSettings[] = {
    {"ClockAddr", &ClockSettingsVars::ClockAddr},
    {"MasterFlags", &ClockSettingsVars::MasterFlags},
    {"TimeZone", &ClockSettingsVars::TimeZone},
    {"Volume", &ClockSettingsVars::Volume},
    {"RegS6", &ClockSettingsVars::RegS6},
    {"OptionFlags", &ClockSettingsVars::OptionFlags},
    {"DimLevel", &ClockSettingsVars::DimLevel},
    {"NormLevel", &ClockSettingsVars::NormLevel},
    {"RegSE", &ClockSettingsVars::RegSE},
    {"UpperLevel", &ClockSettingsVars::UpperLevel},
    {"LowerLevel", &ClockSettingsVars::LowerLevel},
};
using PairVar = std::atomic<uint16_t> ClockSettingsVars::*;
constexpr std::pair<const char*, PairVar> kTimeSettings[] = {
    {"DimOnTime", &ClockSettingsVars::DimOnTime},
    {"DimOffTime", &ClockSettingsVars::DimOffTime},
    {"Alarm1Time", &ClockSettingsVars::Alarm1Time},
    {"Alarm2Time", &ClockSettingsVars::Alarm2Time},
};

} // namespace

nlohmann::json SettingsJson()
{
    const ClockSettingsVars& s = ClockSettings;
    nlohmann::json j;
    j["Expo"] = Numbers(s.Expo);
    j["FieldFormat"] = Numbers(s.FieldFormat);
    j["TextLen"] = Numbers(s.TextLen);
    for (const auto& [name, var] : kByteSettings)
        j[name] = (s.*var).load();
    for (const auto& [name, var] : kTimeSettings)
        j[name] = PairText((s.*var).load());
    j["DayCorrection"] = s.DayCorrection.load();
    return j;
}

std::vector<std::string> SettingsTable()
{
    const ClockSettingsVars& s = ClockSettings;
    std::vector<std::string> rows;
    rows.push_back(Row("Expo", NumberList(s.Expo)));
    rows.push_back(Row("FieldFormat", NumberList(s.FieldFormat)));
    rows.push_back(Row("TextLen", NumberList(s.TextLen)));
    for (const auto& [name, var] : kByteSettings)
        rows.push_back(Row(name, ByteText((s.*var).load())));
    for (const auto& [name, var] : kTimeSettings)
        rows.push_back(Row(name, PairText((s.*var).load())));
    rows.push_back(Row("DayCorrection", std::to_string(s.DayCorrection.load())));
    return rows;
}

} // namespace chronavel::ctl

#include "tools/read_all_output.h"

#include "config/registers.h"
#include "tools/args.h"

#include <cstdio>

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

} // namespace

std::string PairText(uint16_t word)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X:%02X", (word >> 8) & 0xFF, word & 0xFF);
    return buf;
}

nlohmann::json SettingsJson()
{
    const ClockSettingsVars& s = ClockSettings;
    nlohmann::json j;
    j["Expo"] = Numbers(s.Expo);
    j["FieldFormat"] = Numbers(s.FieldFormat);
    j["TextLen"] = Numbers(s.TextLen);
    j["ClockAddr"] = s.ClockAddr.load();
    j["MasterFlags"] = s.MasterFlags.load();
    j["TimeZone"] = s.TimeZone.load();
    j["Volume"] = s.Volume.load();
    j["RegS6"] = s.RegS6.load();
    j["OptionFlags"] = s.OptionFlags.load();
    j["DimLevel"] = s.DimLevel.load();
    j["NormLevel"] = s.NormLevel.load();
    j["RegSE"] = s.RegSE.load();
    j["UpperLevel"] = s.UpperLevel.load();
    j["LowerLevel"] = s.LowerLevel.load();
    j["DimOnTime"] = PairText(s.DimOnTime.load());
    j["DimOffTime"] = PairText(s.DimOffTime.load());
    j["Alarm1Time"] = PairText(s.Alarm1Time.load());
    j["Alarm2Time"] = PairText(s.Alarm2Time.load());
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
    rows.push_back(Row("ClockAddr", ByteText(s.ClockAddr.load())));
    rows.push_back(Row("MasterFlags", ByteText(s.MasterFlags.load())));
    rows.push_back(Row("TimeZone", ByteText(s.TimeZone.load())));
    rows.push_back(Row("Volume", ByteText(s.Volume.load())));
    rows.push_back(Row("RegS6", ByteText(s.RegS6.load())));
    rows.push_back(Row("OptionFlags", ByteText(s.OptionFlags.load())));
    rows.push_back(Row("DimLevel", ByteText(s.DimLevel.load())));
    rows.push_back(Row("NormLevel", ByteText(s.NormLevel.load())));
    rows.push_back(Row("RegSE", ByteText(s.RegSE.load())));
    rows.push_back(Row("UpperLevel", ByteText(s.UpperLevel.load())));
    rows.push_back(Row("LowerLevel", ByteText(s.LowerLevel.load())));
    rows.push_back(Row("DimOnTime", PairText(s.DimOnTime.load())));
    rows.push_back(Row("DimOffTime", PairText(s.DimOffTime.load())));
    rows.push_back(Row("Alarm1Time", PairText(s.Alarm1Time.load())));
    rows.push_back(Row("Alarm2Time", PairText(s.Alarm2Time.load())));
    rows.push_back(Row("DayCorrection", std::to_string(s.DayCorrection.load())));
    return rows;
}

} // namespace chronavel::ctl

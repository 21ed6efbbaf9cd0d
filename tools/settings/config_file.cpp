#include "tools/settings/config_file.h"

#include "config/registers.h"
#include "link/hex.h"
#include "tools/settings/settings_file.h"
#include "tools/text/text.h"
#include "version.h"

#include <algorithm>
#include <cstdio>

namespace chronavel::ctl {

namespace {

constexpr const char* kFormat = "chronavel-clock-settings";

bool AllKnown(const RegisterValues& v, const SettingInfo& s)
{
    return std::all_of(s.Regs.begin(), s.Regs.end(), [&](uint8_t r) { return v.Has(r); });
}

nlohmann::json ValueOf(const RegisterValues& v, const SettingInfo& s)
{
    switch (s.Kind) {
    case SettingKind::kByte:
        return v.At(s.Regs[0]);
    case SettingKind::kList: {
        nlohmann::json list = nlohmann::json::array();
        for (uint8_t r : s.Regs)
            list.push_back(v.At(r));
        return list;
    }
    case SettingKind::kTime: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02X:%02X", v.At(s.Regs[0]), v.At(s.Regs[1]));
        return buf;
    }
    case SettingKind::kCorrection:
        return CorrectionFromBytes(v.At(s.Regs[0]), v.At(s.Regs[1]));
    }
    return nullptr;
}

// "0x05" or "5": a clock's address, 1..254.
std::optional<uint8_t> ClockKey(const std::string& key)
{
    try {
        size_t used = 0;
        const int base = key.rfind("0x", 0) == 0 || key.rfind("0X", 0) == 0 ? 16 : 10;
        const long v = std::stol(base == 16 ? key.substr(2) : key, &used, base);
        if (used != key.size() - (base == 16 ? 2 : 0) || v < 1 || v > 254)
            return std::nullopt;
        return static_cast<uint8_t>(v);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

nlohmann::json NamedSettings(const RegisterValues& values)
{
    nlohmann::json out = nlohmann::json::object();
    for (const SettingInfo& s : Settings())
        if (AllKnown(values, s))
            out[s.Name] = ValueOf(values, s);
    return out;
}

std::string SettingText(const nlohmann::json& value)
{
    return value.is_string() ? value.get<std::string>() : value.dump();
}

nlohmann::ordered_json ConfigJson(const ConfigFile& file)
{
    nlohmann::json clocks = nlohmann::json::object();
    for (const auto& [addr, values] : file.Clocks)
        clocks[Hex2(addr)] = NamedSettings(values);
    // The header first, for a reader of the file.
    nlohmann::ordered_json out;
    out["format"] = kFormat;
    out["version"] = kConfigFormatVersion;
    out["port"] = file.Port;
    out["read_at"] = UtcText(file.ReadAt);
    out["program"] = std::string("chronavelctl ") + CHRONAVEL_VERSION;
    out["clocks"] = clocks;
    return out;
}

std::string LoadConfigFile(const std::string& path, ConfigFile& out)
{
    std::string text;
    if (std::string why = ReadWholeFile(path, text); !why.empty())
        return why;
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return path + ": not a JSON object";
    const auto format = j.find("format");
    if (format == j.end() || !format->is_string() || format->get<std::string>() != kFormat)
        return path + ": not a settings file of chronavelctl config export (\"format\": \"" +
               kFormat + "\")";
    if (!j.contains("version") || !j["version"].is_number_integer() ||
        j["version"].get<int>() > kConfigFormatVersion)
        return path + ": a settings file of a later version than this program reads";
    if (j.contains("port") && j["port"].is_string())
        out.Port = j["port"].get<std::string>();
    const auto clocks = j.find("clocks");
    if (clocks == j.end() || !clocks->is_object() || clocks->empty())
        return path + ": no clocks in it";
    for (const auto& [key, settings] : clocks->items()) {
        const auto addr = ClockKey(key);
        if (!addr)
            return path + ": \"" + key + "\" is not a clock's address (1..254)";
        RegisterValues values;
        if (const std::string why = SettingsFromJson(settings, values); !why.empty())
            return path + ": clock " + key + ": " + why;
        out.Clocks[*addr] = values;
    }
    return {};
}

std::vector<SettingDifference> CompareSettings(const RegisterValues& clock,
                                               const RegisterValues& file)
{
    std::vector<SettingDifference> out;
    for (const SettingInfo& s : Settings()) {
        if (!AllKnown(file, s))
            continue;
        const std::string want = SettingText(ValueOf(file, s));
        const std::string have = AllKnown(clock, s) ? SettingText(ValueOf(clock, s)) : "";
        if (have != want)
            out.push_back({s.Name, have, want});
    }
    return out;
}

std::vector<std::string> SettingNames(const std::vector<uint8_t>& regs)
{
    std::vector<std::string> out;
    for (const SettingInfo& s : Settings())
        for (uint8_t r : regs)
            if (std::find(s.Regs.begin(), s.Regs.end(), r) != s.Regs.end()) {
                out.push_back(s.Name);
                break;
            }
    return out;
}

} // namespace chronavel::ctl

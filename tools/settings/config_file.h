// Clock settings kept in a file, for `chronavelctl config`: one JSON object
// with a header and, per clock address, the settings by the names read-all
// uses. A setting the clock did not answer is left out, never written as 0.
#pragma once

#include "config/register_values.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace chronavel::ctl {

constexpr int kConfigFormatVersion = 1;

struct ConfigFile {
    std::string Port;
    std::time_t ReadAt = 0;
    std::map<uint8_t, RegisterValues> Clocks;
};

// The settings of values by name, only those whose registers are all known.
nlohmann::json NamedSettings(const RegisterValues& values);
// One setting's value for a message: 6, [1,2,3], 07:30.
std::string SettingText(const nlohmann::json& value);

nlohmann::ordered_json ConfigJson(const ConfigFile& file);
// "" when path was read into out, else what is wrong with it.
std::string LoadConfigFile(const std::string& path, ConfigFile& out);

// A setting that differs between a clock and the file.
struct SettingDifference {
    std::string Name;
    std::string Clock; // "" when the clock did not answer it
    std::string File;
};
// The file's settings the clock holds otherwise (or did not answer).
std::vector<SettingDifference> CompareSettings(const RegisterValues& clock,
                                               const RegisterValues& file);
// The settings a list of registers belongs to, each once, in table order.
std::vector<std::string> SettingNames(const std::vector<uint8_t>& regs);

} // namespace chronavel::ctl

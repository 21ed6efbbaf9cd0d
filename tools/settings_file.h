// A clock's settings from a file, for `chronavelctl restore`: the JSON object
// `read-all --json` prints, or register=value lines.
#pragma once

#include "config/register_values.h"

#include <nlohmann/json.hpp>
#include <string>

namespace chronavel::ctl {

// The settings of a JSON object by read-all's names into out; "" when
// taken, else what is wrong.
std::string SettingsFromJson(const nlohmann::json& j, RegisterValues& out);

// The whole text of a file; "" when read, else what is wrong.
std::string ReadWholeFile(const std::string& path, std::string& text);

// "" when the file was read into out, else what is wrong with it.
std::string LoadSettingsFile(const std::string& path, RegisterValues& out);

} // namespace chronavel::ctl

// A clock's settings inside a JSON document the tool already holds (a
// clock of a `config export` file); files of one clock's settings are read
// by config/settings_file.h, as the simulator reads them.
#pragma once

#include "config/register_values.h"
#include "config/settings_file.h"

#include <nlohmann/json.hpp>
#include <string>

namespace chronavel::ctl {

// The settings of a JSON object by read-all's names into out; "" when
// taken, else what is wrong.
std::string SettingsFromJson(const nlohmann::json& j, RegisterValues& out);

} // namespace chronavel::ctl

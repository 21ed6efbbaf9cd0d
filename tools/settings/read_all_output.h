// The clock's settings as read-all shows them, from the ClockSettings
// variables the reply decoder filled.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace chronavel::ctl {

// Keys are the variables' names; times as "HH:MM", DayCorrection signed.
nlohmann::json SettingsJson();

// One line per setting, name then value.
std::vector<std::string> SettingsTable();

} // namespace chronavel::ctl

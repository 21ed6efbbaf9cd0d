// A clock's settings from a file, for the tool's restore and the
// simulator's --registers: the JSON object `read-all --json` prints (the
// settings by their read-all names), or register=value lines ("#" starts a
// comment line).
#pragma once

#include "config/register_values.h"

#include <string>

namespace chronavel {

// The settings of a JSON object's text by read-all's names into out; "" when
// taken, else what is wrong ("not valid JSON" for text that is no JSON).
std::string SettingsFromJsonText(const std::string& text, RegisterValues& out);

// The whole text of a file; "" when read, else what is wrong.
std::string ReadWholeFile(const std::string& path, std::string& text);

// "" when the file was read into out, else what is wrong with it, after its
// path. A file starting with "{" that is no JSON is told by not_json.
std::string LoadSettingsFile(const std::string& path, RegisterValues& out,
                             const std::string& not_json = "not valid JSON");

} // namespace chronavel

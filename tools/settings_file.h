// A clock's settings from a file, for `chronavelctl restore`: the JSON object
// `read-all --json` prints, or register=value lines.
#pragma once

#include "config/register_values.h"

#include <string>

namespace chronavel::ctl {

// "" when the file was read into out, else what is wrong with it.
std::string LoadSettingsFile(const std::string& path, RegisterValues& out);

} // namespace chronavel::ctl

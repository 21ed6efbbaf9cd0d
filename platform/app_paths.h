// Where the program lives and where a user's settings may go.
#pragma once

#include <string>

namespace chronavel::platform {

// Full path of the running executable; "" when it cannot be found.
std::string ExecutablePath();

// The user's configuration directory: $XDG_CONFIG_HOME when set to an
// absolute path, else ~/.config; "" when there is no home to name.
std::string UserConfigDir();

// True when files can be created in the directory dir.
bool DirectoryWritable(const std::string& dir);

} // namespace chronavel::platform

// Where the program's own documentation is: the README installed with the
// program, else the one in the source tree the program was built in.
#pragma once

#include <functional>
#include <string>

namespace chronavel {

using FileExists = std::function<bool(const std::string& path)>;

// The first README that exists, looked for in this order: the installation
// prefix of the executable (<prefix>/bin/chronavel ->
// <prefix>/share/doc/chronavel/README.md), /usr/share/doc/chronavel, then
// README.md in the executable's directory and up to four directories above
// it (a build inside the source tree). "" when there is none.
std::string DocumentationPath(const std::string& exe_path, const FileExists& exists);

// The same for the running program, looking at the file system.
std::string DocumentationPath();

} // namespace chronavel

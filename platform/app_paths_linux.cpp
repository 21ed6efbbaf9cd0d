#include "platform/app_paths.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace chronavel::platform {

std::string ExecutablePath()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string UserConfigDir()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || !*home)
        return {};
    return std::string(home) + "/.config";
}

bool DirectoryWritable(const std::string& dir)
{
    std::error_code ec;
    return !dir.empty() && std::filesystem::is_directory(dir, ec) &&
           access(dir.c_str(), W_OK | X_OK) == 0;
}

} // namespace chronavel::platform

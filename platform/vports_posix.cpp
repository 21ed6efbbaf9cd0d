#include "platform/vports.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace chronavel::platform {

std::string VirtualPortDir()
{
    if (const char* over = std::getenv("CHRONAVEL_PORTS_DIR"); over && *over)
        return over;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return std::string(run) + "/chronavel/ports";
    return "/tmp/chronavel-" + std::to_string(getuid()) + "/ports";
}

bool EnsureVirtualPortDir()
{
    std::error_code ec;
    std::filesystem::create_directories(VirtualPortDir(), ec);
    return std::filesystem::is_directory(VirtualPortDir(), ec);
}

}  // namespace chronavel::platform

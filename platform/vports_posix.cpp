#include "platform/vports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace chronavel::platform {

namespace {

bool Overridden()
{
    const char* over = std::getenv("CHRONAVEL_PORTS_DIR");
    return over && *over;
}

bool UsesTmpFallback()
{
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    return !Overridden() && !(run && *run);
}

void Say(std::string* problem, const std::string& text)
{
    if (problem)
        *problem = text;
}

} // namespace

std::string VirtualPortDir()
{
    if (const char* over = std::getenv("CHRONAVEL_PORTS_DIR"); over && *over)
        return over;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return std::string(run) + "/chronavel/ports";
    return "/tmp/chronavel-" + std::to_string(getuid()) + "/ports";
}

bool PrivateDirectory(const std::string& path, std::string* problem)
{
    Say(problem, "");
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        Say(problem, "the virtual-port folder " + path + " is not a directory; it is not used");
        return false;
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        Say(problem, "the virtual-port folder " + path +
                         " belongs to another user or can be written by others; it is not used");
        return false;
    }
    return true;
}

bool VirtualPortDirUsable(std::string* problem)
{
    const std::string dir = VirtualPortDir();
    if (UsesTmpFallback() &&
        !PrivateDirectory(std::filesystem::path(dir).parent_path().string(), problem))
        return false;
    return PrivateDirectory(dir, problem);
}

bool EnsureVirtualPortDir(std::string* problem)
{
    const std::string dir = VirtualPortDir();
    if (UsesTmpFallback()) {
        // Made by us, closed to others; one that already exists is checked.
        const std::string parent = std::filesystem::path(dir).parent_path().string();
        for (const std::string& d : {parent, dir})
            if (::mkdir(d.c_str(), 0700) != 0 && errno != EEXIST) {
                Say(problem, "cannot create the port directory " + d + ": " + std::strerror(errno));
                return false;
            }
    } else {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
    }
    if (VirtualPortDirUsable(problem))
        return true;
    if (problem && problem->empty())
        *problem = "cannot create the port directory " + dir;
    return false;
}

} // namespace chronavel::platform

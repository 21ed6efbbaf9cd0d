#include "platform/vports.h"

// Windows has no pseudo-terminals: a virtual serial port there is a driver
// of its own and shows in the registry's port list like any other. The
// virtual-port directory does not exist.

namespace chronavel::platform {

std::string VirtualPortDir()
{
    return {};
}

bool PrivateDirectory(const std::string&, std::string* problem)
{
    if (problem)
        problem->clear();
    return false;
}

bool VirtualPortDirUsable(std::string* problem)
{
    if (problem)
        problem->clear();
    return false;
}

bool EnsureVirtualPortDir(std::string* problem)
{
    if (problem)
        *problem = "virtual ports (pseudo-terminals) do not exist on Windows";
    return false;
}

} // namespace chronavel::platform

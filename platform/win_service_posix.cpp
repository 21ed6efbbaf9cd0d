#include "platform/win_service.h"

namespace chronavel::platform {

namespace {

bool NoManager(std::string* error)
{
    if (error)
        *error = "there is no Windows service control manager on this system";
    return false;
}

} // namespace

bool ServiceManagerAvailable()
{
    return false;
}

bool InstallService(const ServiceDefinition&, std::string* error)
{
    return NoManager(error);
}

bool UninstallService(const std::string&, int, std::string* error)
{
    return NoManager(error);
}

bool StartInstalledService(const std::string&, int, std::string* error)
{
    return NoManager(error);
}

bool StopInstalledService(const std::string&, int, std::string* error)
{
    return NoManager(error);
}

std::optional<ServiceState> QueryService(const std::string&, std::string* error)
{
    NoManager(error);
    return std::nullopt;
}

std::vector<std::string> ServicesNamed(const std::string&, std::string* error)
{
    NoManager(error);
    return {};
}

std::string ServiceDataDir(std::string* error)
{
    if (error)
        *error = "no Windows services here";
    return {};
}

std::string SecureFolder(const std::string&)
{
    return "no Windows folders here";
}

std::optional<int> RunAsService(const std::string&, const std::function<int()>&, void (*)())
{
    return std::nullopt;
}

} // namespace chronavel::platform

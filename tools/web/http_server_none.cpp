// A build without the HTTP library (the Windows one): no server, and no
// web configuration.
#include "tools/web/http_server.h"

namespace chronavel::ctl {

std::unique_ptr<StatusServer> StatusServer::Start(const HttpAddress&,
                                                  std::shared_ptr<const StatusBoard>,
                                                  const HttpLimits&, const WebConfig*,
                                                  std::string* error)
{
    *error = "this build of chronavelctl has no HTTP server";
    return nullptr;
}

void StatusServer::Stop(std::unique_ptr<StatusServer>, std::chrono::milliseconds) {}

// Nor TLS, nor passwords: the daemon refuses --web-config before it comes to
// these.
std::string LoadWebConfig(const std::string&, WebConfig&)
{
    return "this build of chronavelctl has no TLS nor passwords for the web face";
}

std::string WebConfigStamp(const std::string&, const WebConfig&)
{
    return "";
}

std::string BcryptHash(const std::string&, std::string* error)
{
    *error = "this build of chronavelctl has no bcrypt";
    return "";
}

} // namespace chronavel::ctl

// A build without the HTTP library (the Windows one): no server.
#include "tools/http_server.h"

namespace chronavel::ctl {

std::unique_ptr<StatusServer> StatusServer::Start(const HttpAddress&,
                                                  std::shared_ptr<const StatusBoard>,
                                                  const HttpLimits&, std::string* error)
{
    *error = "this build of chronavelctl has no HTTP server";
    return nullptr;
}

void StatusServer::Stop(std::unique_ptr<StatusServer>, std::chrono::milliseconds) {}

} // namespace chronavel::ctl

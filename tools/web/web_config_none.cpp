// What the web face has no library for in the Windows build (no OpenSSL,
// libyaml nor libcrypt is built for it): no web configuration, so no TLS
// nor passwords. The server itself is web/http_server_httplib.cpp there
// too.
#include "tools/web/web_config.h"

namespace chronavel::ctl {

// The daemon refuses --web-config before it comes to these.
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

#include "platform/service_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace chronavel::platform {

bool NotifyServiceManager(const std::string& lines)
{
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path == nullptr || (path[0] != '/' && path[0] != '@'))
        return false;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const size_t len = std::strlen(path);
    if (len >= sizeof sa.sun_path)
        return false;
    std::memcpy(sa.sun_path, path, len);
    if (path[0] == '@')
        sa.sun_path[0] = '\0'; // an abstract socket
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto addr_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
    const ssize_t sent = sendto(fd, lines.data(), lines.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&sa), addr_len);
    close(fd);
    return sent == static_cast<ssize_t>(lines.size());
}

} // namespace chronavel::platform

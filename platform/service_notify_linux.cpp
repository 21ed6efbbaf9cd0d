#include "platform/service_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
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
    // Never waits: a service manager that does not read its socket must not
    // stall the daemon (the datagram is then lost, as with no manager).
    const ssize_t sent = sendto(fd, lines.data(), lines.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                                reinterpret_cast<const sockaddr*>(&sa), addr_len);
    close(fd);
    return sent == static_cast<ssize_t>(lines.size());
}

std::optional<std::chrono::microseconds> ServiceWatchdogInterval()
{
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (usec == nullptr)
        return std::nullopt;
    // Meant for this process only: a child started by the service would
    // inherit the variables.
    if (const char* pid = std::getenv("WATCHDOG_PID"); pid != nullptr) {
        char* end = nullptr;
        const long long p = std::strtoll(pid, &end, 10);
        if (end == pid || *end != '\0' || p != static_cast<long long>(getpid()))
            return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long long us = std::strtoull(usec, &end, 10);
    if (end == usec || *end != '\0' || us == 0)
        return std::nullopt;
    return std::chrono::microseconds(us);
}

} // namespace chronavel::platform

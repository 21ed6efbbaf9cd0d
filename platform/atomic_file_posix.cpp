#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace chronavel::platform {

std::string WriteFileAtomically(const std::string& path, const std::string& text)
{
    const std::string tmp = path + ".tmp";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return tmp + ": " + std::strerror(errno);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const std::string error = tmp + ": " + std::strerror(errno);
            close(fd);
            unlink(tmp.c_str());
            return error;
        }
        done += static_cast<size_t>(n);
    }
    // On disk before the rename, so a power cut leaves the old file or the
    // new one.
    const bool synced = fsync(fd) == 0;
    close(fd);
    if (!synced || std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string error = path + ": " + std::strerror(errno);
        unlink(tmp.c_str());
        return error;
    }
    return {};
}

} // namespace chronavel::platform

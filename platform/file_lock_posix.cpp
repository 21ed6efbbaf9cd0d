#include "platform/file_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace chronavel::platform {

namespace {

class PosixLock : public FileLock {
public:
    explicit PosixLock(int fd) : fd_(fd) {}
    ~PosixLock() override { close(fd_); }

private:
    const int fd_;
};

} // namespace

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, std::string* error, bool* held)
{
    if (held)
        *held = false;
    const std::string name = path + ".lock";
    // Never through a link planted at the name.
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = name + ": " + std::strerror(errno);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        // The holder wrote its process number there.
        char pid[32] = "";
        const ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
        if (n > 0)
            pid[n] = '\0';
        close(fd);
        if (err == EWOULDBLOCK) {
            if (held)
                *held = true;
            const std::string holder(pid, std::strcspn(pid, "\n"));
            *error = path + " is in use by another process" +
                     (holder.empty() ? "" : " (pid " + holder + ")");
        } else {
            *error = name + ": " + std::strerror(err);
        }
        return nullptr;
    }
    const std::string mine = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0)
        (void)!pwrite(fd, mine.data(), mine.size(), 0);
    return std::make_unique<PosixLock>(fd);
}

} // namespace chronavel::platform

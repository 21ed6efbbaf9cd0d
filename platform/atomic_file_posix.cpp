#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace chronavel::platform {

namespace {

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::string WriteFileAtomically(const std::string& path, const std::string& text)
{
    // A name of its own, made with O_EXCL (which never follows a link): two
    // writers of one file, or a link planted at a fixed name, cannot mix or
    // redirect the text.
    std::string name = path + ".XXXXXX";
    std::vector<char> tmpl(name.begin(), name.end());
    tmpl.push_back('\0');
    const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return name + ": " + std::strerror(errno);
    const std::string tmp(tmpl.data());
    const auto fail = [&](const std::string& what) {
        const std::string error = what + ": " + std::strerror(errno);
        close(fd);
        unlink(tmp.c_str());
        return error;
    };
    // The file keeps the permissions it had; a new one is readable by all.
    struct stat was {};
    const mode_t mode = stat(path.c_str(), &was) == 0 ? (was.st_mode & 07777) : 0644;
    if (fchmod(fd, mode) != 0)
        return fail(tmp);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(tmp);
        done += static_cast<size_t>(n);
    }
    // On disk before the rename, so a power cut leaves the old file or the
    // new one.
    if (fsync(fd) != 0)
        return fail(path);
    close(fd);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string error = path + ": " + std::strerror(errno);
        unlink(tmp.c_str());
        return error;
    }
    // And the rename itself on disk: the folder holds the name.
    const int dir = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return {};
}

} // namespace chronavel::platform

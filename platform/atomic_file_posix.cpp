#include "platform/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace chronavel::platform {

namespace {

// The temporary's name: the file's, a dot and six letters or digits.
constexpr size_t kSuffixLength = 6;
constexpr char kSuffixChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsTemporaryOf(const std::string& name, const std::string& base)
{
    if (name.size() != base.size() + 1 + kSuffixLength || name.compare(0, base.size(), base) != 0 ||
        name[base.size()] != '.')
        return false;
    for (size_t i = base.size() + 1; i < name.size(); ++i)
        if (name[i] == '\0' || std::strchr(kSuffixChars, name[i]) == nullptr)
            return false;
    return true;
}

std::string RandomSuffix()
{
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937_64 gen{
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<uint64_t>(getpid()) << 32)};
    uint64_t bits = gen() ^ counter.fetch_add(1);
    std::string s(kSuffixLength, 'A');
    for (char& c : s) {
        c = kSuffixChars[bits % (sizeof kSuffixChars - 1)];
        bits /= sizeof kSuffixChars - 1;
    }
    return s;
}

} // namespace

std::string WriteFileAtomically(const std::string& path, const std::string& text)
{
    struct stat was {};
    const bool existed = lstat(path.c_str(), &was) == 0;
    if (existed && S_ISLNK(was.st_mode))
        return path + ": a symbolic link; give the path of the file itself";
    // A name of its own, made with O_EXCL (which never follows a link): two
    // writers of one file, or a link planted at a fixed name, cannot mix or
    // redirect the text. Created as open() creates files, so the umask
    // decides a new file's permissions.
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = path + "." + RandomSuffix();
        fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return tmp + ": " + std::strerror(errno);
    const auto fail = [&](const std::string& what) {
        const std::string error = what + ": " + std::strerror(errno);
        close(fd);
        unlink(tmp.c_str());
        return error;
    };
    // A file replaced keeps the permissions it had.
    if (existed && fchmod(fd, was.st_mode & 07777) != 0)
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

std::vector<std::string> RemoveStaleTemporaries(const std::string& path,
                                                std::chrono::seconds min_age)
{
    std::vector<std::string> removed;
    const std::string folder = FolderOf(path);
    const std::string base = BaseOf(path);
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return removed;
    const std::time_t now = std::time(nullptr);
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (!IsTemporaryOf(name, base))
            continue;
        const std::string full = (folder == "/" ? "/" : folder + "/") + name;
        struct stat st {};
        if (lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
            now - st.st_mtime < min_age.count())
            continue;
        if (unlink(full.c_str()) == 0)
            removed.push_back(full);
    }
    closedir(dir);
    return removed;
}

} // namespace chronavel::platform

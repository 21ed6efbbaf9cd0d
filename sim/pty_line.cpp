#include "sim/pty_line.h"

#include "platform/vports.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace chronavel::sim {

namespace {

std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

std::string ReadLink(const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

bool Publish(const std::string& path, const std::string& target, std::string* error)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = path + " exists and is not a symlink; not replacing it";
            return false;
        }
        unlink(path.c_str()); // a stale link from an earlier run
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        *error = Errno("cannot create " + path);
        return false;
    }
    return true;
}

} // namespace

bool PtyLine::Open(const std::string& link_name, std::string* error)
{
    std::string dummy;
    if (!error)
        error = &dummy;
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) {
        *error = Errno("cannot open a pseudo-terminal");
        return false;
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        *error = Errno("cannot prepare the pseudo-terminal");
        Close();
        return false;
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    device_ = name;
    slave_ = open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        *error = Errno("cannot open " + device_);
        Close();
        return false;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(slave_, TCSANOW, &tio);
    }
    if (!link_name.empty()) {
        std::string problem;
        if (!platform::EnsureVirtualPortDir(&problem)) {
            *error = problem;
            Close();
            return false;
        }
        const std::string path = platform::VirtualPortDir() + "/" + link_name;
        if (!Publish(path, device_, error)) {
            Close();
            return false;
        }
        link_ = path;
    }
    return true;
}

int PtyLine::ProgramSpeed() const
{
    termios tio{};
    if (slave_ < 0 || tcgetattr(slave_, &tio) != 0)
        return 0;
    static const struct {
        speed_t code;
        int bps;
    } table[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
                 {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
                 {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
                 {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
                 {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    const speed_t code = cfgetospeed(&tio);
    for (const auto& e : table)
        if (e.code == code)
            return e.bps;
    return 0;
}

void PtyLine::Close()
{
    if (!link_.empty() && ReadLink(link_) == device_)
        unlink(link_.c_str());
    link_.clear();
    if (slave_ >= 0)
        close(slave_);
    if (master_ >= 0)
        close(master_);
    slave_ = master_ = -1;
    device_.clear();
}

} // namespace chronavel::sim

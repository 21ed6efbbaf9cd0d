#include "platform/serial_posix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "platform/termios2_linux.h"
#include "platform/vports.h"

namespace chronavel::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Errors after which the device is not coming back on this handle.
bool IsGone(int err)
{
    return err == 0 || err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE;
}

int PollOnce(int fd, short events, int timeout_ms, short& revents)
{
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, timeout_ms);
    revents = p.revents;
    return rc;
}

int MillisecondsLeft(Clock::time_point deadline)
{
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    // Round up, so a wait never ends just short of the deadline and loops.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void ReleaseClaim(int fd)
{
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
}

// Raw 8N1 without flow control, echo or line editing; everything else as
// the driver had it.
void MakeRaw(termios& t)
{
    cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // With at least one byte asked for, a non-blocking read on an idle line
    // fails with EAGAIN, so a read of 0 bytes can only mean a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

bool FramingApplied(int fd)
{
    termios now{};
    if (::tcgetattr(fd, &now) < 0)
        return false;
    constexpr tcflag_t kMask = CSIZE | PARENB | CSTOPB | CRTSCTS;
    return (now.c_cflag & kMask) == CS8 && (now.c_iflag & (IXON | IXOFF)) == 0;
}

} // namespace

CounterRead ReadDriverCounters(int fd, LineCounters& out)
{
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        out.frame = static_cast<uint32_t>(ic.frame);
        out.overrun = static_cast<uint32_t>(ic.overrun);
        out.parity = static_cast<uint32_t>(ic.parity);
        out.brk = static_cast<uint32_t>(ic.brk);
        out.buf_overrun = static_cast<uint32_t>(ic.buf_overrun);
        return CounterRead::kOk;
    }
    if (errno != ENOTTY && errno != EINVAL)
        return CounterRead::kFailed;
#endif
    // No counters here; the call still has to fail on a dead handle.
    termios t{};
    return ::tcgetattr(fd, &t) == 0 ? CounterRead::kNone : CounterRead::kFailed;
}

uint32_t ErrorWordFromCounters(const LineCounters& before, const LineCounters& now)
{
    uint32_t word = 0;
    if (now.buf_overrun != before.buf_overrun)
        word |= kRxOver;
    if (now.overrun != before.overrun)
        word |= kOverrun;
    if (now.parity != before.parity)
        word |= kRxParity;
    if (now.frame != before.frame)
        word |= kFrame;
    if (now.brk != before.brk)
        word |= kBreak;
    return word;
}

PosixSerial::PosixSerial(int fd, const termios& dcb) : fd_(fd), dcb_(dcb)
{
    SetCounterSource(ReadDriverCounters);
}

PosixSerial::~PosixSerial()
{
    if (!closed_.exchange(true))
        ReleaseClaim(fd_);
    ::close(fd_);
}

bool PosixSerial::Usable() const
{
    return !closed_.load() && !lost_.load();
}

void PosixSerial::MarkLost(int err)
{
    if (IsGone(err))
        lost_ = true;
}

int PosixSerial::Read(uint8_t* buf, size_t n)
{
    if (!Usable())
        return -1;
    if (n == 0)
        return 0;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(timeout_per_byte_) *
                                                 static_cast<long long>(n));
    size_t got = 0;
    bool hangup_seen = false;
    bool wait_first = was_silent_.exchange(false);
    while (!closed_) {
        if (wait_first) {
            wait_first = false;
            short revents = 0;
            if (PollOnce(fd_, POLLIN, MillisecondsLeft(deadline), revents) == 0) {
                was_silent_.store(true);
                return 0;
            }
        }
        ssize_t r = ::read(fd_, buf + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            if (got == n)
                return static_cast<int>(got);
            continue;
        }
        if (r == 0) {
            MarkLost(0); // end of file on a terminal: it was hung up
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            MarkLost(errno);
            break;
        }
        if (hangup_seen) {
            lost_ = true; // hang-up reported yet nothing to read: never spin on it
            break;
        }
        int wait_ms = MillisecondsLeft(deadline);
        if (wait_ms == 0)
            return static_cast<int>(got);
        short revents = 0;
        int rc = PollOnce(fd_, POLLIN, wait_ms, revents);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            MarkLost(errno);
            break;
        }
        if (rc == 0) {
            was_silent_.store(got == 0);
            return static_cast<int>(got);
        }
        if (revents & POLLNVAL) {
            lost_ = true;
            break;
        }
        hangup_seen = (revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLIN) == 0;
    }
    // Bytes that came before the failure are still delivered; the next read
    // reports it.
    return got > 0 ? static_cast<int>(got) : -1;
}

namespace {

// How long the output may make no progress before a write or a drain counts
// as stuck: 2 s plus the time 1 KiB takes at the line speed.
int StallLimitMs(int fd)
{
    int baud = 9600;
    GetLineSpeed(fd, baud);
    return WriteStallLimitMs(baud);
}

} // namespace

bool PosixSerial::Write(const uint8_t* buf, size_t n)
{
    size_t done = 0;
    while (done < n) {
        if (!Usable())
            return false;
        ssize_t w = ::write(fd_, buf + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The driver's buffer is full. It drains at the line speed; a line
            // that takes nothing for far longer than that is stuck (nobody
            // reads the other end of a pseudo-terminal), and the write fails
            // rather than hang its thread for good.
            short revents = 0;
            int rc = PollOnce(fd_, POLLOUT, StallLimitMs(fd_), revents);
            if (rc < 0 && errno == EINTR)
                continue;
            if (rc <= 0)
                return false;
            if ((revents & POLLOUT) == 0) {
                lost_ = true;
                return false;
            }
            continue;
        }
        MarkLost(w < 0 ? errno : 0);
        return false;
    }
    return true;
}

bool PosixSerial::Drain()
{
    if (!Usable())
        return false;
    // The driver's queue first, watched so a stuck line cannot hold us past
    // the stall limit; then tcdrain for what the UART itself still holds
    // (a FIFO's worth at most, which the driver bounds).
    const auto stall = std::chrono::milliseconds(StallLimitMs(fd_));
    auto deadline = std::chrono::steady_clock::now() + stall;
    int last = -1;
    for (;;) {
        int queued = 0;
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (queued != last) {
            last = queued;
            deadline = now + stall; // still moving
        } else if (now >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    while (::tcdrain(fd_) != 0) {
        if (errno != EINTR) {
            MarkLost(errno);
            return false;
        }
    }
    return Usable();
}

bool PosixSerial::Purge()
{
    if (!Usable())
        return false;
    return ::tcflush(fd_, TCIOFLUSH) == 0;
}

int PosixSerial::InputWaiting()
{
    if (!Usable())
        return 0;
    int n = 0;
    return ::ioctl(fd_, FIONREAD, &n) == 0 ? std::max(n, 0) : 0;
}

bool PosixSerial::ClearErrors(uint32_t& error_word)
{
    error_word = 0;
    if (!Usable())
        return false;
    std::lock_guard<std::mutex> hold(counter_lock_);
    LineCounters now;
    switch (counters_(fd_, now)) {
    case CounterRead::kFailed:
        return false;
    case CounterRead::kNone:
        return true;
    case CounterRead::kOk:
        break;
    }
    error_word = ErrorWordFromCounters(last_, now);
    last_ = now;
    return true;
}

bool PosixSerial::SetSpeed(int baud)
{
    if (!Usable())
        return false;
    return SetLineSpeed(fd_, baud);
}

void PosixSerial::SetReadTimeoutPerByte(int ms)
{
    timeout_per_byte_ = std::max(ms, 0);
}

int PosixSerial::ReadTimeoutPerByte() const
{
    return timeout_per_byte_;
}

bool PosixSerial::Lost() const
{
    return lost_;
}

void PosixSerial::Close()
{
    if (closed_.exchange(true))
        return;
    ReleaseClaim(fd_);
    // Another thread may be inside a read on fd_: closing it outright could
    // hand the number to an unrelated file. Pointing it at /dev/null drops
    // the device now and leaves the number valid until destruction.
    int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd >= 0) {
        ::dup2(null_fd, fd_);
        ::close(null_fd);
    }
}

void PosixSerial::SetCounterSource(CounterSource source)
{
    std::lock_guard<std::mutex> hold(counter_lock_);
    counters_ = std::move(source);
    last_ = LineCounters{};
    counters_(fd_, last_);
}

bool PosixSerial::Speed(int& baud) const
{
    return GetLineSpeed(fd_, baud);
}

int PosixSerial::LineSpeed() const
{
    int baud = 0;
    return Speed(baud) ? baud : 0;
}

termios PosixSerial::PortDcb() const
{
    return dcb_;
}

std::string SerialDevicePath(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const std::string dev = "/dev/" + name;
    auto present = [](const std::string& path) {
        std::error_code ec;
        const auto type = std::filesystem::symlink_status(path, ec).type();
        return !ec && type != std::filesystem::file_type::not_found &&
               type != std::filesystem::file_type::none;
    };
    // A real port keeps its name: a virtual port can never stand in for it.
    // A virtual port is taken only from a folder nobody else can write.
    if (name.empty() || present(dev))
        return dev;
    const std::string virt = VirtualPortDir() + "/" + name;
    if (VirtualPortDirUsable() && present(virt))
        return virt;
    return dev;
}

OpenCause OpenCauseOf(int code)
{
    switch (code) {
    case 0:
        return OpenCause::kNone;
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenCause::kDenied;
    case EBUSY:       // TIOCEXCL: another open holds it exclusively
    case EWOULDBLOCK: // the lock every open of ours takes
        return OpenCause::kBusy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return OpenCause::kAbsent;
    default:
        return OpenCause::kOther;
    }
}

namespace {

std::string UserName(uid_t uid, gid_t* primary)
{
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return {};
    if (primary)
        *primary = pw.pw_gid;
    return pw.pw_name;
}

std::string GroupName(gid_t gid)
{
    std::vector<char> buf(16384);
    group gr{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) != 0 || !found)
        return {};
    return gr.gr_name;
}

// Whether the group database puts user in gid: what a new login would get,
// unlike this process's groups, fixed when the session began.
bool DatabaseHasUserIn(const std::string& user, gid_t primary, gid_t gid)
{
    int n = 64;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    if (::getgrouplist(user.c_str(), primary, groups.data(), &n) < 0) {
        groups.resize(static_cast<size_t>(n));
        if (::getgrouplist(user.c_str(), primary, groups.data(), &n) < 0)
            return false;
    }
    groups.resize(static_cast<size_t>(n));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Who has the device open: each process's open files in /proc that are this
// very device. Other users' processes show only to root.
std::vector<PortHolder> Holders(const std::string& path)
{
    std::vector<PortHolder> found;
#if defined(__linux__)
    struct stat dev {};
    if (::stat(path.c_str(), &dev) != 0 || !S_ISCHR(dev.st_mode))
        return found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string fd_dir = std::string("/proc/") + e->d_name + "/fd";
        DIR* fds = ::opendir(fd_dir.c_str());
        if (!fds)
            continue; // another user's, or gone meanwhile
        bool holds = false;
        while (const dirent* f = ::readdir(fds)) {
            struct stat st {};
            if (f->d_name[0] == '.' || ::stat((fd_dir + "/" + f->d_name).c_str(), &st) != 0)
                continue;
            if (S_ISCHR(st.st_mode) && st.st_rdev == dev.st_rdev) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (!holds)
            continue;
        PortHolder h;
        h.pid = static_cast<int>(pid);
        std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
        std::getline(comm, h.name);
        found.push_back(h);
    }
    ::closedir(proc);
    std::sort(found.begin(), found.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
#else
    (void)path;
#endif
    return found;
}

// Fills *failure for an open of path that failed with err.
void Explain(const std::string& path, int err, OpenFailure* failure)
{
    if (!failure)
        return;
    *failure = OpenFailure{};
    failure->code = err;
    failure->cause = OpenCauseOf(err);
    failure->system_text = std::strerror(err);
    if (failure->cause == OpenCause::kDenied) {
        gid_t primary = 0;
        failure->user = UserName(::geteuid(), &primary);
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            failure->group = GroupName(st.st_gid);
            failure->user_in_group =
                !failure->user.empty() && DatabaseHasUserIn(failure->user, primary, st.st_gid);
        }
    } else if (failure->cause == OpenCause::kBusy) {
        failure->holders = Holders(path);
    }
}

} // namespace

SerialPtr OpenSerial(const std::string& path, int baud, OpenStatus& status, OpenFailure* failure)
{
    status = OpenStatus::kOpenFailed;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Explain(path, errno, failure);
        return nullptr;
    }
    // TIOCEXCL keeps other users out, but root passes it; the lock does not.
    if (::flock(fd, LOCK_EX | LOCK_NB) < 0) {
        const int err = errno;
        ::close(fd); // before the holders are looked for: this one is not one
        Explain(path, err, failure);
        return nullptr;
    }
    status = OpenStatus::kConfigFailed;
    termios dcb{};
    if (::tcgetattr(fd, &dcb) < 0) {
        ::close(fd); // not a terminal
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    MakeRaw(dcb);
    if (::tcsetattr(fd, TCSANOW, &dcb) < 0 || !FramingApplied(fd) || !SetLineSpeed(fd, baud)) {
        ReleaseClaim(fd);
        ::close(fd);
        return nullptr;
    }
    status = OpenStatus::kOk;
    return std::make_shared<PosixSerial>(fd, dcb);
}

} // namespace chronavel::platform

// The program's side of a simulated line, opened with plain POSIX calls, and
// a reader that finds reply frames the way the program's receiver does.
#pragma once

#include "link/frames.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace chronavel::sim::testing {

struct Reply {
    uint8_t addr = 0, addr2 = 0, cmd = 0, p1 = 0, p2 = 0;
    std::vector<uint8_t> data;
    bool data_ok = true;
};

// Finds every reply header with valid check bytes (sliding window, as the
// receiver does) and takes the data block after a data-bearing one.
inline std::vector<Reply> ParseReplies(const std::vector<uint8_t>& b)
{
    std::vector<Reply> out;
    size_t i = 1; // the first byte on a quiet line only wakes the receiver
    while (i + 8 <= b.size()) {
        const uint16_t sum = SumBytes(&b[i], 6);
        if (b[i] != kSync || b[i + 6] != CheckByte1(sum) || b[i + 7] != CheckByte2(sum)) {
            ++i;
            continue;
        }
        Reply r{b[i + 1], b[i + 2], b[i + 3], b[i + 4], b[i + 5], {}, true};
        i += 8;
        if (HasDataBlock(r.cmd)) {
            const size_t n = r.p2;
            if (i + n + 1 > b.size())
                break;
            r.data.assign(b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(i + n));
            r.data_ok = static_cast<uint8_t>(SumBytes(r.data.data(), n)) == b[i + n];
            i += n + 1;
        }
        out.push_back(r);
    }
    return out;
}

class LineClient {
public:
    explicit LineClient(const std::string& path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
            tcflush(fd_, TCIOFLUSH);
        }
    }
    ~LineClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool Write(const std::vector<uint8_t>& bytes)
    {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    void Flush() { tcflush(fd_, TCIFLUSH); }

    // Collects bytes until `quiet_ms` pass without one or `max_ms` in all.
    std::vector<uint8_t> Read(int max_ms = 1500, int quiet_ms = 150)
    {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, quiet_ms) <= 0) {
                if (!got.empty())
                    break;
                continue;
            }
            if (p.revents & (POLLHUP | POLLERR) && !(p.revents & POLLIN)) {
                hung_up_ = true;
                break;
            }
            uint8_t buf[512];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) {
                hung_up_ = true;
                break;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    std::vector<Reply> Exchange(const std::vector<uint8_t>& frame, int max_ms = 1500)
    {
        Flush();
        Write(frame);
        return ParseReplies(Read(max_ms));
    }

    bool HungUp() const { return hung_up_; }

private:
    int fd_ = -1;
    bool hung_up_ = false;
};

// A fresh virtual-port directory for one test.
class PortDir {
public:
    PortDir() { setenv("CHRONAVEL_PORTS_DIR", path().c_str(), 1); }
    ~PortDir() { unsetenv("CHRONAVEL_PORTS_DIR"); }
    std::string path() const { return dir_.path().string(); }

private:
    test::TempDir dir_{"chronavel-simtest"};
};

} // namespace chronavel::sim::testing

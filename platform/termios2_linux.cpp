#include "platform/termios2_linux.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <sys/ioctl.h>

namespace chronavel::platform {

namespace {

struct StandardRate {
    int baud;
    unsigned code;
};

// Standard rates keep their Bnnn codes, so tools that know only those (and
// glibc's cfgetospeed) read the speed right.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

unsigned SpeedCode(int baud)
{
    for (const auto& r : kStandardRates)
        if (r.baud == baud)
            return r.code;
    return BOTHER; // any other rate, given in c_ispeed/c_ospeed
}

int Ioctl(int fd, unsigned long request, termios2* t)
{
    int rc;
    do {
        rc = ioctl(fd, request, t);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

} // namespace

bool SetLineSpeed(int fd, int baud)
{
    if (baud <= 0)
        return false;
    termios2 t{};
    if (Ioctl(fd, TCGETS2, &t) < 0)
        return false;
    const unsigned code = SpeedCode(baud);
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code | (code << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    if (Ioctl(fd, TCSETS2, &t) < 0)
        return false;
    int actual = 0;
    if (!GetLineSpeed(fd, actual))
        return false;
    // Drivers that cannot do a rate fall back to another one silently.
    return WithinSpeedTolerance(baud, actual);
}

bool WithinSpeedTolerance(int asked, int actual)
{
    if (asked <= 0 || actual <= 0)
        return false;
    return std::abs(static_cast<long long>(actual) - asked) * 100 <= 3LL * asked;
}

bool GetLineSpeed(int fd, int& baud)
{
    termios2 t{};
    if (Ioctl(fd, TCGETS2, &t) < 0)
        return false;
    baud = static_cast<int>(t.c_ospeed);
    return true;
}

} // namespace chronavel::platform

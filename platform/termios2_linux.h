// Line speed through the kernel's termios2 interface, which takes any rate
// in bits per second. Its header clashes with <termios.h>, so it is kept in a
// source file of its own behind these two calls.
#pragma once

namespace chronavel::platform {

// Sets input and output speed of the terminal fd to baud and reads it back.
// False when the call fails or the device settled on a rate more than 3 %
// away (a UART tolerates about that much).
bool SetLineSpeed(int fd, int baud);

// True when a device that settled on actual for asked is close enough: at
// most 3 % away (a UART tolerates about that much).
bool WithinSpeedTolerance(int asked, int actual);

// The output speed the terminal fd is set to.
bool GetLineSpeed(int fd, int& baud);

} // namespace chronavel::platform

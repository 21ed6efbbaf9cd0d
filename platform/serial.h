// Serial device: the small interface the core uses in place of the Win32
// communications calls. One implementation per OS (serial_posix.cpp,
// serial_win32.cpp), and fakes in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace chronavel::platform {

// Line-status error flags, with the values the Win32 error word uses, so the
// message table works unchanged on every OS.
enum LineError : uint32_t {
    kRxOver = 0x0001,   // receive buffer overrun
    kOverrun = 0x0002,  // hardware overrun, bytes lost
    kRxParity = 0x0004, // parity error
    kFrame = 0x0008,    // framing error
    kBreak = 0x0010,    // break condition
    kTxFull = 0x0100,
    kIoError = 0x0400,
    kMode = 0x8000,
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Reads up to n bytes into buf. Returns when n bytes have arrived or
    // after ReadTimeoutPerByte() * n milliseconds, with whatever came: the
    // count (0..n). Returns -1 when the read failed (device gone, bad
    // handle); a vanished device never reports endless empty reads.
    virtual int Read(uint8_t* buf, size_t n) = 0;

    // Writes all n bytes, blocking until they are handed to the driver.
    // False when the write failed.
    virtual bool Write(const uint8_t* buf, size_t n) = 0;

    // Waits until everything written has left the port (not only the
    // driver's buffer), so a purge that follows cannot cut a frame still
    // being sent. Bounded by the write-stall limit; false when the output
    // did not drain by then or the device failed.
    virtual bool Drain() { return true; }

    // Discards pending input and output. False on failure (callers ignore it).
    virtual bool Purge() = 0;

    // How many received bytes wait to be read: a reply may be coming in, and
    // a purge now would throw it away. 0 when none or when it cannot be told.
    virtual int InputWaiting() { return 0; }

    // Reads and clears the line-status error word (errors since the last
    // call). False when the call itself failed.
    virtual bool ClearErrors(uint32_t& error_word) = 0;

    // Changes the line speed only. False when the device refuses it.
    virtual bool SetSpeed(int baud) = 0;

    // The line speed in bits per second, 0 when it cannot be told.
    virtual int LineSpeed() const { return 0; }

    // Read time-out multiplier in milliseconds per byte asked for (80 by
    // default). Lowered only by callers that know the line's timing.
    virtual void SetReadTimeoutPerByte(int ms) = 0;
    virtual int ReadTimeoutPerByte() const = 0;

    // True once the device has gone away (adapter unplugged, the other end of
    // a pseudo-terminal closed). Every later read and write fails at once.
    virtual bool Lost() const { return false; }

    // Gives the device up: the exclusive claim is released at once, and every
    // later call on this object fails. A read in progress on another thread
    // ends within its time-out. Safe to call more than once.
    virtual void Close() {}
};

using SerialPtr = std::shared_ptr<SerialDevice>;

enum class OpenStatus {
    kOk,
    kOpenFailed,   // missing, in use (by us or another program), or no access
    kConfigFailed, // opened, but the line settings or speed were refused
};

// Why a device did not open, as far as the system tells.
enum class OpenCause {
    kNone,   // it opened, or the failure was in the settings
    kDenied, // this user may not open it
    kBusy,   // another program (or another handle of this one) holds it
    kAbsent, // no such device, or it has just gone
    kOther,  // any other system error: see code
};

// A process that has the device open.
struct PortHolder {
    int pid = 0;
    std::string name; // its program's name, empty when it cannot be read
};

// What the system said about a failed open, for the operator's texts.
struct OpenFailure {
    OpenCause cause = OpenCause::kNone;
    int code = 0;               // errno, or Win32's GetLastError()
    std::string system_text;    // the system's own words for code
    std::string group;          // kDenied on POSIX: the device's group, when it has a name
    std::string user;           // kDenied on POSIX: who we run as
    bool user_in_group = false; // ... and the group database already lists the user in it
    // kBusy: the processes seen holding it (Linux only; another user's
    // are seen by root alone).
    std::vector<PortHolder> holders;
};

// The cause an open's system error code stands for (errno on POSIX,
// GetLastError() on Windows, where a COM port held elsewhere answers
// "access denied").
OpenCause OpenCauseOf(int code);

// The device path for a port name. POSIX: a name containing "/" is a path
// already; otherwise /dev/NAME when it exists, else the entry of that name
// in the virtual-port directory when the directory may be trusted and has
// one, else /dev/NAME. Win32: "\\.\NAME" (so COM10 and above open too);
// a name that is a device path already is kept.
std::string SerialDevicePath(const std::string& name);

// How long a write waits for a full driver buffer to take anything before
// it gives up: two seconds plus the time a 1 KiB buffer takes to drain at
// the line speed.
int WriteStallLimitMs(int baud);

// Opens the device at path for exclusive use and configures it: raw 8 data
// bits, no parity, one stop bit, no flow control, not a controlling
// terminal, the given speed, 80 ms read time-out per byte. On failure the
// device is left closed and nullptr is returned, with the reason in status.
// When the open itself failed (kOpenFailed) and failure is given, it says
// why.
SerialPtr OpenSerial(const std::string& path, int baud, OpenStatus& status,
                     OpenFailure* failure = nullptr);

} // namespace chronavel::platform

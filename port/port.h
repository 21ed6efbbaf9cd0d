// Serial port management: the process-wide open port, opening and
// configuring a port by name and speed, purge, line status, closing, and the
// list of the machine's serial ports.
#pragma once

#include "platform/serial.h"
#include "port/port_error.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace chronavel {

// The open port; empty means no port is open ("0"). Written on the window
// thread, read by both threads, so every access goes through the lock.
class PortHandleVar {
public:
    platform::SerialPtr Get() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return port_;
    }
    void Set(platform::SerialPtr p)
    {
        std::lock_guard<std::mutex> hold(lock_);
        port_ = std::move(p);
    }
    explicit operator bool() const { return Get() != nullptr; }

private:
    mutable std::mutex lock_;
    platform::SerialPtr port_;
};

extern PortHandleVar PortHandle;

// Held by whoever does I/O on the port and the reception state: the exchange
// thread for each pass, a synchronous transaction for its whole exchange, so
// an answer one waits for cannot be eaten by the other.
std::recursive_mutex& PortIoLock();
// How many threads are waiting to take PortIoLock() for a synchronous
// transaction: the exchange loop then pauses between its passes, so the
// window thread gets the port even while bytes keep coming.
std::atomic<int>& PortIoWaiters();

// The device path for a port name (platform::SerialDevicePath): on Linux a
// name containing "/" is a path already (a /dev/serial/by-id link too);
// otherwise /dev/NAME when it exists, else the entry of that name in the
// virtual-port directory when the directory may be trusted (owned by this
// user, closed to others) and has one, else /dev/NAME. On Windows
// "\\.\NAME", a stable name (platform::PortInfo::stable) first turned into
// the COM port its adapter has now.
std::string PortPath(const std::string& name);

// What opening a port came to: the open port, or why it did not open.
struct PortOpening {
    platform::SerialPtr port;                         // null when it did not open
    PortErrorKind error = PortErrorKind::kCannotOpen; // why, when port is null
    std::string text;                                 // the operator's text, when port is null
    platform::OpenFailure failure; // kCannotOpen: what the system said, for OpenFailureCause
};

// The language of a front end's texts: the windows speak Russian, the tool
// and its daemon English.
enum class Words { kRussian, kEnglish };

// Why a port did not open, as the operator is told it after "Error opening
// port": no access (with the device's group and the command that joins it),
// in use (by which processes, when they can be seen, and how to stop the
// service), absent, or the system's own words. `name` is the port as the
// operator gave it, `device` the path that was opened. Empty when the
// failure has no cause (a port that opened, or refused its settings).
std::string OpenFailureCause(const platform::OpenFailure& failure, const std::string& name,
                             const std::string& device, Words words);

// The windows' message for a port that did not open: "Error opening port",
// then the cause on a line of its own.
std::string OpenFailureMessage(const PortOpening& opened, const std::string& name);

// Opens the named device (see PortPath) at the speed: raw 8N1, no flow
// control, 80 ms read time-out per byte, input and output purged. A device
// that does not open gives kCannotOpen, "Error opening port"; one that opens
// but cannot be configured is closed again and gives kSettingsRefused,
// "Error setting port state". Shows nothing and does not store the result
// in PortHandle; the caller tells the operator and checks the line
// (ShowLineErrors) as it needs.
PortOpening TryOpenPort(const std::string& name, int speed);

// The port, or nullptr: for callers that need no reason (tests, benchmarks).
platform::SerialPtr OpenPort(const std::string& name, int speed);

// Changes only the speed of the open port. When the device refuses it, the
// operator's text ("Error setting port state"); else empty.
std::string SetPortSpeed(platform::SerialDevice& port, int speed);

// Discards pending input and output; failures and a null port are ignored.
void PurgePort(platform::SerialDevice* port);

// What the line-status check found to tell: "Ошибка соединения" when the
// status call fails (a port error when the device is gone), the table's
// message for a non-zero error word that has one.
struct LineNotice {
    bool DeviceGone = false;
    std::string Text;
    bool operator==(const LineNotice&) const = default;
};

// The line-status check, telling nothing: what there is to tell, or none
// (a clean line, or no port: closed on purpose meanwhile).
std::optional<LineNotice> CheckLine(platform::SerialDevice* port);

// Tells the operator what the check found (through link/host_call.h).
void ShowLineNotice(const std::optional<LineNotice>& notice);

// The check, told at once: for the exchange thread's side of the line and
// a port just opened, which have no caller to hand it to.
void ShowLineErrors(platform::SerialDevice* port);

// The message for an error word, empty when the table has none.
std::string LineErrorMessage(uint32_t error_word);

// Closes PortHandle (errors ignored) and marks it closed.
void ClosePort();

} // namespace chronavel

// The serial ports present on the machine: real ones from the operating
// system, then the virtual ports (pseudo-terminals published by the
// simulator and the tests).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace chronavel::platform {

struct PortInfo {
    std::string name;        // bare device name: ttyUSB0, or the virtual port's name
    std::string description; // USB product name, driver name, or "virtual port"
    bool is_virtual = false;
    // A name that stays with the adapter when the device name does not,
    // empty when the system gives none. Linux: the path of the port's link
    // in /dev/serial/by-id (by-path when it has no by-id link). Windows: the
    // port's device instance ID when a USB device is behind it
    // ("FTDIBUS\VID_0403+PID_6001+A12345A\0000": its serial number, or its
    // socket when it has none).
    std::string stable{};
};

// True when the port whose tty class entry is at path (/sys/class/tty/NAME)
// is a placeholder of the 8250 driver (a port number the driver reserves with
// no UART behind it).
using PlaceholderProbe = std::function<bool(const std::string& tty_entry)>;

// Reads the UART type the driver reports in the entry's "type" file: 0 means
// no UART. The port is never opened (an open raises DTR and RTS, which a
// device on the line may take as a reset or a transmit key). A type that
// cannot be read keeps the port listed.
bool Is8250Placeholder(const std::string& tty_entry);

// Where the list comes from; the defaults are the live system.
struct PortListSources {
    std::string tty_class_dir; // empty: $CHRONAVEL_TTY_CLASS_DIR, else /sys/class/tty
    std::string virtual_dir;   // empty: VirtualPortDir()
    PlaceholderProbe probe;    // empty: Is8250Placeholder
    // The folder holding by-id/ and by-path/. Empty: $CHRONAVEL_SERIAL_BY_DIR,
    // else /dev/serial while the tty class folder is the live one, else none
    // (a fake tree must not pick up the machine's own links).
    std::string serial_by_dir;
};

// Real ports in natural order (ttyS2 before ttyS10), then the virtual ports
// in natural order.
std::vector<PortInfo> ListSerialPorts(const PortListSources& sources = {});

// The port whose stable name is name, compared without regard to ASCII case
// (Windows' device IDs are), or nullptr.
const PortInfo* FindByStableName(const std::vector<PortInfo>& ports, const std::string& name);

// The name to open for a port name. Windows: a stable name becomes the COM
// port its adapter has now (kept as it is when the adapter is not there).
// Linux: kept as it is, since a /dev/serial link opens as it is.
std::string CurrentPortName(const std::string& name);

// Natural order of two names: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

} // namespace chronavel::platform

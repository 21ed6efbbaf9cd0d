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
};

// Real ports in natural order (ttyS2 before ttyS10), then the virtual ports
// in natural order.
std::vector<PortInfo> ListSerialPorts(const PortListSources& sources = {});

// Natural order of two names: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

} // namespace chronavel::platform

// The port list: fills a list box with the machine's serial ports and keeps
// the name behind each entry in PortNames.
#pragma once

#include "platform/portlist.h"

#include <array>
#include <string>
#include <vector>

namespace chronavel {

constexpr int kMaxPortNames = 256;

// The name behind entry i of the box that EnumPorts filled last (see
// StoredPortName): what "Подключить" opens and the settings file keeps.
// Window thread only.
extern std::array<std::string, kMaxPortNames> PortNames;

// What EnumPorts needs of a list box: the windows' combo box and the tests'
// recorder both implement it.
class PortBox {
public:
    virtual ~PortBox() = default;
    virtual void Clear() = 0;
    virtual void Add(const std::string& text) = 0;
    virtual void Select(int index) = 0;
};

// The port's stable name when it has one (it finds the adapter again in
// another socket), else its device name.
std::string StoredPortName(const platform::PortInfo& port);

// "ttyUSB0 (FT232R USB UART)": the device name and at most 50 characters of
// the description.
std::string DeviceEntryText(const platform::PortInfo& port);

// The entry of the list: DeviceEntryText, after the stable name's last path
// component when there is one
// ("usb-FTDI_FT232R_USB_UART_A12345-if00-port0 → ttyUSB0 (FT232R USB UART)").
std::string PortEntryText(const platform::PortInfo& port);

// The ports as the list holds them: at most 256; of two consecutive ports
// with the same device name only the later one.
std::vector<platform::PortInfo> ListedPorts(const std::vector<platform::PortInfo>& ports);

// Clears box and PortNames, lists the ports into both (see ListedPorts), and
// selects the entry com_port names, by its stored or its device name (so a
// settings file from before stable names still finds its port), and sets
// com_port to that entry's stored name; with no such entry, entry 0 and its
// stored name. With no ports the box stays empty, nothing is selected and
// com_port is kept.
void EnumPorts(PortBox& box, std::string& com_port, const std::vector<platform::PortInfo>& ports);

// The same over the machine's serial ports.
void EnumPorts(PortBox& box, std::string& com_port);

} // namespace chronavel

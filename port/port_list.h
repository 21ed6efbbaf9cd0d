// The port list: fills a list box with the machine's serial ports and keeps
// the device name behind each entry in PortNames.
#pragma once

#include "platform/portlist.h"

#include <array>
#include <string>
#include <vector>

namespace chronavel {

constexpr int kMaxPortNames = 256;

// The bare device name behind entry i of the box that EnumPorts filled last.
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

// "ttyUSB0 (FT232R USB UART)": the name and at most 50 characters of the
// description.
std::string PortEntryText(const platform::PortInfo& port);

// Clears box and PortNames, lists the ports into both (at most 256; of two
// consecutive ports with the same name only the later one), and selects the
// entry named com_port, or else entry 0 and sets com_port to its name. With
// no ports the box stays empty, nothing is selected and com_port is kept.
void EnumPorts(PortBox& box, std::string& com_port, const std::vector<platform::PortInfo>& ports);

// The same over the machine's serial ports.
void EnumPorts(PortBox& box, std::string& com_port);

} // namespace chronavel

#include "port/port_list.h"

#include "port/display.h"

namespace chronavel {

std::array<std::string, kMaxPortNames> PortNames;

constexpr size_t kMaxDescription = 50; // characters

std::string StoredPortName(const platform::PortInfo& port)
{
    return port.stable.empty() ? port.name : port.stable;
}

std::string DeviceEntryText(const platform::PortInfo& port)
{
    return port.name + " (" + Utf8Prefix(port.description, kMaxDescription) + ")";
}

std::string PortEntryText(const platform::PortInfo& port)
{
    if (port.stable.empty())
        return DeviceEntryText(port);
    // The folder is the same for every entry; the link's own name tells the
    // adapters apart.
    const size_t slash = port.stable.find_last_of('/');
    const std::string label =
        slash == std::string::npos ? port.stable : port.stable.substr(slash + 1);
    return label + " → " + DeviceEntryText(port);
}

std::vector<platform::PortInfo> ListedPorts(const std::vector<platform::PortInfo>& ports)
{
    std::vector<platform::PortInfo> listed;
    for (const platform::PortInfo& p : ports) {
        if (!listed.empty() && listed.back().name == p.name)
            listed.back() = p; // the later of two same-named ports takes the place
        else if (listed.size() == kMaxPortNames)
            break; // the table is full
        else
            listed.push_back(p);
    }
    return listed;
}

void EnumPorts(PortBox& box, std::string& com_port, const std::vector<platform::PortInfo>& ports)
{
    box.Clear();
    PortNames.fill(std::string());
    const std::vector<platform::PortInfo> listed = ListedPorts(ports);
    if (listed.empty())
        return;

    int selected = -1;
    for (size_t i = 0; i < listed.size(); ++i) {
        PortNames[i] = StoredPortName(listed[i]);
        box.Add(PortEntryText(listed[i]));
        if (PortNames[i] == com_port || listed[i].name == com_port)
            selected = static_cast<int>(i);
    }
    if (selected < 0)
        selected = 0;
    com_port = PortNames[static_cast<size_t>(selected)];
    box.Select(selected);
}

void EnumPorts(PortBox& box, std::string& com_port)
{
    EnumPorts(box, com_port, platform::ListSerialPorts());
}

} // namespace chronavel

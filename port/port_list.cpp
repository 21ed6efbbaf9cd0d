#include "port/port_list.h"

#include "port/display.h"

namespace chronavel {

std::array<std::string, kMaxPortNames> PortNames;

constexpr size_t kMaxDescription = 50; // characters

std::string PortEntryText(const platform::PortInfo& port)
{
    return port.name + " (" + Utf8Prefix(port.description, kMaxDescription) + ")";
}

void EnumPorts(PortBox& box, std::string& com_port, const std::vector<platform::PortInfo>& ports)
{
    box.Clear();
    PortNames.fill(std::string());
    if (ports.empty())
        return;

    std::vector<std::string> texts{PortEntryText(ports[0])};
    PortNames[0] = ports[0].name;
    for (size_t i = 1; i < ports.size(); ++i) {
        if (ports[i].name == ports[i - 1].name) {
            // The later of two same-named ports takes the earlier one's place.
            texts.back() = PortEntryText(ports[i]);
            PortNames[texts.size() - 1] = ports[i].name;
            continue;
        }
        if (texts.size() == PortNames.size())
            break; // the table is full
        PortNames[texts.size()] = ports[i].name;
        texts.push_back(PortEntryText(ports[i]));
    }
    for (const auto& t : texts)
        box.Add(t);

    int selected = -1;
    for (size_t i = 0; i < texts.size(); ++i)
        if (PortNames[i] == com_port)
            selected = static_cast<int>(i);
    if (selected < 0) {
        selected = 0;
        com_port = PortNames[0];
    }
    box.Select(selected);
}

void EnumPorts(PortBox& box, std::string& com_port)
{
    EnumPorts(box, com_port, platform::ListSerialPorts());
}

} // namespace chronavel

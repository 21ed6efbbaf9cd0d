// chronavelctl ports: the port list as the connection dialog builds it.
#include "port/port_list.h"
#include "tools/cli/commands.h"
#include "tools/line/tool_host.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace chronavel::ctl {

int RunPorts(bool json)
{
    const std::vector<platform::PortInfo> ports = ListedPorts(platform::ListSerialPorts());
    if (json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& p : ports) {
            nlohmann::json stable = nullptr;
            if (!p.stable.empty())
                stable = p.stable;
            out.push_back({{"name", p.name}, {"text", PortEntryText(p)}, {"stable", stable}});
        }
        // A name that is not valid UTF-8 (a virtual port can be called
        // anything) shows replacement characters instead of failing.
        Print(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return kExitOk;
    }
    // The whole stable name, as --port and the settings file take it.
    for (const auto& p : ports)
        Print(p.stable.empty() ? DeviceEntryText(p) : p.stable + " → " + DeviceEntryText(p));
    return kExitOk;
}

Verb AddPorts(CLI::App& app)
{
    auto json = std::make_shared<bool>(false);
    auto* sub = app.add_subcommand("ports", "List the serial ports");
    sub->add_flag("--json", *json, "JSON array of {name, text}");
    return {.Sub = sub, .Run = [json](DaemonMode) { return RunPorts(*json); }};
}

} // namespace chronavel::ctl

// chronavelctl ports: the port list as the connection dialog builds it.
#include "port/port_list.h"
#include "tools/commands.h"
#include "tools/tool_host.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace chronavel::ctl {

namespace {

class ListBox final : public PortBox {
public:
    void Clear() override { texts.clear(); }
    void Add(const std::string& text) override { texts.push_back(text); }
    void Select(int) override {}

    std::vector<std::string> texts;
};

} // namespace

int RunPorts(bool json)
{
    ListBox box;
    std::string chosen; // no port is preferred
    EnumPorts(box, chosen);
    if (json) {
        nlohmann::json out = nlohmann::json::array();
        for (size_t i = 0; i < box.texts.size(); ++i)
            out.push_back({{"name", PortNames[i]}, {"text", box.texts[i]}});
        // A name that is not valid UTF-8 (a virtual port can be called
        // anything) shows replacement characters instead of failing.
        Print(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return kExitOk;
    }
    for (const auto& t : box.texts)
        Print(t);
    return kExitOk;
}

} // namespace chronavel::ctl

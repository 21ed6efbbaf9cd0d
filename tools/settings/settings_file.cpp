#include "tools/settings/settings_file.h"

namespace chronavel::ctl {

std::string SettingsFromJson(const nlohmann::json& j, RegisterValues& out)
{
    // One reading of the settings for every place they come from.
    return SettingsFromJsonText(j.dump(), out);
}

} // namespace chronavel::ctl

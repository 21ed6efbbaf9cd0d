#include "tools/settings/read_all_output.h"

#include "config/register_table.h"
#include "config/registers.h"
#include "link/hex.h"
#include "tools/settings/config_file.h"

#include <cstdio>

namespace chronavel::ctl {

namespace {

std::string Row(const std::string& name, const std::string& value)
{
    std::string line = name;
    line.resize(15, ' ');
    return line + value;
}

std::string ByteText(uint8_t v)
{
    return Hex2(v) + " (" + std::to_string(v) + ")";
}

// A BCD pair as "HH:MM" (the digits as they stand, even when not BCD).
std::string PairText(uint8_t high, uint8_t low)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X:%02X", high, low);
    return buf;
}

} // namespace

nlohmann::json SettingsJson()
{
    // As a settings file carries them, so the output restores as it is.
    return NamedSettings(SettingsVariables());
}

std::vector<std::string> SettingsTable()
{
    const RegisterValues v = SettingsVariables();
    std::vector<std::string> rows;
    for (const SettingInfo& s : Settings()) {
        std::string value;
        switch (s.Kind) {
        case SettingKind::kByte:
            value = ByteText(v.At(s.Regs[0]));
            break;
        case SettingKind::kList:
            for (uint8_t r : s.Regs)
                value += (value.empty() ? "" : " ") + std::to_string(v.At(r));
            break;
        case SettingKind::kTime:
            value = PairText(v.At(s.Regs[0]), v.At(s.Regs[1]));
            break;
        case SettingKind::kCorrection:
            value = std::to_string(CorrectionFromBytes(v.At(s.Regs[0]), v.At(s.Regs[1])));
            break;
        }
        rows.push_back(Row(s.Name, value));
    }
    return rows;
}

} // namespace chronavel::ctl

#include "tools/settings_file.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

namespace chronavel::ctl {

std::string SettingsFromJson(const nlohmann::json& j, RegisterValues& out)
{
    if (!j.is_object())
        return "not a JSON object";
    for (const auto& [name, v] : j.items()) {
        std::string why;
        if (v.is_array()) {
            std::vector<long long> list;
            for (const auto& e : v)
                list.push_back(e.is_number_integer() ? e.get<long long>() : -1);
            why = SetNamedList(out, name, list);
        } else if (v.is_number_integer()) {
            why = SetNamedNumber(out, name, v.get<long long>());
        } else if (v.is_string()) {
            why = SetNamedTime(out, name, v.get<std::string>());
        } else {
            why = name + ": not a number, list or time";
        }
        if (!why.empty())
            return why;
    }
    return {};
}

std::string ReadWholeFile(const std::string& path, std::string& text)
{
    std::ifstream in(path);
    if (!in)
        return path + ": cannot be read";
    std::stringstream whole;
    whole << in.rdbuf();
    text = whole.str();
    return {};
}

std::string LoadSettingsFile(const std::string& path, RegisterValues& out)
{
    std::string text;
    if (std::string why = ReadWholeFile(path, text); !why.empty())
        return why;
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '{') {
        const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        if (j.is_discarded())
            return path + ": not valid JSON";
        const std::string why = SettingsFromJson(j, out);
        return why.empty() ? why : path + ": " + why;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find_first_not_of(" \t\r");
        if (at == std::string::npos || line[at] == '#')
            continue;
        if (const std::string why = SetRegisterLine(out, line); !why.empty())
            return path + ": " + why;
    }
    return {};
}

} // namespace chronavel::ctl

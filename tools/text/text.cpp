#include "tools/text/text.h"

#include "platform/local_time.h"

#include <nlohmann/json.hpp>

namespace chronavel::ctl {

std::string UtcText(std::time_t t)
{
    const std::tm tm = platform::UtcCalendar(t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::string ValidUtf8(const std::string& text)
{
    const std::string quoted =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(quoted).get<std::string>();
}

} // namespace chronavel::ctl

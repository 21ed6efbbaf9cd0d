#include "tools/daemon/daemon_log.h"

#include "platform/local_time.h"
#include "tools/line/tool_host.h"

#include <ctime>

namespace chronavel::ctl {

std::string Stamp()
{
    const std::time_t now = std::time(nullptr);
    const std::tm tm = platform::LocalCalendar(now);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void Log(const std::string& line)
{
    Say(Stamp() + " " + line);
}

} // namespace chronavel::ctl

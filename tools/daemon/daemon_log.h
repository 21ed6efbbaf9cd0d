// The daemon's log: each line on standard error after the local time.
#pragma once

#include <string>

namespace chronavel::ctl {

// "2026-12-09 06:30:00": the local time, as each log line starts.
std::string Stamp();
// Says the line after the stamp.
void Log(const std::string& line);

} // namespace chronavel::ctl

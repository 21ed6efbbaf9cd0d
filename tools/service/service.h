// The daemon as a Windows service: `chronavelctl service ACTION ...` and
// the daemon's run under the service control manager.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace chronavel::ctl {

// The daemon's own parser and loop, for the service: kCheckOnly parses
// "daemon ARGS" and checks what they need (ServiceNeedsProblems), kService
// runs it under the Windows service control manager.
enum class DaemonMode { kNormal, kCheckOnly, kService };
using DaemonEntry = std::function<int(const std::vector<std::string>& args, DaemonMode mode)>;
// chronavelctl service ACTION ...: install, uninstall, start, stop, status,
// and run (the manager's way in).
int RunServiceCommand(const std::vector<std::string>& args, const DaemonEntry& daemon);
// daemon() under the manager, its output in the service's log; a message
// and kExitUsage when this process was not started by the manager.
int RunDaemonAsService(const std::string& port, const std::function<int()>& daemon);

} // namespace chronavel::ctl

// What `chronavelctl service` decides before it asks the Windows service
// control manager: the service's name from the port, and the command line
// the manager starts it with.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

// The port as a service name may carry it: "COM7", "com7" and "\\.\COM7"
// are all "COM7", so one port cannot get two services. nullopt for a name
// a service name cannot hold (slashes, blanks, nothing).
std::optional<std::string> ServicePort(const std::string& port);

// "chronavel-sync-COM7": one service per port.
std::string ServiceName(const std::string& service_port);

// The name the Services console shows.
std::string ServiceDisplayName(const std::string& service_port);

// Every service of ours starts with it (uninstall --all).
inline constexpr const char* kServicePrefix = "chronavel-sync-";

// The daemon's arguments the service runs with: "--port PORT", then the
// caller's own daemon options as given, then --supervise and a state file
// under data_dir unless the options name their own. The daemon runs
// unattended there: its state is what the status and the alarms read.
std::vector<std::string> ServiceDaemonArguments(const std::string& service_port,
                                                const std::vector<std::string>& options,
                                                const std::string& data_dir);

// Where the service writes what it would print.
std::string ServiceLogPath(const std::string& data_dir, const std::string& service_port);

// One command line of the arguments, quoted so that Windows' own splitting
// (CommandLineToArgvW, the C runtime's) gives them back unchanged.
std::string WindowsCommandLine(const std::vector<std::string>& args);

} // namespace chronavel::ctl

// What `chronavelctl service` decides before it asks the Windows service
// control manager: the service's name from the port, and the command line
// the manager starts it with.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

// The port as a service name may carry it: "COM7", "com7" and "\\.\COM7"
// are all "COM7", so one port cannot get two services. nullopt for a name
// a service name cannot hold (slashes, blanks, nothing).
std::optional<std::string> ServicePort(const std::string& port);

// The part of a service's name that port gives: ServicePort's for a COM
// name; for an adapter's stable name (its device instance ID,
// "USB\VID_0403&PID_6001\A50285BI", which the daemon turns into whatever
// COM port the adapter has at each open) the ID upper-cased with every
// character a service name should not hold made "_"
// ("USB_VID_0403_PID_6001_A50285BI"). nullopt as ServicePort.
std::optional<std::string> ServiceKey(const std::string& port);

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

// The service runs in the system's folder, not the installing shell's: the
// options' files (--settings, --state-file, the --on-alarm program) made
// absolute by Windows' rules against `cwd`, and checked with `exists`:
// the settings file and a program named with a folder must be there, a
// state file's folder must (the daemon makes the file). A program named
// without a folder and not in `cwd` is left to Windows' search of PATH.
// nullopt with *error saying which path and why.
std::optional<std::vector<std::string>>
ServicePaths(const std::vector<std::string>& options, const std::string& cwd,
             const std::function<bool(const std::string&)>& exists, std::string* error);

// What the daemon needs from its first second, checked before a service is
// installed to run it, with the daemon's own loaders and lock: the
// --settings and --web-config files (when given) loaded and valid, the
// state file (when given) not a link, its folder writable and no daemon
// keeping that state. A message for each thing that fails; none when the
// service may be installed.
std::vector<std::string> ServiceNeedsProblems(const std::string& settings_file,
                                              const std::string& web_config_file,
                                              const std::string& state_file);

// Where the service writes what it would print.
std::string ServiceLogPath(const std::string& data_dir, const std::string& service_port);

// One command line of the arguments, quoted so that Windows' own splitting
// (CommandLineToArgvW, the C runtime's) gives them back unchanged.
std::string WindowsCommandLine(const std::vector<std::string>& args);

} // namespace chronavel::ctl

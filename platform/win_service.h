// The Windows service control manager: chronavelctl's daemon registered,
// started, stopped and removed as a service, and run as one. Elsewhere
// there is no such manager (systemd units serve there): every call fails
// with a message saying so.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::platform {

// False where no service control manager exists.
bool ServiceManagerAvailable();

struct ServiceDefinition {
    std::string Name;
    std::string DisplayName;
    std::string Description;
    std::string CommandLine; // the program and its arguments, quoted
};

// Registers an automatically started service, restarted by the manager
// when it fails. False with *error set, "already installed" included.
bool InstallService(const ServiceDefinition& wanted, std::string* error);

// Stops the service if it runs (up to wait_seconds), then removes it.
bool UninstallService(const std::string& name, int wait_seconds, std::string* error);

// Starts or stops it and waits up to wait_seconds for it to be running or
// stopped.
bool StartInstalledService(const std::string& name, int wait_seconds, std::string* error);
bool StopInstalledService(const std::string& name, int wait_seconds, std::string* error);

enum class ServiceState { kNotInstalled, kStopped, kStarting, kStopping, kRunning, kOther };
// nullopt with *error set when the manager cannot be asked.
std::optional<ServiceState> QueryService(const std::string& name, std::string* error);

// The names of the installed services that begin with prefix.
std::vector<std::string> ServicesNamed(const std::string& prefix, std::string* error);

// Where services keep their state and logs (%ProgramData%\chronavel),
// made when missing and closed to all but the system and administrators
// (SecureFolder); "" with *error set when it cannot be.
std::string ServiceDataDir(std::string* error = nullptr);

// Makes dir (when missing) owned by the Administrators, SYSTEM and the
// Administrators with full control, the local users reading only (their
// rights not inherited from above), and puts the same rights on every
// entry already in it: a file a user made there beforehand (a lock held,
// a planted history) is theirs no longer. "" when done, else the reason.
std::string SecureFolder(const std::string& dir);

// Runs body as the service `name` when the manager started this process:
// it is told RUNNING before body, STOP_PENDING when it asks for a stop
// (then on_stop is called: it may only set atomics) and STOPPED with
// body's result after. nullopt, without calling body, when the process was
// not started by the manager (from a console, say).
std::optional<int> RunAsService(const std::string& name, const std::function<int()>& body,
                                void (*on_stop)());

} // namespace chronavel::platform

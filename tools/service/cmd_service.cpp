// chronavelctl service: the daemon as a Windows service, one per port,
// registered with the service control manager and run under it.
#include "platform/app_paths.h"
#include "platform/atomic_file.h"
#include "platform/utf8_path.h"
#include "platform/win_service.h"
#include "tools/line/exit_codes.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/service/service.h"
#include "tools/service/service_args.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace chronavel::ctl {

namespace {

// How long start, stop and uninstall wait for the service to get there.
constexpr int kServiceWaitSeconds = 20;

constexpr const char* kUsage =
    "usage: chronavelctl service install --port COMn|STABLE-NAME [daemon options]\n"
    "       chronavelctl service start|stop|status|uninstall --port COMn\n"
    "       chronavelctl service stop|start|uninstall --all\n"
    "       chronavelctl service stop --all --running-to FILE\n"
    "       chronavelctl service start --running-from FILE\n"
    "The daemon as the Windows service chronavel-sync-COMn: started with Windows,\n"
    "restarted when it fails, its state file and log in %ProgramData%\\chronavel.\n"
    "install takes the options of 'chronavelctl daemon' (--period, --http ADDR:PORT,\n"
    "--on-alarm PROGRAM ...); --supervise and a state file are added when not given.\n"
    "--running-to lists the services that were running, a line each, and\n"
    "--running-from starts those (an upgrade leaves stopped ones stopped).\n"
    "status exits 0 running, 3 stopped, 4 not installed; the others 0 done, 1 failed.\n";

constexpr int kStatusStopped = 3;
constexpr int kStatusNotInstalled = 4;

int Usage(const std::string& why)
{
    if (!why.empty())
        Say("chronavelctl service: " + why);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// The manager's answer, as the tool says it.
int Failed(const std::string& error)
{
    Say("chronavelctl service: " + error);
    return kExitNoAnswer;
}

const char* StateText(platform::ServiceState state)
{
    switch (state) {
    case platform::ServiceState::kNotInstalled:
        return "not installed";
    case platform::ServiceState::kStopped:
        return "stopped";
    case platform::ServiceState::kStarting:
        return "starting";
    case platform::ServiceState::kStopping:
        return "stopping";
    case platform::ServiceState::kRunning:
        return "running";
    case platform::ServiceState::kOther:
        break;
    }
    return "paused";
}

int Install(const std::string& port, const std::string& daemon_port,
            const std::vector<std::string>& options, const DaemonEntry& daemon)
{
    std::string dir_error;
    const std::string data_dir = platform::ServiceDataDir(&dir_error);
    if (data_dir.empty())
        return Failed("the folder %ProgramData%\\chronavel for the state and the log: " +
                      dir_error);
    std::error_code ec;
    const std::string cwd = platform::Utf8FromPath(std::filesystem::current_path(ec));
    std::string why;
    const auto absolute = ServicePaths(
        options, cwd,
        [](const std::string& path) {
            std::error_code e;
            return std::filesystem::exists(platform::PathFromUtf8(path), e);
        },
        &why);
    if (!absolute)
        return Usage(why);
    std::vector<std::string> args = ServiceDaemonArguments(port, *absolute, data_dir);
    args[1] = daemon_port; // an adapter's stable name as given: it finds the adapter's COM port
    // The daemon's own parser and loader judge the options and their files
    // now, not the service's first start, where a mistake would only reach
    // the log and the manager would restart the service for ever.
    if (const int rc = daemon(args, DaemonMode::kCheckOnly); rc != kExitOk) {
        Say("chronavelctl service: " + ServiceName(port) + " not installed");
        return rc;
    }
    const std::string exe = platform::ExecutablePath();
    if (exe.empty())
        return Failed("cannot find the path of chronavelctl itself");
    std::vector<std::string> command{exe, "service", "run"};
    command.insert(command.end(), args.begin(), args.end());
    platform::ServiceDefinition service;
    service.Name = ServiceName(port);
    service.DisplayName = ServiceDisplayName(port);
    service.Description = "Отправляет время компьютера часам на линии " + port +
                          " и следит за ними (chronavelctl daemon).";
    service.CommandLine = WindowsCommandLine(command);
    std::string error;
    if (!platform::InstallService(service, &error)) {
        Say("chronavelctl service: " + error +
            "; one service per port: remove it first with "
            "'chronavelctl service uninstall --port " +
            port + "'");
        return kExitNoAnswer;
    }
    std::printf("installed %s (\"%s\"), started with Windows\n", service.Name.c_str(),
                service.DisplayName.c_str());
    std::printf("  %s\n", service.CommandLine.c_str());
    std::printf("start it now with: chronavelctl service start --port %s\n", port.c_str());
    std::printf("log: %s\n", ServiceLogPath(data_dir, port).c_str());
    return kExitOk;
}

int Uninstall(const std::string& name)
{
    std::string error;
    if (!platform::UninstallService(name, kServiceWaitSeconds, &error))
        return Failed(error);
    std::printf("removed %s\n", name.c_str());
    return kExitOk;
}

int Start(const std::string& name)
{
    std::string error;
    if (!platform::StartInstalledService(name, kServiceWaitSeconds, &error))
        return Failed(error);
    std::printf("%s running\n", name.c_str());
    return kExitOk;
}

int Stop(const std::string& name)
{
    std::string error;
    if (!platform::StopInstalledService(name, kServiceWaitSeconds, &error))
        return Failed(error);
    std::printf("%s stopped\n", name.c_str());
    return kExitOk;
}

// Every service of ours (an installer's upgrade, its uninstall): each one
// tried, 1 when any failed.
int ForAll(int (*action)(const std::string& name))
{
    std::string error;
    const auto names = platform::ServicesNamed(kServicePrefix, &error);
    if (!error.empty())
        return Failed(error);
    int rc = kExitOk;
    for (const auto& name : names)
        if (action(name) != kExitOk)
            rc = kExitNoAnswer;
    return rc;
}

// An upgrade's stop: every service of ours stopped, and those that were
// running (or on their way) listed in `list` for StartListed after it.
int StopAllListing(const std::string& list)
{
    std::string error;
    const auto names = platform::ServicesNamed(kServicePrefix, &error);
    if (!error.empty())
        return Failed(error);
    std::string running;
    int rc = kExitOk;
    for (const auto& name : names) {
        const auto state = platform::QueryService(name, &error);
        if (!state) {
            Say("chronavelctl service: " + error);
            rc = kExitNoAnswer;
            continue;
        }
        if (*state == platform::ServiceState::kStopped)
            continue;
        running += name + "\n";
        if (Stop(name) != kExitOk)
            rc = kExitNoAnswer;
    }
    if (const std::string why = platform::WriteFileAtomically(list, running); !why.empty())
        return Failed(why);
    return rc;
}

int StartListed(const std::string& list)
{
    std::ifstream in(platform::PathFromUtf8(list));
    if (!in)
        return Failed(list + ": cannot be read");
    int rc = kExitOk;
    for (std::string name; std::getline(in, name);) {
        if (!name.empty() && name.back() == '\r')
            name.pop_back();
        // Only ours: the list is a file, and a file can be edited.
        if (name.rfind(kServicePrefix, 0) != 0 ||
            !ServicePort(name.substr(std::strlen(kServicePrefix)))) {
            if (!name.empty())
                Say("chronavelctl service: " + list + ": '" + name + "' is not a service of ours");
            continue;
        }
        if (Start(name) != kExitOk)
            rc = kExitNoAnswer;
    }
    return rc;
}

// The service's log takes what the daemon would print, kept open for the
// process's life; past 1 MiB it becomes .1 and a new one starts.
constexpr std::uintmax_t kServiceLogLimit = 1u << 20;

extern "C" void OnServiceStop()
{
    RequestStop(SIGTERM);
}

} // namespace

int RunDaemonAsService(const std::string& port, const std::function<int()>& daemon)
{
    const auto service_port = ServiceKey(port);
    const std::string name = ServiceName(service_port.value_or(port));
    const std::string data_dir = platform::ServiceDataDir();
    const auto rc = platform::RunAsService(
        name,
        [&] {
            if (!data_dir.empty())
                SendOutputToLog(ServiceLogPath(data_dir, service_port.value_or(port)),
                                kServiceLogLimit);
            const int result = daemon();
            // A stop asked for by the manager is the daemon's normal end.
            return StopSignal.load() == SIGTERM ? kExitOk : result;
        },
        &OnServiceStop);
    if (!rc) {
        Say("chronavelctl service run: this is how the service control manager starts the "
            "daemon, not a command to type. Install the service with: chronavelctl service "
            "install --port " +
            service_port.value_or("COMn") +
            " [daemon options]; or run the daemon here with: chronavelctl daemon --port " + port);
        return kExitUsage;
    }
    return *rc;
}

int RunServiceCommand(const std::vector<std::string>& args, const DaemonEntry& daemon)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h")
        return args.empty() ? Usage("which action?") : (std::fputs(kUsage, stdout), kExitOk);
    const std::string action = args[0];
    if (!platform::ServiceManagerAvailable()) {
        Say("chronavelctl service: Windows services exist only on Windows; here the daemon runs "
            "as the systemd unit chronavel-sync@PORT, e.g. 'systemctl enable --now "
            "chronavel-sync@ttyUSB0' (see README)");
        return kExitUsage;
    }
    if (action == "run") {
        std::vector<std::string> rest(args.begin() + 1, args.end());
        return daemon(rest, DaemonMode::kService);
    }
    if (args.size() == 4 && action == "stop" && args[1] == "--all" && args[2] == "--running-to")
        return StopAllListing(args[3]);
    if (args.size() == 3 && action == "start" && args[1] == "--running-from")
        return StartListed(args[2]);
    if (args.size() == 2 && args[1] == "--all") {
        if (action == "uninstall")
            return ForAll(&Uninstall);
        if (action == "stop")
            return ForAll(&Stop);
        if (action == "start")
            return ForAll(&Start);
    }

    // --port COMn (or --port=COMn) first; install's daemon options after it.
    std::string port_text;
    size_t next = 1;
    if (args.size() > 1 && args[1].rfind("--port=", 0) == 0) {
        port_text = args[1].substr(7);
        next = 2;
    } else if (args.size() > 2 && args[1] == "--port") {
        port_text = args[2];
        next = 3;
    } else {
        return Usage(action + ": --port COMn must come first");
    }
    const auto port = ServiceKey(port_text);
    if (!port)
        return Usage("'" + port_text +
                     "' cannot name a service: give a port such as COM7, or the adapter's "
                     "stable name as 'chronavelctl ports' shows it");
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
    if (action == "install")
        return Install(*port, ServicePort(port_text) ? *port : port_text, rest, daemon);
    if (!rest.empty())
        return Usage(action + " takes only --port, not '" + rest.front() + "'");
    const std::string name = ServiceName(*port);
    if (action == "uninstall")
        return Uninstall(name);
    if (action == "start")
        return Start(name);
    if (action == "stop")
        return Stop(name);
    if (action == "status") {
        std::string error;
        const auto state = platform::QueryService(name, &error);
        if (!state)
            return Failed(error);
        std::printf("%s: %s\n", name.c_str(), StateText(*state));
        if (*state == platform::ServiceState::kNotInstalled)
            return kStatusNotInstalled;
        return *state == platform::ServiceState::kRunning ? kExitOk : kStatusStopped;
    }
    return Usage("unknown action '" + action + "'");
}

} // namespace chronavel::ctl

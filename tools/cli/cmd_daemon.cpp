// chronavelctl daemon: one daemon per state file, the --settings file
// loaded, then the loop (tools/daemon/daemon_loop.h).
#include "platform/atomic_file.h"
#include "platform/file_lock.h"
#include "platform/utf8_path.h"
#include "tools/cli/commands.h"
#include "tools/cli/line_args.h"
#include "tools/daemon/daemon_loop.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/line/tracker.h"
#include "tools/service/service_args.h"
#include "tools/settings/config_file.h"
#include "tools/text/text.h"
#include "tools/web/http_status.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>

namespace chronavel::ctl {

int RunDaemon(const LineOptions& options, const DaemonOptions& daemon)
{
    // One daemon per state file: a second would overwrite the first's
    // state with its own, and both would think they keep the line.
    std::unique_ptr<platform::FileLock> state_lock;
    if (!daemon.StateFile.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(platform::PathFromUtf8(daemon.StateFile), ec)) {
            Say("state file: " + ValidUtf8(daemon.StateFile) +
                " is a symbolic link, which the daemon would replace with a plain file; give the "
                "path of the file itself");
            return kExitUsage;
        }
        std::string error;
        bool held = false;
        state_lock = platform::FileLock::Take(daemon.StateFile, &error, &held);
        if (!state_lock) {
            // Only a lock another process holds means a second daemon; a
            // folder the daemon may not write (the service unit lets it
            // write only its state folder) is said as such.
            Say("state file: " + ValidUtf8(error) +
                (held ? "; another chronavelctl daemon keeps that state, not starting a second"
                      : "; the daemon needs a folder it may write for the state file and its "
                        "lock (under the service unit: /var/lib/chronavel)"));
            return kExitUsage;
        }
        // Holding the lock, no one else writes that state: a temporary
        // beside it is what a killed daemon left.
        for (const std::string& left :
             platform::RemoveStaleTemporaries(daemon.StateFile, std::chrono::seconds(0)))
            Say("state file: removed " + ValidUtf8(left) + ", left by a write that was cut off");
    }
    std::optional<ConfigFile> settings;
    if (!daemon.SettingsFile.empty()) {
        settings.emplace();
        if (const std::string why = LoadConfigFile(daemon.SettingsFile, *settings); !why.empty()) {
            Say("chronavelctl: --settings: " + ValidUtf8(why));
            return kExitUsage;
        }
    }
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    InstallTracker(options.Addr);
    DaemonLoop loop(options, daemon, line, std::move(settings));
    return loop.Run();
}

Verb AddDaemon(CLI::App& app)
{
    struct Args {
        LineArgs line;
        std::string period = "hour";
        std::string period_seconds;
        std::string retry_seconds = "10";
        std::string count;
        bool show_display = false;
        bool supervise = false;
        bool require_synced = false;
        std::string state_file;
        std::vector<std::string> on_alarm;
        bool on_alarm_given = false;
        std::string http;
        std::string settings;
        std::string web_config;
        std::string alarm_spacing = "60";
    };
    auto a = std::make_shared<Args>();
    auto* daemon = app.add_subcommand("daemon", "Keep the clocks in time until stopped");
    AddPort(*daemon, a->line);
    AddAddr(*daemon, a->line, false, "all");
    daemon->add_option("--period", a->period, "minute, hour, 3h or day")->capture_default_str();
    daemon->add_flag("--show-display", a->show_display,
                     "Also print the master's emulated display as status blocks arrive");
    daemon->add_flag("--supervise", a->supervise,
                     "Watch the clocks on the line: a census after the first sync, then each "
                     "clock polled every 40-60 s between the syncs; log and alarm on clocks "
                     "that stop answering and come back");
    daemon->add_flag("--require-synced", a->require_synced,
                     "Skip the syncs while the PC's own clock is not synchronised");
    daemon
        ->add_option("--state-file", a->state_file,
                     "With --supervise: keep the clocks' state in this JSON file")
        ->needs("--supervise");
    daemon
        ->add_option("--on-alarm", a->on_alarm,
                     "With --supervise: run PROGRAM [ARGS...] (no shell) for every alarm raised "
                     "or cleared, with CHRONAVEL_ALARM, CHRONAVEL_STATE, CHRONAVEL_PORT, "
                     "CHRONAVEL_ADDR, CHRONAVEL_TEXT and CHRONAVEL_TIME set; give it last: "
                     "everything after it is the program's")
        ->expected(1, -1);
    daemon
        ->add_option("--settings", a->settings,
                     "With --supervise: compare the settings of the clocks in this file (of "
                     "config export) with the clocks between syncs; a clock that differs raises "
                     "the alarm settings_drift. Nothing is written")
        ->needs("--supervise");
    daemon
        ->add_option("--http", a->http,
                     "With --supervise: serve /metrics (Prometheus), /status.json and a status "
                     "page on ADDR:PORT, e.g. 127.0.0.1:8470")
        ->needs("--supervise");
    daemon
        ->add_option("--web-config", a->web_config,
                     "With --http: TLS and passwords for the web face from this YAML file "
                     "(tls_server_config, basic_auth_users, http_server_config), read again "
                     "when it changes and on SIGHUP")
        ->needs("--http");
    // For tests: a shorter period, a shorter reconnect interval, a bounded run.
    daemon->add_option("--period-seconds", a->period_seconds)->group("");
    daemon->add_option("--retry-seconds", a->retry_seconds)->group("");
    daemon->add_option("--count", a->count)->group("");
    daemon->add_option("--on-alarm-spacing-seconds", a->alarm_spacing)->group("");

    // Everything after --on-alarm belongs to the program, its own options
    // included, so the parser never sees it.
    const auto take_words = [a](int argc, char** argv) {
        for (int i = 2; i < argc; ++i) {
            if (std::string(argv[i]) == "--on-alarm") {
                a->on_alarm.assign(argv + i + 1, argv + argc);
                a->on_alarm_given = true;
                return i;
            }
        }
        return argc;
    };
    const auto check = [a] {
        if (a->on_alarm_given && a->on_alarm.empty())
            throw CLI::ValidationError("--on-alarm", "no program given");
        if (a->on_alarm_given && !a->supervise)
            throw CLI::ValidationError("--on-alarm", "needs --supervise");
    };
    const auto run = [a](DaemonMode mode) {
        DaemonOptions d;
        d.PeriodSeconds = ParsePeriod(a->period);
        if (!a->period_seconds.empty())
            d.PeriodSeconds = PositiveCount(a->period_seconds, "--period-seconds");
        d.RetrySeconds = PositiveCount(a->retry_seconds, "--retry-seconds");
        if (!a->count.empty())
            d.Count = PositiveCount(a->count, "--count");
        d.ShowDisplay = a->show_display;
        d.Supervise = a->supervise;
        d.StateFile = a->state_file;
        d.OnAlarm = a->on_alarm;
        d.SettingsFile = a->settings;
        d.AlarmSpacingSeconds = PositiveCount(a->alarm_spacing, "--on-alarm-spacing-seconds");
        d.RequireSynced = a->require_synced;
        if (!a->http.empty()) {
            d.Http = ParseHttpAddress(a->http);
            if (!d.Http)
                throw UsageError("--http: '" + a->http + "' is not ADDR:PORT");
        }
#ifdef _WIN32
        if (!a->web_config.empty())
            throw UsageError("--web-config: this build of chronavelctl has neither TLS nor "
                             "passwords for its web face");
#endif
        d.WebConfigFile = a->web_config;
        const LineOptions line = MakeLine(a->line);
        if (mode == DaemonMode::kCheckOnly) {
            const auto problems =
                ServiceNeedsProblems(d.SettingsFile, d.WebConfigFile, d.StateFile);
            for (const std::string& problem : problems)
                Say(problem);
            return problems.empty() ? kExitOk : kExitUsage;
        }
        if (mode == DaemonMode::kService)
            return RunDaemonAsService(a->line.port, [&] { return RunDaemon(line, d); });
        return RunDaemon(line, d);
    };
    return {.Sub = daemon,
            .Run = run,
            .TakeWords = take_words,
            .Check = check,
            // Its normal stop.
            .NormalStop = SIGTERM};
}

} // namespace chronavel::ctl

// chronavelctl: the clocks kept in time, read, written and watched from a
// shell or a service, over the same core as the windows.
#include "link/frame_trace.h"
#include "platform/console.h"
#include "tools/args.h"
#include "tools/commands.h"
#include "tools/line.h"
#include "tools/service_args.h"
#include "tools/source_state.h"
#include "tools/tool_host.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace chronavel::ctl;

struct LineArgs {
    std::string port;
    std::string speed = "9600";
    std::string addr;
};

void AddPort(CLI::App& sub, LineArgs& a)
{
    sub.add_option("--port", a.port, "Serial port: a name from 'chronavelctl ports' or a path")
        ->required();
    sub.add_option("--speed", a.speed, "Line speed in bit/s")->capture_default_str();
}

void AddAddr(CLI::App& sub, LineArgs& a, bool required, const std::string& fallback)
{
    a.addr = fallback;
    auto* opt =
        sub.add_option("--addr", a.addr, "Clock address 0..255 (decimal or 0x-hex), or all");
    if (required)
        opt->required();
    else
        opt->capture_default_str();
}

LineOptions MakeLine(const LineArgs& a)
{
    LineOptions line;
    line.Port = a.port;
    const auto speed = ParseNumber(a.speed, 4000000);
    if (!speed || *speed == 0)
        throw UsageError("invalid line speed '" + a.speed +
                         "' (--speed): expected a number of bit/s");
    line.Speed = static_cast<int>(*speed);
    if (!a.addr.empty())
        line.Addr = ParseAddress(a.addr);
    return line;
}

int PositiveCount(const std::string& text, const std::string& what)
{
    const auto v = ParseNumber(text, 1000000000);
    if (!v || *v == 0)
        throw UsageError("invalid count '" + text + "' (" + what + "): expected a positive number");
    return static_cast<int>(*v);
}

// The whole tool but `service`; mode says what the daemon subcommand does
// (the service's install checks its options with it, and runs it).
int Main(int argc, char** argv, DaemonMode mode)
{
    CLI::App app{"Keeps Chronavel clocks in time and reads, writes and watches them."};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Help for every subcommand");
    // Before or after the subcommand's name.
    app.fallthrough();
    bool trace = false;
    app.add_flag("--trace", trace,
                 "Print every frame written and every reply read on standard error");
    app.set_version_flag("--version", std::string("chronavelctl ") + CHRONAVEL_VERSION,
                         "Print the version and exit");

    bool ports_json = false;
    auto* ports = app.add_subcommand("ports", "List the serial ports");
    ports->add_flag("--json", ports_json, "JSON array of {name, text}");

    LineArgs sync_args;
    auto* sync = app.add_subcommand("sync", "Send the local time to the clock(s) once");
    AddPort(*sync, sync_args);
    AddAddr(*sync, sync_args, false, "all");

    LineArgs check_args;
    auto* check = app.add_subcommand("check", "Link check: does the clock answer?");
    AddPort(*check, check_args);
    AddAddr(*check, check_args, true, "");

    LineArgs read_args;
    std::vector<std::string> read_regs;
    auto* read = app.add_subcommand("read", "Read registers (queued reads)");
    AddPort(*read, read_args);
    AddAddr(*read, read_args, true, "");
    read->add_option("REG", read_regs, "Register numbers, decimal or 0x-hex")->required();

    LineArgs read_all_args;
    bool read_all_json = false;
    auto* read_all = app.add_subcommand("read-all", "Read the clock's settings and decode them");
    AddPort(*read_all, read_all_args);
    AddAddr(*read_all, read_all_args, true, "");
    read_all->add_flag("--json", read_all_json, "One JSON object keyed by setting name");

    LineArgs write_args;
    std::vector<std::string> write_items;
    auto* write = app.add_subcommand(
        "write", "Write registers that differ from the clock's, 0x4C last, and read them back");
    AddPort(*write, write_args);
    AddAddr(*write, write_args, true, "");
    write->add_option("REG=VALUE", write_items, "Assignments, decimal or 0x-hex")->required();

    LineArgs restore_args;
    std::string restore_file;
    auto* restore =
        app.add_subcommand("restore", "Write a clock's saved settings into it (a replaced clock)");
    AddPort(*restore, restore_args);
    AddAddr(*restore, restore_args, true, "");
    restore->add_option("FILE", restore_file, "read-all --json output, or REG=VALUE lines")
        ->required();

    // Settings kept in files. Its exit codes are for deployment tools: 0
    // nothing to do, 2 changed (or, for diff, different), 1 anything failed,
    // bad arguments included, so that 2 never means an error here.
    auto* config =
        app.add_subcommand("config", "Clock settings kept in a file: export, diff, apply");
    config->require_subcommand(1);
    LineArgs export_args;
    std::string export_out;
    auto* config_export = config->add_subcommand(
        "export", "Read the settings of one clock, or of every clock the census finds, into JSON");
    AddPort(*config_export, export_args);
    AddAddr(*config_export, export_args, true, "");
    config_export->add_option("-o,--output", export_out, "Write to this file instead of stdout");
    LineArgs diff_args;
    std::string diff_file;
    auto* config_diff = config->add_subcommand(
        "diff", "Compare the clocks with a settings file: exit 0 all match, 2 differs, 1 failed");
    AddPort(*config_diff, diff_args);
    config_diff->add_option("FILE", diff_file, "A file of config export")->required();
    LineArgs apply_args;
    std::string apply_file;
    ApplyOptions apply_options;
    auto* config_apply = config->add_subcommand(
        "apply", "Write what differs from a settings file: exit 0 nothing to change, 2 changed, "
                 "1 failed");
    AddPort(*config_apply, apply_args);
    config_apply->add_option("FILE", apply_file, "A file of config export")->required();
    config_apply->add_flag("--check", apply_options.Check,
                           "Write nothing; answer as if the writes had been made");
    config_apply->add_flag("--json", apply_options.Json,
                           "Print {\"changed\": …, \"clocks\": {ADDR: {\"changed\": [...], "
                           "\"failed\": [...]}}}");
    config_apply->add_flag("--move", apply_options.Move,
                           "Move a clock whose ClockAddr in the file differs from its key");

    LineArgs scan_args;
    ScanOptions scan_options;
    auto* scan = app.add_subcommand("scan", "Search addresses 1..254 for the master clock");
    AddPort(*scan, scan_args);
    auto* scan_all = scan->add_flag("--all", scan_options.All,
                                    "Census: every clock that answers, and which is master");
    scan->add_flag("--json", scan_options.Json, "With --all: a JSON array of {addr, master}")
        ->needs(scan_all);

    LineArgs watch_args;
    std::string watch_count;
    bool watch_json = false;
    auto* watch = app.add_subcommand("watch", "Show the master's emulated display");
    AddPort(*watch, watch_args);
    watch->add_option("--count", watch_count, "Stop after N status blocks");
    watch->add_flag("--json", watch_json, "One JSON object per status block");

    std::string ask_state;
    std::vector<std::string> ask_words;
    auto* ask = app.add_subcommand(
        "ask", "Ask a running supervising daemon for a census now, or to forget a clock");
    ask->add_option("--state-file", ask_state, "the state file the daemon keeps")->required();
    ask->add_option("request", ask_words, "census | forget ADDR")->required()->expected(1, 2);

    LineArgs daemon_args;
    std::string period = "hour";
    std::string period_seconds;
    std::string retry_seconds = "10";
    std::string daemon_count;
    bool show_display = false;
    bool supervise = false;
    bool require_synced = false;
    std::string state_file;
    std::vector<std::string> on_alarm;
    std::string http;
    auto* daemon = app.add_subcommand("daemon", "Keep the clocks in time until stopped");
    AddPort(*daemon, daemon_args);
    AddAddr(*daemon, daemon_args, false, "all");
    daemon->add_option("--period", period, "minute, hour, 3h or day")->capture_default_str();
    daemon->add_flag("--show-display", show_display,
                     "Also print the master's emulated display as status blocks arrive");
    daemon->add_flag("--supervise", supervise,
                     "Watch the clocks on the line: a census after the first sync, then each "
                     "clock polled every 40-60 s between the syncs; log and alarm on clocks "
                     "that stop answering and come back");
    daemon->add_flag("--require-synced", require_synced,
                     "Skip the syncs while the PC's own clock is not synchronised");
    daemon
        ->add_option("--state-file", state_file,
                     "With --supervise: keep the clocks' state in this JSON file")
        ->needs("--supervise");
    daemon
        ->add_option("--on-alarm", on_alarm,
                     "With --supervise: run PROGRAM [ARGS...] (no shell) for every alarm raised "
                     "or cleared, with CHRONAVEL_ALARM, CHRONAVEL_STATE, CHRONAVEL_PORT, "
                     "CHRONAVEL_ADDR, CHRONAVEL_TEXT and CHRONAVEL_TIME set; give it last: "
                     "everything after it is the program's")
        ->expected(1, -1);
    std::string daemon_settings;
    daemon
        ->add_option("--settings", daemon_settings,
                     "With --supervise: compare the settings of the clocks in this file (of "
                     "config export) with the clocks between syncs; a clock that differs raises "
                     "the alarm settings_drift. Nothing is written")
        ->needs("--supervise");
    daemon
        ->add_option("--http", http,
                     "With --supervise: serve /metrics (Prometheus), /status.json and a status "
                     "page on ADDR:PORT, e.g. 127.0.0.1:8470")
        ->needs("--supervise");
    std::string web_config;
    daemon
        ->add_option("--web-config", web_config,
                     "With --http: TLS and passwords for the web face from this YAML file "
                     "(tls_server_config, basic_auth_users, http_server_config), read again "
                     "when it changes and on SIGHUP")
        ->needs("--http");
    // For tests: a shorter period, a shorter reconnect interval, a bounded run.
    daemon->add_option("--period-seconds", period_seconds)->group("");
    daemon->add_option("--retry-seconds", retry_seconds)->group("");
    daemon->add_option("--count", daemon_count)->group("");
    std::string alarm_spacing = "60";
    daemon->add_option("--on-alarm-spacing-seconds", alarm_spacing)->group("");

    // Listed for --help; main() takes it before this parser, since install
    // passes everything after --port on to the daemon's options.
    auto* hash_password = app.add_subcommand(
        "hash-password", "Print a bcrypt hash of a password (typed twice, or the first line of "
                         "standard input) for basic_auth_users in --web-config");

    app.add_subcommand("service", "Windows: the daemon as a service, one per port (install, "
                                  "start, stop, status, uninstall; 'service --help')");

    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const auto* sub : app.get_subcommands({}))
            known = known || sub->get_name() == argv[1];
        if (!known) {
            std::fprintf(stderr, "chronavelctl: unknown subcommand '%s'\n", argv[1]);
            std::fprintf(stderr, "Run with --help for more information.\n");
            return kExitUsage;
        }
    }

    // Everything after the daemon's --on-alarm belongs to the program, its
    // own options included, so the parser never sees it.
    bool on_alarm_given = false;
    if (argc > 1 && std::string(argv[1]) == "daemon") {
        for (int i = 2; i < argc; ++i) {
            if (std::string(argv[i]) == "--on-alarm") {
                on_alarm.assign(argv + i + 1, argv + argc);
                on_alarm_given = true;
                argc = i;
                break;
            }
        }
    }

    try {
        app.parse(argc, argv);
        if (on_alarm_given && on_alarm.empty())
            throw CLI::ValidationError("--on-alarm", "no program given");
        if (on_alarm_given && !supervise)
            throw CLI::ValidationError("--on-alarm", "needs --supervise");
    } catch (const CLI::CallForHelp& e) {
        // Help is not a set of options a service could be installed with.
        const int rc = app.exit(e);
        return mode == DaemonMode::kCheckOnly ? kExitUsage : rc;
    } catch (const CLI::CallForAllHelp& e) {
        const int rc = app.exit(e);
        return mode == DaemonMode::kCheckOnly ? kExitUsage : rc;
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "chronavelctl: %s\n", e.what());
        std::fprintf(stderr, "Run with --help for more information.\n");
        return *config ? kExitNoAnswer : kExitUsage;
    }

    // One line per frame, written whole so lines of two threads never mix.
    if (trace)
        chronavel::AddFrameObserver(
            [](const chronavel::FrameEvent& e) { Say(chronavel::FormatFrameLine(e)); });

    InstallClockSyncOverride();
    // A deployment tool's time-out (SIGTERM) or a Ctrl+C is a failure of
    // config like any other: from here on, not at the first transaction.
    if (*config)
        InstallSignalHandlers();

    auto dispatch = [&]() -> int {
        if (*ports)
            return RunPorts(ports_json);
        if (*sync)
            return RunSync(MakeLine(sync_args));
        if (*check) {
            const LineOptions line = MakeLine(check_args);
            if (line.Addr == 0xFF)
                throw UsageError("--addr all: the link check needs the address of one clock");
            return RunCheck(line);
        }
        if (*read) {
            const LineOptions line = MakeLine(read_args);
            std::vector<uint8_t> regs;
            for (const auto& r : read_regs)
                regs.push_back(ParseRegister(r));
            return RunRead(line, regs);
        }
        if (*read_all)
            return RunReadAll(MakeLine(read_all_args), read_all_json);
        if (*write) {
            const LineOptions line = MakeLine(write_args);
            // A write is confirmed by the answer of the clock addressed; no
            // answer ever carries 0xFF, so the write would be resent forever.
            if (line.Addr == 0xFF)
                throw UsageError("--addr all: a register write needs the address of one clock");
            std::vector<RegisterValue> writes;
            for (const auto& w : write_items)
                writes.push_back(ParseAssignment(w));
            return RunWrite(line, writes);
        }
        if (*config) {
            int rc = kExitNoAnswer;
            if (*config_export)
                rc = RunConfigExport(MakeLine(export_args), export_out);
            else if (*config_diff)
                rc = RunConfigDiff(MakeLine(diff_args), diff_file);
            else if (*config_apply)
                rc = RunConfigApply(MakeLine(apply_args), apply_file, apply_options);
            // Every failure is 1 here (a port that will not open too); its
            // message has said which.
            return rc == kExitOk || rc == kExitDiffers ? rc : kExitNoAnswer;
        }
        if (*restore) {
            const LineOptions line = MakeLine(restore_args);
            if (line.Addr == 0xFF)
                throw UsageError("--addr all: a restore needs the address of one clock");
            return RunRestore(line, restore_file);
        }
        if (*scan)
            return RunScan(MakeLine(scan_args), scan_options);
        if (*watch) {
            WatchOptions w;
            w.Json = watch_json;
            if (!watch_count.empty())
                w.Count = PositiveCount(watch_count, "--count");
            return RunWatch(MakeLine(watch_args), w);
        }
        if (*ask)
            return RunAsk(ask_state, ask_words);
        if (*hash_password)
            return RunHashPassword();
        if (*daemon) {
            DaemonOptions d;
            d.PeriodSeconds = ParsePeriod(period);
            if (!period_seconds.empty())
                d.PeriodSeconds = PositiveCount(period_seconds, "--period-seconds");
            d.RetrySeconds = PositiveCount(retry_seconds, "--retry-seconds");
            if (!daemon_count.empty())
                d.Count = PositiveCount(daemon_count, "--count");
            d.ShowDisplay = show_display;
            d.Supervise = supervise;
            d.StateFile = state_file;
            d.OnAlarm = on_alarm;
            d.SettingsFile = daemon_settings;
            d.AlarmSpacingSeconds = PositiveCount(alarm_spacing, "--on-alarm-spacing-seconds");
            d.RequireSynced = require_synced;
            if (!http.empty()) {
                d.Http = ParseHttpAddress(http);
                if (!d.Http)
                    throw UsageError("--http: '" + http + "' is not ADDR:PORT");
            }
#ifdef _WIN32
            if (!web_config.empty())
                throw UsageError("--web-config: this build of chronavelctl has no web face, so "
                                 "neither TLS nor passwords for it");
#endif
            d.WebConfigFile = web_config;
            const LineOptions line = MakeLine(daemon_args);
            if (mode == DaemonMode::kCheckOnly) {
                const auto problems =
                    ServiceNeedsProblems(d.SettingsFile, d.WebConfigFile, d.StateFile);
                for (const std::string& problem : problems)
                    Say(problem);
                return problems.empty() ? kExitOk : kExitUsage;
            }
            if (mode == DaemonMode::kService)
                return RunDaemonAsService(daemon_args.port, [&] { return RunDaemon(line, d); });
            return RunDaemon(line, d);
        }
        return kExitUsage;
    };

    try {
        const int rc = dispatch();
        // Stopped by a signal: the shell's convention, whatever the
        // subcommand made of the interruption; the daemon's normal stop is
        // SIGTERM. For config a stop is a failure (1), never "nothing to
        // do" nor "changed".
        if (const int sig = StopSignal.load(); sig != 0) {
            if (*config) {
                Say("chronavelctl: config stopped by signal " + std::to_string(sig) +
                    " before it finished");
                return kExitNoAnswer;
            }
            return (*daemon && sig == SIGTERM) ? kExitOk : 128 + sig;
        }
        return rc;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "chronavelctl: %s\n", e.what());
        return *config ? kExitNoAnswer : kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chronavelctl: unexpected error: %s\n", e.what());
        return *config ? kExitNoAnswer : kExitInternal;
    } catch (...) {
        std::fprintf(stderr, "chronavelctl: unexpected error\n");
        return *config ? kExitNoAnswer : kExitInternal;
    }
}

} // namespace

int main(int argc, char** argv)
{
    chronavel::platform::UseUtf8Console();
    // Paths and texts are UTF-8 from here on, on Windows too.
    std::vector<std::string> utf8 = chronavel::platform::Utf8Arguments(argc, argv);
    std::vector<char*> utf8_ptrs;
    for (auto& a : utf8)
        utf8_ptrs.push_back(a.data());
    utf8_ptrs.push_back(nullptr);
    argv = utf8_ptrs.data();
    argc = static_cast<int>(utf8.size());
    if (argc > 1 && std::string(argv[1]) == "service") {
        const std::vector<std::string> args(argv + 2, argv + argc);
        return RunServiceCommand(
            args, [&](const std::vector<std::string>& daemon_args, DaemonMode mode) {
                std::vector<std::string> words{argv[0], "daemon"};
                words.insert(words.end(), daemon_args.begin(), daemon_args.end());
                std::vector<char*> word_ptrs;
                for (auto& w : words)
                    word_ptrs.push_back(w.data());
                word_ptrs.push_back(nullptr);
                return Main(static_cast<int>(words.size()), word_ptrs.data(), mode);
            });
    }
    return Main(argc, argv, DaemonMode::kNormal);
}

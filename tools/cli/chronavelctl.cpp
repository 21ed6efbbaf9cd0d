// chronavelctl: the clocks kept in time, read, written and watched from a
// shell or a service, over the same core as the windows.
#include "link/frame_trace.h"
#include "platform/console.h"
#include "tools/cli/commands.h"
#include "tools/cli/verb.h"
#include "tools/line/line.h"
#include "tools/line/source_state.h"
#include "tools/line/tool_host.h"
#include "tools/text/args.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace chronavel::ctl;

// The subcommands, in the order --help lists them.
constexpr Verb (*kVerbs[])(CLI::App&) = {
    AddPorts,  AddSync, AddCheck, AddRead, AddReadAll, AddWrite,        AddRestore,
    AddConfig, AddScan, AddWatch, AddAsk,  AddDaemon,  AddHashPassword, AddService,
};

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
    std::vector<Verb> verbs;
    for (const auto add : kVerbs)
        verbs.push_back(add(app));

    if (argc > 1 && argv[1][0] != '-') {
        const Verb* named = nullptr;
        for (const Verb& v : verbs)
            named = v.Sub->get_name() == argv[1] ? &v : named;
        if (!named) {
            std::fprintf(stderr, "chronavelctl: unknown subcommand '%s'\n", argv[1]);
            std::fprintf(stderr, "Run with --help for more information.\n");
            return kExitUsage;
        }
        if (named->TakeWords)
            argc = named->TakeWords(argc, argv);
    }
    const auto chosen = [&]() -> const Verb* {
        for (const Verb& v : verbs)
            if (*v.Sub)
                return &v;
        return nullptr;
    };

    try {
        app.parse(argc, argv);
        if (const Verb* v = chosen(); v && v->Check)
            v->Check();
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
        return ExitCode(chosen(), Outcome::kUsage, 0);
    }
    const Verb& verb = *chosen();

    // One line per frame, written whole so lines of two threads never mix.
    if (trace)
        chronavel::AddFrameObserver(
            [](const chronavel::FrameEvent& e) { Say(chronavel::FormatFrameLine(e)); });

    InstallClockSyncOverride();
    if (verb.StopsFromStart)
        InstallSignalHandlers();

    try {
        const int rc = verb.Run(mode);
        if (const int sig = StopSignal.load(); sig != 0) {
            if (verb.EveryFailure != 0)
                Say("chronavelctl: " + verb.Sub->get_name() + " stopped by signal " +
                    std::to_string(sig) + " before it finished");
            return ExitCode(&verb, Outcome::kStopped, sig);
        }
        return ExitCode(&verb, Outcome::kRan, rc);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "chronavelctl: %s\n", e.what());
        return ExitCode(&verb, Outcome::kUsage, 0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chronavelctl: unexpected error: %s\n", e.what());
        return ExitCode(&verb, Outcome::kInternal, 0);
    } catch (...) {
        std::fprintf(stderr, "chronavelctl: unexpected error\n");
        return ExitCode(&verb, Outcome::kInternal, 0);
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
    // Everything after `service` is the service's, its daemon options too.
    if (argc > 1 && std::string(argv[1]) == kServiceVerb) {
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

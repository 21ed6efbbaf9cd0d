// chronavelctl config export|diff|apply: a building's clock settings kept in
// a file, compared with the clocks, and put back where they differ, with
// exit codes a deployment tool can act on (0 nothing to do, 2 changed or
// different, 1 failed).
#include "app/master_search.h"
#include "config/registers.h"
#include "platform/atomic_file.h"
#include "platform/utf8_path.h"
#include "port/sync.h"
#include "tools/cli/commands.h"
#include "tools/cli/line_args.h"
#include "tools/line/apply.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/settings/config_file.h"
#include "tools/text/text.h"
#include "tools/web/http_status.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

namespace chronavel::ctl {

namespace {

constexpr int kReadLimit = 3;

// A clock that does not answer its first register is not asked the rest:
// seventy unanswered reads would take minutes.
bool Answers(const Line& line, uint8_t addr, const std::vector<uint8_t>& regs)
{
    return !regs.empty() && line.ReadRegisters(addr, {regs.front()}, kReadLimit).Has(regs.front());
}

// The clock's registers; none when it is silent.
RegisterValues ReadClock(const Line& line, uint8_t addr, const std::vector<uint8_t>& regs)
{
    return Answers(line, addr, regs) ? line.ReadRegisters(addr, regs, kReadLimit)
                                     : RegisterValues{};
}

// The file, or false with the reason said.
bool LoadOrSay(const std::string& path, ConfigFile& file)
{
    const std::string why = LoadConfigFile(path, file);
    if (!why.empty())
        Say("chronavelctl: " + why);
    return why.empty();
}

// The building's file loaded, then the line opened, and body run with both;
// a file that cannot be loaded or a port that cannot be opened ends it first.
int WithFileAndLine(const LineOptions& options, const std::string& path,
                    const std::function<int(const ConfigFile&, Line&)>& body)
{
    ConfigFile file;
    if (!LoadOrSay(path, file))
        return kExitNoAnswer; // a failure, never "differs"
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    return body(file, line);
}

} // namespace

int RunConfigExport(const LineOptions& options, const std::string& out_path)
{
    if (!out_path.empty()) {
        // Said before the clocks are read, not after.
        std::error_code ec;
        if (std::filesystem::is_symlink(platform::PathFromUtf8(out_path), ec)) {
            Say("chronavelctl: " + ValidUtf8(out_path) +
                ": a symbolic link, which would be replaced with a plain file; give the path of "
                "the file itself");
            return kExitNoAnswer;
        }
        // A minute old at least: not the temporary of a run writing now.
        for (const std::string& left :
             platform::RemoveStaleTemporaries(out_path, std::chrono::seconds(60)))
            Say("removed " + ValidUtf8(left) + ", left by a write that was cut off");
    }
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = line.Open(); rc != kExitOk)
        return rc;
    std::vector<uint8_t> addrs;
    if (options.Addr == 0xFF) {
        std::atomic<bool> stop{false};
        const auto found = TakeCensus(
            options.Speed,
            [&](uint8_t) {
                if (StopRequested.load() || line.Lost())
                    stop.store(true);
            },
            &stop);
        if (line.Lost())
            return PortVanished(options);
        if (StopRequested.load())
            return kExitNoAnswer;
        for (const CensusEntry& c : found)
            addrs.push_back(c.Addr);
        if (addrs.empty()) {
            Say("no clock answered the census");
            return kExitNoAnswer;
        }
    } else {
        addrs.push_back(options.Addr);
    }
    const auto& batch = ReadBatchRegisters();
    const std::vector<uint8_t> regs(batch.begin(), batch.end());
    ConfigFile file;
    file.Port = ValidUtf8(options.Port);
    file.ReadAt = std::time(nullptr);
    bool failed = false;
    for (uint8_t addr : addrs) {
        if (StopRequested.load())
            return kExitNoAnswer;
        const RegisterValues values = ReadClock(line, addr, regs);
        if (line.Lost())
            return PortVanished(options);
        std::vector<uint8_t> unanswered;
        for (uint8_t r : regs)
            if (!values.Has(r))
                unanswered.push_back(r);
        if (unanswered.size() == regs.size()) {
            Say("clock " + AddrText(addr) + ": no answer");
            failed = true;
            continue;
        }
        if (!unanswered.empty())
            Say("clock " + AddrText(addr) + ": no answer to " + RegisterList(unanswered) +
                "; left out of the file");
        file.Clocks[addr] = values;
    }
    if (file.Clocks.empty())
        return kExitNoAnswer;
    const std::string text = ConfigJson(file).dump(2) + "\n";
    if (out_path.empty()) {
        Print(text.substr(0, text.size() - 1));
    } else if (const std::string error = platform::WriteFileAtomically(out_path, text);
               !error.empty()) {
        Say("chronavelctl: " + error);
        return kExitInternal;
    } else {
        Say("settings of " + std::to_string(file.Clocks.size()) + " clock" +
            (file.Clocks.size() == 1 ? "" : "s") + " written to " + out_path);
    }
    return failed ? kExitNoAnswer : kExitOk;
}

int RunConfigDiff(const LineOptions& options, const std::string& path)
{
    return WithFileAndLine(options, path, [&](const ConfigFile& file, Line& line) {
        bool failed = false, differs = false;
        for (const auto& [addr, wanted] : file.Clocks) {
            if (StopRequested.load())
                return kExitNoAnswer;
            const std::vector<uint8_t> regs = wanted.Known();
            const RegisterValues now = ReadClock(line, addr, regs);
            if (line.Lost())
                return PortVanished(options);
            if (now.Known().empty()) {
                Say("clock " + AddrText(addr) + ": no answer");
                failed = true;
                continue;
            }
            for (const SettingDifference& d : CompareSettings(now, wanted)) {
                if (d.Clock.empty()) {
                    Say("clock " + AddrText(addr) + " " + d.Name + ": no answer, file " + d.File);
                    failed = true;
                } else {
                    Print(AddrText(addr) + " " + d.Name + ": clock " + d.Clock + ", file " +
                          d.File);
                    differs = true;
                }
            }
        }
        return failed ? kExitNoAnswer : differs ? kExitDiffers : kExitOk;
    });
}

int RunConfigApply(const LineOptions& options, const std::string& path, const ApplyOptions& apply)
{
    return WithFileAndLine(options, path, [&](const ConfigFile& file, Line& line) {
        bool failed = false, changed = false;
        nlohmann::json clocks = nlohmann::json::object();
        // Stopped part way (a signal, the port gone), what was written is
        // still reported: the --json answer lists it too.
        const int rc = [&] {
            for (auto [addr, wanted] : file.Clocks) {
                if (StopRequested.load()) {
                    Say("chronavelctl: stopped before clock " + AddrText(addr));
                    return kExitNoAnswer;
                }
                // The file's address is the one the clock was read at: a
                // clock is moved only when asked to.
                if (!apply.Move || (wanted.Has(kRegClockAddr) && wanted.At(kRegClockAddr) == addr))
                    wanted.Forget(kRegClockAddr);
                nlohmann::json report = {{"changed", nlohmann::json::array()},
                                         {"failed", nlohmann::json::array()}};
                const std::vector<uint8_t> regs = wanted.Known();
                if (regs.empty()) {
                    clocks[Hex2(addr)] = report;
                    continue;
                }
                if (!Answers(line, addr, regs)) {
                    if (line.Lost())
                        return PortVanished(options);
                    Say("clock " + AddrText(addr) + ": no answer");
                    for (const std::string& name : SettingNames(regs))
                        report["failed"].push_back(name);
                    clocks[Hex2(addr)] = report;
                    failed = true;
                    continue;
                }
                const ApplyResult r = ApplySettings(options, line, addr, wanted, apply.Check);
                std::vector<uint8_t> written;
                for (const RegisterWrite& w : r.Writes)
                    if (std::find(r.Missed.begin(), r.Missed.end(), w.Reg) == r.Missed.end())
                        written.push_back(w.Reg);
                const auto names = SettingNames(written);
                for (const std::string& name : names) {
                    report["changed"].push_back(name);
                    if (!apply.Json)
                        Print(AddrText(addr) + " " + name +
                              (apply.Check ? ": would be written" : ": written"));
                }
                changed = changed || !names.empty();
                if (r.Code != kExitOk) {
                    failed = true;
                    for (const std::string& name : SettingNames(r.Missed.empty() ? regs : r.Missed))
                        report["failed"].push_back(name);
                }
                clocks[Hex2(r.Address)] = report;
                if (r.Code == kExitPort)
                    return r.Code;
            }
            return failed ? kExitNoAnswer : changed ? kExitDiffers : kExitOk;
        }();
        if (apply.Json)
            Print(nlohmann::json{{"changed", changed}, {"clocks", clocks}}.dump());
        return rc;
    });
}

// Settings kept in files. Its exit codes are for deployment tools: 0
// nothing to do, 2 changed (or, for diff, different), 1 anything failed,
// bad arguments and a stop included, so that 2 never means an error here.
Verb AddConfig(CLI::App& app)
{
    struct Args {
        LineArgs export_line;
        std::string export_out;
        LineArgs diff_line;
        std::string diff_file;
        LineArgs apply_line;
        std::string apply_file;
        ApplyOptions apply;
        CLI::App* export_sub = nullptr;
        CLI::App* diff_sub = nullptr;
        CLI::App* apply_sub = nullptr;
    };
    auto a = std::make_shared<Args>();
    auto* config =
        app.add_subcommand("config", "Clock settings kept in a file: export, diff, apply");
    config->require_subcommand(1);
    a->export_sub = config->add_subcommand(
        "export", "Read the settings of one clock, or of every clock the census finds, into JSON");
    AddPort(*a->export_sub, a->export_line);
    AddAddr(*a->export_sub, a->export_line, true, "");
    a->export_sub->add_option("-o,--output", a->export_out, "Write to this file instead of stdout");
    a->diff_sub = config->add_subcommand(
        "diff", "Compare the clocks with a settings file: exit 0 all match, 2 differs, 1 failed");
    AddPort(*a->diff_sub, a->diff_line);
    a->diff_sub->add_option("FILE", a->diff_file, "A file of config export")->required();
    a->apply_sub = config->add_subcommand(
        "apply", "Write what differs from a settings file: exit 0 nothing to change, 2 changed, "
                 "1 failed");
    AddPort(*a->apply_sub, a->apply_line);
    a->apply_sub->add_option("FILE", a->apply_file, "A file of config export")->required();
    a->apply_sub->add_flag("--check", a->apply.Check,
                           "Write nothing; answer as if the writes had been made");
    a->apply_sub->add_flag("--json", a->apply.Json,
                           "Print {\"changed\": …, \"clocks\": {ADDR: {\"changed\": [...], "
                           "\"failed\": [...]}}}");
    a->apply_sub->add_flag("--move", a->apply.Move,
                           "Move a clock whose ClockAddr in the file differs from its key");
    return {.Sub = config,
            .Run =
                [a](DaemonMode) {
                    if (*a->export_sub)
                        return RunConfigExport(MakeLine(a->export_line), a->export_out);
                    if (*a->diff_sub)
                        return RunConfigDiff(MakeLine(a->diff_line), a->diff_file);
                    return RunConfigApply(MakeLine(a->apply_line), a->apply_file, a->apply);
                },
            .EveryFailure = kExitNoAnswer,
            .SucceedsWith = kExitDiffers,
            // A deployment tool's time-out (SIGTERM) or a Ctrl+C is a failure
            // like any other: from the parse on, not from the first transaction.
            .StopsFromStart = true};
}

} // namespace chronavel::ctl

// The subcommands that go through the request queue and the exchange
// thread, as the main window's commands do: sync, read, read-all.
#include "app/time_sync.h"
#include "config/registers.h"
#include "link/frames.h"
#include "link/request.h"
#include "port/sync.h"
#include "tools/cli/commands.h"
#include "tools/cli/line_args.h"
#include "tools/line/line.h"
#include "tools/line/source_state.h"
#include "tools/line/tool_host.h"
#include "tools/line/tracker.h"
#include "tools/settings/read_all_output.h"

#include <array>
#include <chrono>
#include <memory>
#include <thread>

namespace chronavel::ctl {

namespace {

// A read removed by a reply that was not its own (a master's status block
// from the same address, say) is asked again, at most this often.
constexpr int kReadRounds = 3;

// Queues the requests and waits until each has been answered or given up;
// a batch ends at its first request given up (kGivenUp).
WaitEnd QueueAndWait(Line& line, const std::vector<TRequestRec>& requests, bool batch = false)
{
    const int failed_before = Counts().Failed;
    int target = Counts().Total();
    for (const TRequestRec& r : requests) {
        // The ring holds 150; a longer list waits for room.
        while (!PutRequest(r)) {
            if (StopRequested.load())
                return WaitEnd::kInterrupted;
            if (line.Lost())
                return WaitEnd::kPortLost;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ++target;
    }
    return WaitForTotal(target, line, batch ? std::optional<int>(failed_before) : std::nullopt);
}

int OutcomeCode(WaitEnd o, Line& line)
{
    if (o == WaitEnd::kPortLost)
        return PortVanished(line.Options());
    // Given up or interrupted. Stopping the exchange thread drops whatever
    // of the batch is still queued.
    line.Close();
    return kExitNoAnswer;
}

bool WasGivenUp(uint8_t reg)
{
    for (const TRequestRec& f : FailedRequests())
        if (f.Cmd == kCmdReadRegister && f.Param1 == reg)
            return true;
    return false;
}

// Says which read ended the batch, and how much of it is dropped.
void SayBatchGivenUp(uint8_t addr, const std::vector<uint8_t>& unanswered, size_t total,
                     size_t read)
{
    // The one given up is neither read nor dropped.
    const size_t unread = total > read + 1 ? total - read - 1 : 0;
    const std::string reg = unanswered.empty() ? std::string("?") : Hex2(unanswered.front());
    Say("register " + reg + " of clock " + Hex2(addr) +
        ": no answer after its retries; the rest of the batch (" + std::to_string(unread) +
        " register" + (unread == 1 ? "" : "s") + ") is dropped");
}

// Reads the registers, asking again for those whose request was removed by
// some other reply. Fills values; returns the outcome of the last wait. The
// first read given up ends it all (kGivenUp, its register in unanswered): a
// clock that let one read run out its retries would let the rest run out
// theirs too, about 12 s each.
WaitEnd ReadRegisters(Line& line, uint8_t addr, const std::vector<uint8_t>& regs,
                      std::array<std::optional<uint8_t>, 256>& values,
                      std::vector<uint8_t>& unanswered)
{
    std::vector<uint8_t> todo = regs;
    std::vector<uint8_t> given_up;
    for (int round = 0; round < kReadRounds && !todo.empty(); ++round) {
        ClearTracker();
        std::vector<TRequestRec> reqs;
        for (uint8_t reg : todo)
            reqs.push_back(StandardRequest(addr, kCmdReadRegister, reg, 0));
        const WaitEnd o = QueueAndWait(line, reqs, true);
        if (o == WaitEnd::kGivenUp) {
            for (uint8_t reg : todo)
                if (auto v = RegisterAnswer(reg))
                    values[reg] = v;
            unanswered.clear();
            for (const TRequestRec& f : FailedRequests())
                if (f.Cmd == kCmdReadRegister)
                    unanswered.push_back(f.Param1);
        }
        if (o != WaitEnd::kDone)
            return o;
        std::vector<uint8_t> again;
        for (uint8_t reg : todo) {
            if (auto v = RegisterAnswer(reg))
                values[reg] = v;
            else if (WasGivenUp(reg))
                given_up.push_back(reg);
            else
                again.push_back(reg);
        }
        todo = again;
    }
    unanswered = given_up;
    unanswered.insert(unanswered.end(), todo.begin(), todo.end());
    return WaitEnd::kDone;
}

int OpenWithExchange(Line& line)
{
    const int rc = line.Open();
    if (rc != kExitOk)
        return rc;
    InstallTracker(line.Options().Addr);
    line.StartExchange();
    return kExitOk;
}

} // namespace

int RunSync(const LineOptions& options)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = OpenWithExchange(line); rc != kExitOk)
        return rc;
    // The operator decides: the clocks get the time all the same.
    if (const platform::ClockSync source = platform::QueryClockSync();
        source.State == platform::ClockSyncState::kUnsynchronised)
        Say("chronavelctl: " + UnsynchronisedWarning(source));
    ClearTracker();
    const int before = Counts().Failed;
    const WaitEnd o = QueueAndWait(line, {TimeSyncRequest(options.Addr)});
    if (o != WaitEnd::kDone)
        return OutcomeCode(o, line);
    if (Counts().Failed > before)
        return kExitNoAnswer;
    Say("time set on clock " + AddrText(options.Addr));
    return kExitOk;
}

int RunRead(const LineOptions& options, const std::vector<uint8_t>& regs)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = OpenWithExchange(line); rc != kExitOk)
        return rc;
    std::array<std::optional<uint8_t>, 256> values{};
    std::vector<uint8_t> unanswered;
    const WaitEnd o = ReadRegisters(line, options.Addr, regs, values, unanswered);
    if (o != WaitEnd::kDone && o != WaitEnd::kGivenUp)
        return OutcomeCode(o, line);
    // What was read before a batch was given up is still true.
    size_t read = 0;
    for (uint8_t reg : regs) {
        if (values[reg]) {
            Print(Hex2(reg) + "=" + Hex2(*values[reg]));
            ++read;
        }
    }
    if (o == WaitEnd::kGivenUp) {
        SayBatchGivenUp(options.Addr, unanswered, regs.size(), read);
        return OutcomeCode(o, line);
    }
    for (uint8_t reg : unanswered)
        Say("register " + Hex2(reg) + ": no answer");
    return unanswered.empty() ? kExitOk : kExitNoAnswer;
}

int RunReadAll(const LineOptions& options, bool json)
{
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    if (const int rc = OpenWithExchange(line); rc != kExitOk)
        return rc;
    const auto& batch = ReadBatchRegisters();
    std::vector<uint8_t> regs(batch.begin(), batch.end());
    std::array<std::optional<uint8_t>, 256> values{};
    std::vector<uint8_t> unanswered;
    const WaitEnd o = ReadRegisters(line, options.Addr, regs, values, unanswered);
    if (o == WaitEnd::kGivenUp) {
        // Settings half read would show defaults as the clock's: nothing is
        // shown.
        size_t read = 0;
        for (uint8_t reg : regs)
            read += values[reg] ? 1 : 0;
        SayBatchGivenUp(options.Addr, unanswered, regs.size(), read);
    }
    if (o != WaitEnd::kDone)
        return OutcomeCode(o, line);
    // A master's status blocks refresh some of the variables as they come
    // (the exposures among them); what is shown is what this clock answered.
    line.Close();
    for (uint8_t reg : regs)
        if (values[reg])
            StoreRegisterValue(reg, *values[reg]);
    for (uint8_t reg : unanswered)
        Say("register " + Hex2(reg) + ": no answer");
    if (json)
        Print(SettingsJson().dump());
    else
        for (const auto& row : SettingsTable())
            Print(row);
    return unanswered.empty() ? kExitOk : kExitNoAnswer;
}

Verb AddSync(CLI::App& app)
{
    auto a = std::make_shared<LineArgs>();
    auto* sub = app.add_subcommand("sync", "Send the local time to the clock(s) once");
    AddPort(*sub, *a);
    AddAddr(*sub, *a, false, "all");
    return {.Sub = sub, .Run = [a](DaemonMode) { return RunSync(MakeLine(*a)); }};
}

Verb AddRead(CLI::App& app)
{
    struct Args {
        LineArgs line;
        std::vector<std::string> regs;
    };
    auto a = std::make_shared<Args>();
    auto* sub = app.add_subcommand("read", "Read registers (queued reads)");
    AddPort(*sub, a->line);
    AddAddr(*sub, a->line, true, "");
    sub->add_option("REG", a->regs, "Register numbers, decimal or 0x-hex")->required();
    return {.Sub = sub, .Run = [a](DaemonMode) {
                const LineOptions line = MakeLine(a->line);
                std::vector<uint8_t> regs;
                for (const auto& r : a->regs)
                    regs.push_back(ParseRegister(r));
                return RunRead(line, regs);
            }};
}

Verb AddReadAll(CLI::App& app)
{
    struct Args {
        LineArgs line;
        bool json = false;
    };
    auto a = std::make_shared<Args>();
    auto* sub = app.add_subcommand("read-all", "Read the clock's settings and decode them");
    AddPort(*sub, a->line);
    AddAddr(*sub, a->line, true, "");
    sub->add_flag("--json", a->json, "One JSON object keyed by setting name");
    return {.Sub = sub, .Run = [a](DaemonMode) { return RunReadAll(MakeLine(a->line), a->json); }};
}

} // namespace chronavel::ctl

// `ask`: a request to the daemon keeping a state file (a census now, or a
// clock forgotten), handed over as a file beside it (tools/daemon/requests.h)
// and waited for until the daemon has taken it.
#include "platform/utf8_path.h"
#include "tools/cli/commands.h"
#include "tools/daemon/requests.h"
#include "tools/line/tool_host.h"
#include "tools/text/args.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

namespace chronavel::ctl {

namespace {
// The daemon looks once a second; a loaded machine gets a good margin.
constexpr auto kTakenWithin = std::chrono::seconds(15);
} // namespace

int RunAsk(const std::string& state_file, const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& w : words)
        text += (text.empty() ? "" : " ") + w;
    std::string why;
    const std::optional<DaemonRequest> request = ParseRequest(text, &why);
    if (!request)
        throw UsageError(why);
    std::string error;
    const std::string path = PutRequest(state_file, *request, &error);
    if (path.empty()) {
        Say("chronavelctl: the request cannot be written beside " + state_file + ": " + error);
        return kExitNoAnswer;
    }
    const auto until = std::chrono::steady_clock::now() + kTakenWithin;
    std::error_code ec;
    while (std::filesystem::exists(platform::PathFromUtf8(path), ec)) {
        if (std::chrono::steady_clock::now() >= until) {
            // Not left for a daemon started later to act on unasked.
            std::filesystem::remove(platform::PathFromUtf8(path), ec);
            Say("chronavelctl: no daemon keeping " + state_file + " took the request within " +
                std::to_string(kTakenWithin.count()) + " s (is one running with --state-file " +
                state_file + "?)");
            return kExitNoAnswer;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Say(RequestText(*request) + ": taken by the daemon keeping " + state_file +
        " (its log says what follows)");
    return kExitOk;
}

Verb AddAsk(CLI::App& app)
{
    struct Args {
        std::string state_file;
        std::vector<std::string> words;
    };
    auto a = std::make_shared<Args>();
    auto* sub = app.add_subcommand(
        "ask", "Ask a running supervising daemon for a census now, or to forget a clock");
    sub->add_option("--state-file", a->state_file, "the state file the daemon keeps")->required();
    sub->add_option("request", a->words, "census | forget ADDR")->required()->expected(1, 2);
    return {.Sub = sub, .Run = [a](DaemonMode) { return RunAsk(a->state_file, a->words); }};
}

} // namespace chronavel::ctl

#include "tools/daemon/requests.h"

#include "platform/atomic_file.h"
#include "platform/utf8_path.h"
#include "tools/text/args.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace chronavel::ctl {

namespace fs = std::filesystem;

namespace {

const std::string kInfix = ".request-";

// The number of a request file of state_file ("" for any other name, the
// temporary of one being written among them).
std::string RequestNumber(const fs::path& file, const std::string& state_name)
{
    const std::string name = platform::Utf8FromPath(file.filename());
    const std::string head = state_name + kInfix;
    if (name.size() <= head.size() || name.compare(0, head.size(), head) != 0)
        return {};
    const std::string n = name.substr(head.size());
    return std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }) ? n : "";
}

fs::path FolderOf(const fs::path& state)
{
    return state.has_parent_path() ? state.parent_path() : fs::path(".");
}

} // namespace

std::optional<DaemonRequest> ParseRequest(const std::string& text, std::string* why)
{
    std::istringstream in(text);
    std::string verb, arg, more;
    in >> verb >> arg >> more;
    if (verb == "census" && arg.empty())
        return DaemonRequest{DaemonRequest::Kind::kCensus, 0};
    if (verb == "forget" && !arg.empty() && more.empty()) {
        const std::optional<uint32_t> addr = ParseNumber(arg, 254);
        if (addr && *addr >= 1)
            return DaemonRequest{DaemonRequest::Kind::kForget, static_cast<uint8_t>(*addr)};
        if (why)
            *why = "not a clock's address: \"" + arg.substr(0, 20) + "\" (1..254, or 0x01..0xFE)";
        return std::nullopt;
    }
    if (why)
        *why = "not a request: \"" + text.substr(0, 80) + "\" (census, or forget ADDR)";
    return std::nullopt;
}

std::string RequestText(const DaemonRequest& r)
{
    return r.What == DaemonRequest::Kind::kCensus ? "census" : "forget " + Hex2(r.Addr);
}

std::string PutRequest(const std::string& state_file, const DaemonRequest& r, std::string* error)
{
    // Nanoseconds since the epoch: later requests sort after earlier ones,
    // and two askers do not meet on one name.
    static std::atomic<int> seq{0};
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count() +
                    seq++;
    const std::string path = state_file + kInfix + std::to_string(ns);
    const std::string e = platform::WriteFileAtomically(path, RequestText(r) + "\n");
    if (!e.empty()) {
        if (error)
            *error = e;
        return {};
    }
    return path;
}

std::vector<DaemonRequest> TakeRequests(const std::string& state_file,
                                        std::vector<std::string>* errors)
{
    const fs::path state = platform::PathFromUtf8(state_file);
    const std::string state_name = platform::Utf8FromPath(state.filename());
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code ec;
    for (fs::directory_iterator it(FolderOf(state), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = RequestNumber(it->path(), state_name);
        if (!n.empty())
            files.emplace_back(n, it->path());
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return a.first.size() != b.first.size() ? a.first.size() < b.first.size()
                                                : a.first < b.first;
    });
    std::vector<DaemonRequest> out;
    for (const auto& [n, path] : files) {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        in.close();
        fs::remove(path, ec);
        std::string why;
        if (auto r = ParseRequest(line, &why))
            out.push_back(*r);
        else if (errors)
            errors->push_back(platform::Utf8FromPath(path.filename()) + ": " + why);
    }
    return out;
}

} // namespace chronavel::ctl

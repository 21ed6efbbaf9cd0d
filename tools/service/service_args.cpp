#include "tools/service/service_args.h"

#include "platform/file_lock.h"
#include "platform/utf8_path.h"
#include "tools/settings/config_file.h"
#include "tools/text/text.h"
#ifndef _WIN32
#include "tools/web/web_config.h"
#endif

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace chronavel::ctl {

std::optional<std::string> ServicePort(const std::string& port)
{
    std::string name = port;
    // The device namespace prefix that COM10 and above need in a path.
    if (name.rfind("\\\\.\\", 0) == 0)
        name = name.substr(4);
    if (name.empty() || name.size() > 200)
        return std::nullopt;
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '-' && c != '_' && c != '.')
            return std::nullopt;
        // Service names are compared without case; one spelling each.
        c = static_cast<char>(std::toupper(u));
    }
    return name;
}

std::optional<std::string> ServiceKey(const std::string& port)
{
    if (auto key = ServicePort(port))
        return key;
    // An instance ID has a backslash, never in front, and no blanks.
    if (port.find('\\') == std::string::npos || port.front() == '\\' || port.size() > 200)
        return std::nullopt;
    std::string key = port;
    for (char& c : key) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '/' || c == '"' || u >= 0x7F)
            return std::nullopt;
        c = std::isalnum(u) || c == '-' || c == '.' ? static_cast<char>(std::toupper(u)) : '_';
    }
    return key;
}

std::string ServiceName(const std::string& service_port)
{
    return kServicePrefix + service_port;
}

std::string ServiceDisplayName(const std::string& service_port)
{
    return "Chronavel: синхронизация часов на " + service_port;
}

std::vector<std::string> ServiceDaemonArguments(const std::string& service_port,
                                                const std::vector<std::string>& options,
                                                const std::string& data_dir)
{
    std::vector<std::string> args{"--port", service_port};
    // Up to --on-alarm; everything after it is that program's own.
    const auto alarm = std::find(options.begin(), options.end(), "--on-alarm");
    auto given = [&](const std::string& opt) {
        return std::any_of(options.begin(), alarm, [&](const std::string& a) {
            return a == opt || a.rfind(opt + "=", 0) == 0;
        });
    };
    args.insert(args.end(), options.begin(), alarm);
    if (!given("--supervise"))
        args.push_back("--supervise");
    if (!given("--state-file")) {
        args.push_back("--state-file");
        args.push_back(data_dir + "\\" + ServiceName(service_port) + ".json");
    }
    args.insert(args.end(), alarm, options.end());
    return args;
}

namespace {

bool Slash(char c)
{
    return c == '\\' || c == '/';
}

bool DriveLetter(const std::string& p)
{
    return p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]));
}

// "C:\a\b" for a path relative to cwd; "" for one Windows reads against a
// drive's own current folder ("D:x"), which the service would not share.
std::string AbsoluteWindowsPath(const std::string& path, const std::string& cwd)
{
    if (DriveLetter(path))
        return path.size() > 2 && Slash(path[2]) ? path : std::string();
    if (path.size() >= 2 && Slash(path[0]) && Slash(path[1]))
        return path; // \\server\share
    std::string joined;
    if (!path.empty() && Slash(path[0]))
        joined = cwd.substr(0, 2) + path; // the root of cwd's drive
    else
        joined = cwd + "\\" + path;
    // ".", ".." and doubled separators taken out, as Windows does.
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= joined.size(); ++i) {
        if (i < joined.size() && !Slash(joined[i])) {
            part += joined[i];
            continue;
        }
        if (part == "..") {
            if (parts.size() > 1)
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    }
    std::string out;
    for (const auto& p : parts)
        out += (out.empty() ? "" : "\\") + p;
    return parts.size() == 1 ? out + "\\" : out;
}

} // namespace

std::optional<std::vector<std::string>>
ServicePaths(const std::vector<std::string>& options, const std::string& cwd,
             const std::function<bool(const std::string&)>& exists, std::string* error)
{
    std::vector<std::string> out = options;
    const auto alarm = std::find(out.begin(), out.end(), "--on-alarm");
    // kind: 's' settings (must exist), 'f' state file (its folder must), 'p' program.
    auto fix = [&](std::string& value, const std::string& opt, char kind) {
        const bool bare =
            kind == 'p' && std::none_of(value.begin(), value.end(), Slash) && !DriveLetter(value);
        std::string abs = AbsoluteWindowsPath(value, cwd);
        if (abs.empty()) {
            *error = opt + " " + value +
                     ": a path on a drive's current folder; give it whole (D:\\folder\\file)";
            return false;
        }
        if (bare && !exists(abs))
            return true; // found on PATH when it runs
        std::string must = abs;
        if (kind == 'f') {
            const auto cut = abs.find_last_of("\\/");
            must = cut == std::string::npos || cut < 3 ? abs.substr(0, 3) : abs.substr(0, cut);
        }
        if (!exists(must)) {
            *error = opt + " " + value + ": " + must +
                     (kind == 'f' ? " (the folder of the state file) does not exist"
                                  : " does not exist");
            return false;
        }
        value = abs;
        return true;
    };
    for (auto it = out.begin(); it != alarm; ++it) {
        for (const auto& [opt, kind] : {std::pair<std::string, char>{"--settings", 's'},
                                        std::pair<std::string, char>{"--state-file", 'f'}}) {
            if (*it == opt && it + 1 != alarm) {
                if (!fix(*++it, opt, kind))
                    return std::nullopt;
            } else if (it->rfind(opt + "=", 0) == 0) {
                std::string value = it->substr(opt.size() + 1);
                if (!fix(value, opt, kind))
                    return std::nullopt;
                *it = opt + "=" + value;
            }
        }
    }
    if (alarm != out.end() && alarm + 1 != out.end() && !fix(*(alarm + 1), "--on-alarm", 'p'))
        return std::nullopt;
    return out;
}

std::string ServiceLogPath(const std::string& data_dir, const std::string& service_port)
{
    return data_dir + "\\" + ServiceName(service_port) + ".log";
}

std::string WindowsCommandLine(const std::vector<std::string>& args)
{
    std::string line;
    for (const auto& arg : args) {
        if (!line.empty())
            line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += arg;
            continue;
        }
        // Backslashes are literal except before a quote: those before a
        // quote, and before the closing quote, are doubled.
        line += '"';
        size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}

std::vector<std::string> ServiceNeedsProblems(const std::string& settings_file,
                                              const std::string& web_config_file,
                                              const std::string& state_file)
{
    std::vector<std::string> problems;
    if (!settings_file.empty()) {
        ConfigFile settings;
        if (const std::string why = LoadConfigFile(settings_file, settings); !why.empty())
            problems.push_back("chronavelctl: --settings: " + ValidUtf8(why));
    }
#ifndef _WIN32
    if (!web_config_file.empty()) {
        WebConfig web;
        if (const std::string why = LoadWebConfig(web_config_file, web); !why.empty())
            problems.push_back("chronavelctl: --web-config: " + ValidUtf8(why));
    }
#else
    (void)web_config_file; // refused by the parser: this build has no web face
#endif
    if (state_file.empty())
        return problems;
    std::error_code ec;
    if (std::filesystem::is_symlink(platform::PathFromUtf8(state_file), ec)) {
        problems.push_back("state file: " + ValidUtf8(state_file) +
                           " is a symbolic link, which the daemon would replace with a plain "
                           "file; give the path of the file itself");
        return problems;
    }
    // The daemon's own lock, taken and let go at once: it needs the folder
    // writable, and fails only while a daemon keeps that state.
    std::string error;
    bool held = false;
    if (!platform::FileLock::Take(state_file, &error, &held))
        problems.push_back(
            "state file: " + ValidUtf8(error) +
            (held ? "; a chronavelctl daemon already keeps that state (a service installed before, "
                    "or a daemon started by hand): stop it, or give another --state-file"
                  : "; the daemon needs a folder it may write for the state file and its lock"));
    return problems;
}

} // namespace chronavel::ctl

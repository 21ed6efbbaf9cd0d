#include "tools/service_args.h"

#include <algorithm>
#include <cctype>

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

} // namespace chronavel::ctl

// What `chronavelctl service install` decides before it asks Windows: one
// service per port whatever its spelling, the daemon's options passed on
// with the service's defaults, and a command line Windows splits back
// into the same arguments.
#include "tools/service_args.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {
namespace {

TEST(CtlService, OneNamePerPort)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"COM7", "COM7"},
        {"com7", "COM7"},
        {"\\\\.\\COM12", "COM12"},
        {"\\\\.\\com12", "COM12"},
        {"", std::nullopt},
        {"\\\\.\\", std::nullopt},
        {"/dev/ttyUSB0", std::nullopt},
        {"COM 7", std::nullopt},
        {"..\\COM7", std::nullopt},
    };
    for (const auto& [port, expected] : cases)
        EXPECT_EQ(ServicePort(port), expected) << port;
    EXPECT_EQ(ServiceName(*ServicePort("com7")), "chronavel-sync-COM7");
}

TEST(CtlService, DaemonOptionsPassOnWithTheServiceDefaults)
{
    const std::string dir = "C:\\ProgramData\\chronavel";
    const std::string state = dir + "\\chronavel-sync-COM7.json";
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{}, {"--port", "COM7", "--supervise", "--state-file", state}},
        {{"--period", "day", "--http", "127.0.0.1:8470"},
         {"--port", "COM7", "--period", "day", "--http", "127.0.0.1:8470", "--supervise",
          "--state-file", state}},
        {{"--supervise", "--state-file=D:\\s.json"},
         {"--port", "COM7", "--supervise", "--state-file=D:\\s.json"}},
        // The alarm program's own arguments are its, even when they look
        // like the daemon's: the defaults go in before it.
        {{"--on-alarm", "notify.exe", "--supervise", "--state-file", "x"},
         {"--port", "COM7", "--supervise", "--state-file", state, "--on-alarm", "notify.exe",
          "--supervise", "--state-file", "x"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ServiceDaemonArguments("COM7", c.options, dir), c.expected)
            << testing::PrintToString(c.options);
}

TEST(CtlService, CommandLineQuotedAsWindowsSplitsIt)
{
    // Each argument against the text that CommandLineToArgvW turns back
    // into it: backslashes double only before a quote or the closing one.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"COM7", "COM7"},
        {"C:\\Program Files\\Chronavel\\chronavelctl.exe",
         "\"C:\\Program Files\\Chronavel\\chronavelctl.exe\""},
        {"C:\\dir\\", "C:\\dir\\"},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"", "\"\""},
    };
    for (const auto& [arg, quoted] : cases)
        EXPECT_EQ(WindowsCommandLine({arg}), quoted) << arg;
    EXPECT_EQ(WindowsCommandLine({"a", "b c", ""}), "a \"b c\" \"\"");
}

} // namespace
} // namespace chronavel::ctl

// What `chronavelctl service install` decides before it asks Windows: one
// service per port whatever its spelling, the daemon's options passed on
// with the service's defaults, and a command line Windows splits back
// into the same arguments.
#include "platform/file_lock.h"
#include "support/temp_dir.h"
#include "tools/service/service_args.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
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
    // An adapter's stable name (its device instance ID) names one too.
    const std::vector<std::pair<std::string, std::optional<std::string>>> keys = {
        {"com7", "COM7"},
        {"USB\\VID_0403&PID_6001\\a50285bi", "USB_VID_0403_PID_6001_A50285BI"},
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "FTDIBUS_VID_0403_PID_6001_A50285BIA_0000"},
        {"\\\\.\\COM7", "COM7"},
        {"\\COM7", std::nullopt},
        {"USB\\VID 0403", std::nullopt},
        {"USB\\VID/0403", std::nullopt},
        {"COM 7", std::nullopt},
    };
    for (const auto& [port, expected] : keys)
        EXPECT_EQ(ServiceKey(port), expected) << port;
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

TEST(CtlService, PathsMadeAbsoluteForTheServiceOrRefused)
{
    // The service starts in System32: every file it is given is made whole
    // against the installing shell's folder, and must be there.
    const std::string cwd = "C:\\Школа";
    const std::vector<std::string> there = {"C:\\Школа\\часы.json",
                                            "C:\\Школа",
                                            "C:\\Школа\\тревога.cmd",
                                            "C:\\notify.exe",
                                            "D:\\s.json",
                                            "\\\\srv\\share\\a.cmd",
                                            "C:\\"};
    const auto exists = [&](const std::string& p) {
        return std::find(there.begin(), there.end(), p) != there.end();
    };
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> expected; // empty: refused, the error naming the path
    };
    const std::vector<Case> cases = {
        {{"--settings", "часы.json", "--state-file=.\\s.json"},
         {"--settings", "C:\\Школа\\часы.json", "--state-file=C:\\Школа\\s.json"}},
        {{"--settings", "D:\\s.json", "--state-file", "..\\x.json"},
         {"--settings", "D:\\s.json", "--state-file", "C:\\x.json"}},
        {{"--settings=\\notify.exe"}, {"--settings=C:\\notify.exe"}},
        {{"--on-alarm", "тревога.cmd", "--settings", "x"},
         {"--on-alarm", "C:\\Школа\\тревога.cmd", "--settings", "x"}},
        {{"--on-alarm", "\\\\srv\\share\\a.cmd"}, {"--on-alarm", "\\\\srv\\share\\a.cmd"}},
        // A bare name not here is the PATH's.
        {{"--on-alarm", "powershell", "-File", "a.ps1"},
         {"--on-alarm", "powershell", "-File", "a.ps1"}},
        {{"--settings", "нет.json"}, {}},
        {{"--state-file", "нет\\s.json"}, {}},
        {{"--on-alarm", "scripts\\a.cmd"}, {}},
        {{"--settings", "D:s.json"}, {}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto got = ServicePaths(c.options, cwd, exists, &error);
        if (c.expected.empty()) {
            EXPECT_FALSE(got) << testing::PrintToString(c.options);
            EXPECT_NE(error.find(c.options[1]), std::string::npos) << error;
        } else {
            EXPECT_EQ(got, c.expected) << testing::PrintToString(c.options) << error;
        }
    }
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

// What the service will need, checked before it is installed: a file the
// daemon would refuse at each start (and the manager restart it for ever),
// a state folder it may not write, a state another daemon keeps.
TEST(CtlService, InstallRefusesWhatTheServiceCouldNotRunWith)
{
    test::TempDir dir;
    const std::string good = (dir.path() / "good.json").string();
    const std::string bad = (dir.path() / "bad.json").string();
    std::ofstream(good) << R"({"format": "chronavel-clock-settings", "version": 1, )"
                           R"("clocks": {"0x05": {"Volume": 6}}})";
    std::ofstream(bad) << "{\"clocks\": {}";
    const std::string state = (dir.path() / "state.json").string();
    const std::string kept = (dir.path() / "kept.json").string();
    const std::string link = (dir.path() / "link.json").string();
    std::filesystem::create_symlink(state, link);
    std::string error;
    const auto daemon = platform::FileLock::Take(kept, &error); // a running daemon's
    ASSERT_TRUE(daemon) << error;
    struct Case {
        std::string settings, state;
        std::string said; // in the one message, or "" for none
    };
    const std::vector<Case> cases = {
        {good, state, ""},
        {"", "", ""},
        {bad, state, "chronavelctl: --settings: "},
        {(dir.path() / "none.json").string(), state, "chronavelctl: --settings: "},
        {good, kept, "a chronavelctl daemon already keeps that state"},
        {good, (dir.path() / "no-folder" / "state.json").string(),
         "the daemon needs a folder it may write"},
        {good, "/proc/chronavel-state.json", "the daemon needs a folder it may write"},
        {good, link, "is a symbolic link"},
    };
    for (const Case& c : cases) {
        const auto problems = ServiceNeedsProblems(c.settings, "", c.state);
        if (c.said.empty()) {
            EXPECT_TRUE(problems.empty()) << c.settings << " " << c.state << ": " << problems[0];
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << c.settings << " " << c.state;
        EXPECT_NE(problems[0].find(c.said), std::string::npos) << problems[0];
    }
    // Every problem is said, not only the first.
    EXPECT_EQ(ServiceNeedsProblems(bad, "", kept).size(), 2u);
}

} // namespace
} // namespace chronavel::ctl

// chronavelctl as a deployment tool or a service manager runs it: the exit
// code, the --json answer and the files it leaves must never say something
// false, whatever stopped it or whatever it found at its paths.
#include "sim/sim.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "tools_e2e/run_ctl.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chronavel::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

bool IsLink(const std::string& path)
{
    std::error_code ec;
    return fs::is_symlink(path, ec);
}

bool HasIpv6Loopback()
{
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_addr = in6addr_loopback;
    const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// A file last written minutes ago.
void PutOldFile(const std::string& path)
{
    PutFile(path, "half");
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(5));
}

// Each row is a fault found in review, run against the real program: its
// setup, the run (and what is done to it while it runs), and what must hold
// after.
TEST(CtlAutomation, ExitCodesFilesAndAnswersNeverSaySomethingFalse)
{
    PortsDir();
    sim::Options o;
    o.name = "ctlauto";
    o.clocks = {5};
    o.speed = 115200;
    o.seed = 7;
    sim::Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    TempDir tmp;
    const std::string dir = tmp.path().string();
    const Args line = {"--port", "ctlauto", "--speed", "115200"};
    const auto with_line = [&](Args args) {
        args.insert(args.end(), line.begin(), line.end());
        return args;
    };

    // The clock's settings as a file, and the same with a new volume and
    // day correction (written in that order); the second also lists
    // addresses where no clock answers, each asked in turn.
    const std::string same = dir + "/same.json";
    const CtlResult exported = RunCtl(with_line({"config", "export", "--addr", "5", "-o", same}));
    ASSERT_EQ(exported.code, 0) << exported.err;
    auto file = nlohmann::json::parse(GetFile(same));
    file["clocks"]["0x05"]["Volume"] = 7;
    file["clocks"]["0x05"]["DayCorrection"] = -10;
    const std::string two = dir + "/two.json";
    PutFile(two, file.dump());
    for (int a = 0x10; a < 0x30; ++a) {
        char key[8];
        std::snprintf(key, sizeof key, "0x%02X", a);
        file["clocks"][key] = file["clocks"]["0x05"];
    }
    const std::string many = dir + "/many.json";
    PutFile(many, file.dump());
    const auto reset = [&] {
        sim.SetRegister(5, 0x43, 5);
        sim.SetRegister(5, 0x51, 0);
        sim.SetRegister(5, 0x52, 0);
        sim.SetSilentRegister(5, 0x43, false);
        sim.SetDeafRegister(5, 0x51, false);
    };

    const std::string target = dir + "/target.json";
    const std::string link = dir + "/link.json";
    const std::string state = dir + "/state.json";
    struct Row {
        std::string fault;
        std::function<void()> setup;
        Args args;
        std::function<void(CtlProcess&)> during; // while it runs
        int code;
        std::string err; // said on standard error
        std::string out; // printed
        std::function<void()> after;
        mode_t umask = 022;
    };
    const std::vector<Row> rows = {
        {"a stop by SIGTERM (a deployment tool's time-out) is a failure, and --json still "
         "lists what was written",
         [] {},
         {"config", "apply", many, "--json"},
         [&](CtlProcess& p) {
             // Clock 5 written and read back; the clocks after it are asked.
             ASSERT_TRUE(
                 WaitUntil([&] { return p.ErrSoFar().find("no answer") != std::string::npos; },
                           std::chrono::seconds(60)))
                 << p.ErrSoFar();
             p.Signal(SIGTERM);
         },
         1,
         "stopped by signal 15",
         R"("0x05":{"changed":["Volume","DayCorrection"],"failed":[]})",
         [] {}},
        {"--check with a register the clock leaves unread cannot tell, so it fails naming it",
         [&] { sim.SetSilentRegister(5, 0x43, true); },
         {"config", "apply", same, "--check"},
         {},
         1,
         "no answer to 0x43",
         "",
         [] {}},
        {"--json lists the settings written before a write failed",
         [&] { sim.SetDeafRegister(5, 0x51, true); },
         {"config", "apply", two, "--json"},
         {},
         1,
         "register 0x51 not written",
         R"("0x05":{"changed":["Volume"],"failed":["DayCorrection"]})",
         [&] { EXPECT_EQ(sim.Register(5, 0x43), 7); }},
        {"a new -o file has the permissions the umask leaves",
         [] {},
         {"config", "export", "--addr", "5", "-o", dir + "/private.json"},
         {},
         0,
         "",
         "",
         [&] {
             struct stat st {};
             ASSERT_EQ(stat((dir + "/private.json").c_str(), &st), 0);
             EXPECT_EQ(st.st_mode & 0777, 0600u);
         },
         077},
        {"the temporary of a killed -o write is removed by the next, and only it",
         [&] {
             PutOldFile(dir + "/out.json.Ab3xZ9");
             PutFile(dir + "/out.json.Cd4yW8", "a writer at work");
             PutOldFile(dir + "/out.json.tmp");
         },
         {"config", "export", "--addr", "5", "-o", dir + "/out.json"},
         {},
         0,
         "removed " + dir + "/out.json.Ab3xZ9",
         "",
         [&] {
             EXPECT_FALSE(fs::exists(dir + "/out.json.Ab3xZ9"));
             EXPECT_TRUE(fs::exists(dir + "/out.json.Cd4yW8"));
             EXPECT_TRUE(fs::exists(dir + "/out.json.tmp"));
         }},
        {"-o at a symbolic link is refused, the link and its file left alone",
         [&] {
             PutFile(target, "keep");
             fs::create_symlink(target, link);
         },
         {"config", "export", "--addr", "5", "-o", link},
         {},
         1,
         "a symbolic link",
         "",
         [&] {
             EXPECT_TRUE(IsLink(link));
             EXPECT_EQ(GetFile(target), "keep");
             fs::remove(link);
         }},
        {"a state file that is a symbolic link is refused, not replaced by a plain file",
         [&] { fs::create_symlink(target, link); },
         {"daemon", "--addr", "5", "--count", "1", "--supervise", "--state-file", link},
         {},
         2,
         "is a symbolic link",
         "",
         [&] {
             EXPECT_TRUE(IsLink(link));
             EXPECT_EQ(GetFile(target), "keep");
         }},
        {"the temporary a killed daemon left beside its state file is removed at the next start",
         [&] { PutFile(state + ".Qw12Er", "half"); },
         {"daemon", "--addr", "5", "--count", "1", "--supervise", "--state-file", state},
         {},
         0,
         "removed " + state + ".Qw12Er",
         "",
         [&] {
             EXPECT_FALSE(fs::exists(state + ".Qw12Er"));
             EXPECT_TRUE(nlohmann::json::parse(GetFile(state), nullptr, false).is_object());
         }},
        {"--http localhost answers on both loopback addresses",
         [] {},
         {"daemon", "--addr", "5", "--period-seconds", "60", "--supervise", "--http",
          "localhost:0"},
         [&](CtlProcess& p) {
             static const std::regex serving(R"(serving http://localhost:(\d+)/)");
             std::smatch m;
             std::string log;
             ASSERT_TRUE(WaitUntil(
                 [&] {
                     log = p.ErrSoFar();
                     return std::regex_search(log, m, serving);
                 },
                 std::chrono::seconds(60)))
                 << log;
             const int port = std::stoi(m[1]);
             for (const char* host : {"127.0.0.1", "::1"}) {
                 if (std::string(host) == "::1" && !HasIpv6Loopback())
                     continue;
                 httplib::Client http(host, port);
                 http.set_connection_timeout(5, 0);
                 const auto res = http.Get("/metrics");
                 EXPECT_TRUE(res) << host << " " << httplib::to_string(res.error());
             }
             p.Signal(SIGTERM);
         },
         0,
         "stopped",
         "",
         [] {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        reset();
        row.setup();
        const mode_t was = umask(row.umask);
        CtlProcess p(with_line(row.args));
        umask(was);
        if (row.during)
            row.during(p);
        const CtlResult r = p.Wait(120000);
        EXPECT_EQ(r.code, row.code) << r.out << r.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
        row.after();
    }
}

} // namespace
} // namespace chronavel::test

// The supervising daemon in this process, so that the sanitizers see all
// its threads at once: the loop, the exchange thread, the web face's accept
// thread and workers, with clients asking while it keeps the line in time.
#include "sim/sim.h"
#include "support/wait.h"
#include "tools/cli/commands.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/line/tool_state.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace chronavel::ctl {
namespace {

using test::WaitUntil;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(DaemonInProcess, KeepsTheLineWhileTheWebFaceAnswers)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("daemon-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "no-tty");
    setenv("CHRONAVEL_PORTS_DIR", dir.c_str(), 1);
    setenv("CHRONAVEL_TTY_CLASS_DIR", (dir / "no-tty").c_str(), 1);
    sim::Options o;
    o.name = "inproc";
    o.clocks = {1, 2};
    o.master = 1;
    o.speed = 115200;
    o.seed = 7;
    o.status_interval_ms = 300;
    sim::Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    const std::string log = (dir / "log").string();
    ASSERT_TRUE(SendOutputToLog(log, 1 << 20));
    DaemonOptions d;
    d.PeriodSeconds = 2;
    d.RetrySeconds = 1;
    d.Supervise = true;
    d.StateFile = (dir / "state.json").string();
    d.Http = HttpAddress{"127.0.0.1", 0};
    LineOptions line;
    line.Port = "inproc";
    line.Speed = 115200;
    int rc = -1;
    std::thread daemon([&] { rc = RunDaemon(line, d); });

    static const std::regex serving(R"(serving http://127\.0\.0\.1:(\d+)/)");
    std::smatch m;
    std::string text;
    EXPECT_TRUE(WaitUntil(
        [&] {
            text = Slurp(log);
            return std::regex_search(text, m, serving);
        },
        std::chrono::seconds(60)))
        << text;
    const int port = m.empty() ? 0 : std::stoi(m[1]);
    ASSERT_GT(port, 0);
    // The client library builds a static of its own on its first answer:
    // once here, before the clients share it.
    ASSERT_TRUE(httplib::Client("127.0.0.1", port).Get("/metrics"));
    // Clients beside the loop until the census has found both clocks.
    std::vector<std::thread> clients;
    std::atomic<bool> stop{false};
    for (const char* path : {"/metrics", "/status.json"})
        clients.emplace_back([&, path] {
            httplib::Client c("127.0.0.1", port);
            c.set_read_timeout(5, 0);
            while (!stop) {
                const auto res = c.Get(path);
                EXPECT_TRUE(res && res->status == 200);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    EXPECT_TRUE(WaitUntil(
        [&] { return Slurp(log).find("census: 2 clocks answering") != std::string::npos; },
        std::chrono::seconds(120)))
        << Slurp(log);
    stop = true;
    for (auto& t : clients)
        t.join();
    RequestStop(SIGTERM);
    daemon.join();
    EXPECT_EQ(rc, kExitOk) << Slurp(log);
    EXPECT_NE(Slurp(d.StateFile).find("\"answering\""), std::string::npos);
    ResetToolState();
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace chronavel::ctl

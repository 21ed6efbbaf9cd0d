// The supervising daemon's web face: the texts it serves as functions, then
// the real daemon on a simulated line answering the monitoring's requests
// while it keeps the clocks in time (its server and addresses in this
// process: tests/tools/http_server_test.cpp).
#include "sim/sim.h"
#include "support/wait.h"
#include "tools/web/http_server.h"
#include "tools/web/http_status.h"
#include "tools_e2e/run_ctl.h"

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace chronavel::test {
namespace {

using std::chrono::milliseconds;

// A small reader of the Prometheus text format: every sample belongs to a
// family declared by a TYPE line before it, names and labels are well
// formed, values are numbers. Samples keyed "name{labels as written}".
struct Exposition {
    std::map<std::string, double> samples;
    std::map<std::string, std::string> types;
    std::vector<std::string> errors;
};

Exposition ParseExposition(const std::string& text)
{
    Exposition e;
    static const std::regex type_line(
        R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram))");
    static const std::regex sample_line(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{((?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\.)*",?)*)\})? (\S+))");
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (line.rfind("# HELP ", 0) == 0)
            continue;
        if (std::regex_match(line, m, type_line)) {
            e.types[m[1]] = m[2];
            continue;
        }
        if (!std::regex_match(line, m, sample_line)) {
            e.errors.push_back("malformed: " + line);
            continue;
        }
        std::string name = m[1];
        // A histogram's samples carry its name with a suffix.
        for (const char* suffix : {"_bucket", "_sum", "_count"})
            if (name.ends_with(suffix) &&
                e.types[name.substr(0, name.size() - std::strlen(suffix))] == "histogram")
                name.resize(name.size() - std::strlen(suffix));
        if (!e.types.contains(name))
            e.errors.push_back("no TYPE before: " + line);
        if (e.types[name] == "counter" && !name.ends_with("_total"))
            e.errors.push_back("counter without _total: " + name);
        if (name.rfind("chronavel_", 0) != 0)
            e.errors.push_back("without the prefix: " + name);
        char* end = nullptr;
        const std::string value = m[4];
        const double v = std::strtod(value.c_str(), &end);
        if (*end != '\0')
            e.errors.push_back("not a number: " + line);
        e.samples[std::string(m[1]) + (m[2].matched ? std::string(m[2]) : "")] = v;
    }
    if (!text.empty() && text.back() != '\n')
        e.errors.push_back("no final line feed");
    return e;
}

bool ValidUtf8(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80         ? 0
                      : (c >> 5) == 6  ? 1
                      : (c >> 4) == 14 ? 2
                      : (c >> 3) == 30 ? 3
                                       : -1;
        if (n < 0)
            return false;
        for (int k = 1; k <= n; ++k)
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                return false;
        i += static_cast<size_t>(n) + 1;
    }
    return true;
}

// A port name that needs escaping in both texts, and clocks in every state.
TEST(CtlHttp, TextsEscapeWhatTheyCarry)
{
    ctl::StatusSnapshot s;
    s.Port = "odd\"port\\<b>\n";
    s.PeriodSeconds = 3600;
    s.Clocks[1] = {.Master = true, .Answering = true, .LastAnswer = 1000, .LastSync = 990};
    s.Clocks[2] = {.Master = false, .Answering = false, .LastAnswer = 700, .LastSync = {}};
    s.Source = {platform::ClockSyncState::kUnsynchronised, 16000000};
    const Exposition e = ParseExposition(ctl::MetricsText(s, 1060));
    EXPECT_TRUE(e.errors.empty()) << e.errors.front();
    const std::string port = R"(port="odd\"port\\<b>\n")";
    EXPECT_EQ(e.samples.at("chronavel_clock_up{" + port + ",address=\"0x02\"}"), 0);
    EXPECT_EQ(e.samples.at("chronavel_clock_silent_seconds{" + port + ",address=\"0x02\"}"), 360);
    EXPECT_EQ(e.samples.at("chronavel_clock_silent_seconds{" + port + ",address=\"0x01\"}"), 0);
    EXPECT_FALSE(e.samples.contains("chronavel_clock_last_sync_timestamp_seconds{" + port +
                                    ",address=\"0x02\"}"));
    EXPECT_EQ(e.samples.at("chronavel_pc_clock_synchronised"), 0);
    EXPECT_EQ(e.samples.at("chronavel_pc_clock_max_error_seconds"), 16);

    const std::string page = ctl::StatusPage(s, 1060);
    EXPECT_TRUE(ValidUtf8(page));
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("odd&quot;port\\&lt;b&gt;"), std::string::npos);
    EXPECT_NE(page.find("не синхронизированы"), std::string::npos);
}

int HttpPortFrom(const std::string& log)
{
    static const std::regex serving(R"(serving http://127\.0\.0\.1:(\d+)/)");
    std::smatch m;
    return std::regex_search(log, m, serving) ? std::stoi(m[1]) : 0;
}

// A client that connects and sends the start of a request, then nothing.
int SlowClient(int port, const std::string& start = "GET /metrics HTTP/1.1\r\nHo")
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
        (void)!write(fd, start.data(), start.size());
    return fd;
}

// Clients that each send their request a byte every 0.8 s, over and over:
// every byte within any per-receive time-out, the whole never.
class Tricklers {
public:
    Tricklers(int port, int count)
        : thread_([this, port, count] {
              const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
              std::vector<std::pair<int, size_t>> fds(static_cast<size_t>(count), {-1, 0});
              while (!stop_) {
                  for (auto& [fd, sent] : fds) {
                      if (fd < 0 || sent == request.size()) {
                          if (fd >= 0)
                              close(fd);
                          fd = SlowClient(port, "");
                          sent = 0;
                      }
                      if (send(fd, &request[sent], 1, MSG_NOSIGNAL) == 1)
                          ++sent;
                      else
                          sent = request.size();
                  }
                  std::this_thread::sleep_for(milliseconds(800));
              }
              for (auto& [fd, sent] : fds)
                  close(fd);
          })
    {
    }
    ~Tricklers()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Two clocks answering and a third that stops: the three paths follow the
// line while the daemon keeps it in time, other methods and paths are
// refused, and a stop is not held up by the server or its clients.
TEST(CtlHttp, DaemonServesTheLinesStateWhileKeepingItInTime)
{
    sim::Options o;
    o.name = "ctlhttp";
    o.clocks = {1, 2, 3};
    o.master = 1;
    o.speed = 115200;
    o.seed = 7;
    PortsDir();
    sim::Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const std::string state_file = PortsDir() + "/http-state.json";
    CtlProcess d({"daemon", "--port", "ctlhttp", "--speed", "115200", "--addr", "all",
                  "--period-seconds", "4", "--supervise", "--state-file", state_file, "--http",
                  "127.0.0.1:0"});
    const auto logged = [&](const std::string& what) {
        return WaitUntil([&] { return d.ErrSoFar().find(what) != std::string::npos; },
                         std::chrono::seconds(120));
    };
    ASSERT_TRUE(logged("serving http://127.0.0.1:")) << d.ErrSoFar();
    const int port = HttpPortFrom(d.ErrSoFar());
    ASSERT_GT(port, 0) << d.ErrSoFar();
    // A second daemon on the same state file refuses to start, saying why.
    const CtlResult second = RunCtl({"daemon", "--port", "ctlhttp", "--addr", "all", "--count", "1",
                                     "--supervise", "--state-file", state_file});
    EXPECT_EQ(second.code, 2) << second.err;
    EXPECT_NE(second.err.find(state_file + " is in use by another process (pid "),
              std::string::npos)
        << second.err;
    // One whose lock cannot be made is not said to be another daemon's.
    const CtlResult nowhere =
        RunCtl({"daemon", "--port", "ctlhttp", "--addr", "all", "--count", "1", "--supervise",
                "--state-file", state_file + "/under-a-file.json"});
    EXPECT_EQ(nowhere.code, 2) << nowhere.err;
    EXPECT_NE(nowhere.err.find("needs a folder it may write"), std::string::npos) << nowhere.err;
    EXPECT_EQ(nowhere.err.find("another chronavelctl daemon"), std::string::npos) << nowhere.err;
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(10, 0);
    // From the first second: what is known, never "no state yet"; the first
    // sync goes out before the first census.
    const auto early = http.Get("/status.json");
    ASSERT_TRUE(early);
    EXPECT_EQ(early->status, 200) << early->body;
    ASSERT_TRUE(logged("sync all: sent to 3 clocks answering")) << d.ErrSoFar();
    EXPECT_LT(d.ErrSoFar().find("sync all: sent; the census of the line follows"),
              d.ErrSoFar().find("census: 3 clocks answering"))
        << d.ErrSoFar();

    const auto metrics = [&] {
        const auto res = http.Get("/metrics");
        EXPECT_TRUE(res) << "no answer to /metrics";
        if (!res)
            return Exposition{};
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"),
                  "text/plain; version=0.0.4; charset=utf-8");
        Exposition e = ParseExposition(res->body);
        EXPECT_TRUE(e.errors.empty()) << e.errors.front() << "\n" << res->body;
        return e;
    };
    const auto up = [](const Exposition& e, const char* addr) {
        const auto it = e.samples.find(
            std::string("chronavel_clock_up{port=\"ctlhttp\",address=\"") + addr + "\"}");
        return it == e.samples.end() ? -1.0 : it->second;
    };
    Exposition before = metrics();
    EXPECT_EQ(up(before, "0x03"), 1);
    EXPECT_EQ(before.samples["chronavel_clock_master{port=\"ctlhttp\",address=\"0x01\"}"], 1);
    EXPECT_EQ(before.samples["chronavel_port_open{port=\"ctlhttp\"}"], 1);
    EXPECT_GE(before.samples["chronavel_syncs_total{port=\"ctlhttp\",result=\"answered\"}"], 1);
    EXPECT_GT(before.samples["chronavel_census_duration_seconds{port=\"ctlhttp\"}"], 0);
    EXPECT_TRUE(before.samples.contains(
        "chronavel_clock_last_sync_timestamp_seconds{port=\"ctlhttp\",address=\"0x02\"}"));
    // Each time frame's end is measured.
    EXPECT_GE(before.samples["chronavel_time_frame_end_offset_seconds_count{port=\"ctlhttp\"}"], 1);

    // The change shows once the census that noticed it is logged.
    sim.SetFaults(3, sim::Faults{.silent = true});
    ASSERT_TRUE(logged("clock 0x03 has stopped answering")) << d.ErrSoFar();
    Exposition after = metrics();
    EXPECT_EQ(up(after, "0x03"), 0);
    EXPECT_EQ(up(after, "0x02"), 1);

    // The same object as the state file (both change at each census, so
    // they are compared until one pair is read between two).
    nlohmann::json served, file;
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto res = http.Get("/status.json");
            std::ifstream in(state_file);
            served = res ? nlohmann::json::parse(res->body, nullptr, false) : nlohmann::json();
            file = nlohmann::json::parse(in, nullptr, false);
            return res && res->status == 200 && !served.is_discarded() && served == file;
        },
        std::chrono::seconds(20)))
        << served.dump() << "\n"
        << file.dump();
    EXPECT_EQ(served["answering"], 2) << served.dump();

    const auto page = http.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_TRUE(ValidUtf8(page->body));
    for (const char* text :
         {"<!DOCTYPE html>", "<meta charset=\"utf-8\">", "http-equiv=\"refresh\"", "ctlhttp",
          "0x01", "0x02", "0x03", "Часы ПК", " мс от начала секунды", "</html>"})
        EXPECT_NE(page->body.find(text), std::string::npos) << text;
    EXPECT_EQ(page->body.find("<script"), std::string::npos);
    EXPECT_EQ(page->body.find("http://"), std::string::npos); // nothing fetched from elsewhere

    struct Refused {
        std::string method, path;
        int status;
    };
    for (const Refused& r : std::vector<Refused>{{"POST", "/", 405},
                                                 {"PUT", "/metrics", 405},
                                                 {"DELETE", "/status.json", 405},
                                                 {"POST", "/nowhere", 405},
                                                 {"GET", "/nowhere", 404},
                                                 {"GET", "/metrics/", 404},
                                                 {"GET", "/status.json?x=1", 200},
                                                 {"HEAD", "/metrics", 200}}) {
        httplib::Request req;
        req.method = r.method;
        req.path = r.path;
        if (r.method == "POST" || r.method == "PUT")
            req.body = std::string(100000, 'x');
        const auto res = http.send(req);
        ASSERT_TRUE(res) << r.method << " " << r.path;
        EXPECT_EQ(res->status, r.status) << r.method << " " << r.path;
        if (r.status == 405) {
            EXPECT_EQ(res->get_header_value("Allow"), "GET, HEAD");
        }
        if (r.method == "HEAD") {
            EXPECT_TRUE(res->body.empty());
        }
    }

    // Sixteen clients trickling their requests hold no worker: each scrape
    // beside them is answered.
    {
        Tricklers crowd(port, 16);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        for (int i = 0; i < 4; ++i) {
            httplib::Client scraper("127.0.0.1", port);
            scraper.set_connection_timeout(5, 0);
            scraper.set_read_timeout(5, 0);
            const auto res = scraper.Get("/metrics");
            ASSERT_TRUE(res) << "scrape " << i << " beside the slow clients";
            EXPECT_EQ(res->status, 200);
        }
    }

    // Still keeping the clocks in time.
    const size_t sets = sim.FramesReceived(0x70);
    EXPECT_TRUE(
        WaitUntil([&] { return sim.FramesReceived(0x70) > sets; }, std::chrono::seconds(90)));

    // A stop with clients hanging on the server.
    std::vector<int> slow;
    for (int i = 0; i < 8; ++i)
        slow.push_back(SlowClient(port));
    const auto stop_at = std::chrono::steady_clock::now();
    d.Signal(SIGTERM);
    const CtlResult r = d.Wait(300000);
    const auto took = std::chrono::steady_clock::now() - stop_at;
    for (int fd : slow)
        close(fd);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("stopped"), std::string::npos) << r.err;
    // A second at most between passes; generous for a loaded machine.
    EXPECT_LT(took, std::chrono::seconds(5)) << r.err;
}

// A web face that cannot have its address (another program holds it, even
// one that would share it) is said, shown in the state file, and never
// keeps the clocks from being set.
TEST(CtlHttp, TakenAddressLeavesTheClocksKeptInTime)
{
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(holder, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    socklen_t len = sizeof sa;
    getsockname(holder, reinterpret_cast<sockaddr*>(&sa), &len);
    const std::string where = "127.0.0.1:" + std::to_string(ntohs(sa.sin_port));

    sim::Options o;
    o.name = "ctlhttp-taken";
    o.clocks = {1};
    o.speed = 115200;
    o.seed = 7;
    PortsDir();
    sim::Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const std::string state_file = PortsDir() + "/http-taken-state.json";
    const CtlResult r =
        RunCtl({"daemon", "--port", "ctlhttp-taken", "--speed", "115200", "--addr", "1", "--count",
                "1", "--supervise", "--state-file", state_file, "--http", where});
    close(holder);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("web face: cannot listen on " + where), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sync 0x01: answered"), std::string::npos) << r.err;
    EXPECT_EQ(sim.TimeErrors().count, 1u);
    std::ifstream in(state_file);
    const auto state = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(state.is_object());
    EXPECT_EQ(state["http"]["listening"], false) << state.dump();

    const CtlResult bad = RunCtl({"daemon", "--port", "p", "--supervise", "--http", "nowhere"});
    EXPECT_EQ(bad.code, 2) << bad.err;
    EXPECT_NE(bad.err.find("'nowhere'"), std::string::npos) << bad.err;
}

} // namespace
} // namespace chronavel::test

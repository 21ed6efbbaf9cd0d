// The daemon's web face under a crowd of slow clients: does it hold up the
// synchronisations? Two figures.
//  1. The only place where the daemon's loop meets the server is the swap of
//     a new snapshot onto the board. Its time is measured in this process
//     while the real server (the same code as the daemon's) has 100 clients
//     trickling their requests a byte at a time, and 4 more scraping
//     /metrics as fast as they can.
//  2. The real daemon on a simulated line (3 clocks, a census and a sync
//     every cycle), with and without the 100 slow clients on its --http
//     port: the interval between time sets (a census of 254 addresses and
//     a sync; a delay would lengthen it), and the clocks' time errors at
//     each time set, as the simulator measures them.
//   http_bench [--syncs N] [--clients N]
#include "sim/sim.h"
#include "tools/web/http_server.h"
#include "tools_e2e/run_ctl.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <httplib.h>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace chronavel {
namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p / 100 * v.size()))];
}

// Clients that open a connection, send a request a byte every 200 ms, and
// start again when the server cuts them off.
class SlowCrowd {
public:
    SlowCrowd(int port, int count)
    {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this, port] { Trickle(port); });
    }
    ~SlowCrowd()
    {
        stop_ = true;
        for (auto& t : threads_)
            t.join();
    }

private:
    void Trickle(int port)
    {
        static const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
        while (!stop_) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            // A full backlog would hold connect() for minutes.
            const timeval limit{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(static_cast<uint16_t>(port));
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
                for (size_t i = 0; i < request.size() && !stop_; ++i) {
                    if (send(fd, &request[i], 1, MSG_NOSIGNAL) != 1)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
            }
            close(fd);
        }
    }

    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

std::shared_ptr<ctl::StatusSnapshot> Snapshot(int n)
{
    auto s = std::make_shared<ctl::StatusSnapshot>();
    s->Port = "ttyUSB0";
    s->PeriodSeconds = 3600;
    s->PortOpen = true;
    for (int a = 1; a <= 3; ++a)
        s->Clocks[static_cast<uint8_t>(a)] = {
            .Master = a == 1, .Answering = true, .LastAnswer = 1000 + n, .LastSync = 1000 + n};
    s->State = {{"port", "ttyUSB0"}, {"answering", 3}, {"n", n}};
    return s;
}

void BoardSwap(int clients)
{
    auto board = std::make_shared<ctl::StatusBoard>();
    board->Set(Snapshot(0));
    std::string error;
    auto server =
        ctl::StatusServer::Start({"127.0.0.1", 0}, board, ctl::HttpLimits{}, nullptr, &error);
    if (!server) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    for (int crowd : {0, clients}) {
        auto slow = crowd ? std::make_unique<SlowCrowd>(server->Port(), crowd) : nullptr;
        std::atomic<bool> stop{false};
        std::atomic<long> scrapes{0};
        std::vector<std::thread> scrapers;
        for (int i = 0; i < 4; ++i)
            scrapers.emplace_back([&] {
                httplib::Client c("127.0.0.1", server->Port());
                c.set_read_timeout(5, 0);
                c.set_connection_timeout(2, 0);
                while (!stop)
                    if (auto r = c.Get("/metrics"); r && r->status == 200)
                        ++scrapes;
            });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::vector<double> us;
        const auto end = Clock::now() + std::chrono::seconds(5);
        for (int n = 1; Clock::now() < end; ++n) {
            auto s = Snapshot(n);
            const auto t0 = Clock::now();
            board->Set(std::move(s));
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stop = true;
        for (auto& t : scrapers)
            t.join();
        std::printf("snapshot swap, %3d slow clients + 4 scrapers (%ld scrapes in 6 s): "
                    "median %.1f us, p99 %.1f us, max %.1f us over %zu swaps\n",
                    crowd, scrapes.load(), Percentile(us, 50), Percentile(us, 99),
                    *std::max_element(us.begin(), us.end()), us.size());
    }
    ctl::StatusServer::Stop(std::move(server), std::chrono::seconds(5));
}

void Daemon(int syncs, int clients)
{
    for (int crowd : {0, clients}) {
        sim::Options o;
        o.name = "httpbench";
        o.clocks = {1, 2, 3};
        o.master = 1;
        o.speed = 115200;
        o.seed = 7;
        test::PortsDir();
        sim::Simulator sim(o);
        std::string error;
        if (!sim.Start(&error)) {
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
            std::exit(1);
        }
        test::CtlProcess d({"daemon", "--port", "httpbench", "--speed", "115200", "--addr", "1",
                            "--period-seconds", "1", "--supervise", "--http", "127.0.0.1:0"});
        std::smatch m;
        std::string log;
        static const std::regex serving(R"(serving http://127\.0\.0\.1:(\d+)/)");
        for (int i = 0; i < 600 && !std::regex_search(log, m, serving); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            log = d.ErrSoFar();
        }
        if (m.empty()) {
            std::fprintf(stderr, "the daemon did not start serving: %s\n", log.c_str());
            std::exit(1);
        }
        auto slow = crowd ? std::make_unique<SlowCrowd>(std::stoi(m[1]), crowd) : nullptr;
        // The arrival of each time set, seen by polling the simulator.
        std::vector<Clock::time_point> arrivals;
        size_t seen = sim.FramesReceived(0x70);
        const auto give_up = Clock::now() + std::chrono::minutes(10);
        while (arrivals.size() < static_cast<size_t>(syncs) + 1 && Clock::now() < give_up) {
            const size_t now = sim.FramesReceived(0x70);
            if (now != seen) {
                arrivals.push_back(Clock::now());
                seen = now;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        std::vector<double> gaps;
        for (size_t i = 1; i < arrivals.size(); ++i)
            gaps.push_back(
                std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count());
        if (gaps.empty())
            gaps.push_back(0);
        d.Signal(SIGTERM);
        d.Wait(60000);
        const sim::TimeErrorStats e = sim.TimeErrors();
        std::printf("daemon, %3d slow clients: %zu intervals between time sets: min %.0f ms, "
                    "median %.0f ms, max %.0f ms; time error p99 %.1f ms, max %.1f ms\n",
                    crowd, gaps.size(), *std::min_element(gaps.begin(), gaps.end()),
                    Percentile(gaps, 50), *std::max_element(gaps.begin(), gaps.end()), e.p99_ms,
                    e.max_ms);
    }
}

} // namespace
} // namespace chronavel

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int syncs = 5;
    int clients = 100;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--syncs" && i + 1 < argc)
            syncs = std::max(2, std::atoi(argv[++i]));
        else if (a == "--clients" && i + 1 < argc)
            clients = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--syncs N] [--clients N]\n", argv[0]);
            return 2;
        }
    }
    if (!std::getenv("CHRONAVEL_TEST_BIN_DIR"))
        setenv("CHRONAVEL_TEST_BIN_DIR", CHRONAVEL_BUILD_DIR, 1);
    chronavel::BoardSwap(clients);
    chronavel::Daemon(syncs, clients);
    return 0;
}

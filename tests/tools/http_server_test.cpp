// The web face's address and server in this process, where the sanitizers see its
// accept thread and workers: clients at once while the daemon's side swaps
// snapshots and passwords, and a stop that leaves nothing running.
#include "tools/web/http_server.h"
#include "tools/web/http_status.h"
#include "tools/web/web_config.h"

#include <arpa/inet.h>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace chronavel::ctl {
namespace {

using std::chrono::milliseconds;

std::shared_ptr<const StatusSnapshot> Snapshot(int n)
{
    auto s = std::make_shared<StatusSnapshot>();
    s->Port = "ttyUSB0";
    s->PeriodSeconds = 3600;
    s->Syncs.Answered = n;
    s->Clocks[1] = {.Master = true, .Answering = true, .LastAnswer = 1000 + n, .LastSync = 990};
    s->State = {{"answered", n}};
    return s;
}

TEST(HttpServer, AnswersClientsAtOnceWhileSnapshotsAndPasswordsChange)
{
    auto board = std::make_shared<StatusBoard>();
    board->Set(Snapshot(0));
    std::string error;
    WebConfig open;
    WebConfig locked;
    locked.Users["ops"] = BcryptHash("secret", &error);
    ASSERT_FALSE(locked.Users["ops"].empty()) << error;
    locked.Headers = {{"X-Served-By", "chronavel"}};
    auto server = StatusServer::Start(
        {"127.0.0.1", 0}, board, {.Workers = 2, .Queued = 4, .TimeoutMs = 5000}, &open, &error);
    ASSERT_TRUE(server) << error;
    const int port = server->Port();

    // The client library builds a static of its own on its first answer:
    // once here, before the clients share it.
    ASSERT_TRUE(httplib::Client("127.0.0.1", port).Get("/metrics"));
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<int> odd{0};
    std::vector<std::thread> clients;
    for (const char* path : {"/metrics", "/status.json", "/", "/metrics"})
        clients.emplace_back([&, path] {
            httplib::Client c("127.0.0.1", port);
            c.set_connection_timeout(5, 0);
            c.set_read_timeout(5, 0);
            c.set_basic_auth("ops", "secret");
            while (!stop) {
                const auto res = c.Get(path);
                // The clients send the password whether one is asked or
                // not; 503 when every worker and queue place is taken.
                if (res && (res->status == 200 || res->status == 503))
                    ++answered;
                else
                    ++odd;
            }
        });
    for (int n = 1; n <= 200; ++n) {
        board->Set(Snapshot(n));
        if (n % 50 == 0) {
            EXPECT_TRUE(server->Reconfigure(n % 100 == 0 ? &open : &locked, &error)) << error;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    stop = true;
    for (auto& t : clients)
        t.join();
    StatusServer::Stop(std::move(server), milliseconds(2000));
    EXPECT_GT(answered.load(), 0);
    EXPECT_EQ(odd.load(), 0);
}

TEST(HttpServer, AddressesAreHostColonPort)
{
    const std::vector<std::pair<std::string, std::optional<HttpAddress>>> cases = {
        {"127.0.0.1:8470", HttpAddress{"127.0.0.1", 8470}},
        {"localhost:0", HttpAddress{"localhost", 0}},
        {"[::1]:8470", HttpAddress{"::1", 8470}},
        {"0.0.0.0:65535", HttpAddress{"0.0.0.0", 65535}},
        {"127.0.0.1", std::nullopt},
        {":8470", std::nullopt},
        {"127.0.0.1:", std::nullopt},
        {"127.0.0.1:65536", std::nullopt},
        {"127.0.0.1:-1", std::nullopt},
        {"127.0.0.1:84x", std::nullopt},
        {"::1:8470", std::nullopt},
        {"[::1:8470", std::nullopt},
        {"a b:80", std::nullopt},
        {"127.0.0.1:123456", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseHttpAddress(text), expected) << text;
}

// A stop while a worker is still answering a client that takes nothing:
// the answer has the stop's limit, then is cut, and nothing of the server
// runs on after the stop (the process may be ending under it).
TEST(HttpServer, StopLeavesNoThreadBehind)
{
    const auto threads = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator("/proc/self/task"))
            ++n;
        return n;
    };
    // ThreadSanitizer starts a thread of its own with the process's second.
    std::thread([] {}).join();
    const size_t before = threads();
    auto board = std::make_shared<StatusBoard>();
    auto snapshot = std::make_shared<StatusSnapshot>();
    // More than the socket buffers hold, so the answer waits for the client.
    snapshot->State = {{"padding", std::string(32 << 20, 'x')}};
    board->Set(snapshot);
    std::string error;
    auto server = StatusServer::Start(
        {"127.0.0.1", 0}, board, {.Workers = 1, .Queued = 4, .TimeoutMs = 60000}, nullptr, &error);
    ASSERT_TRUE(server) << error;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(server->Port()));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    const std::string request = "GET /status.json HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    // The answer has begun and stalled (under the sanitizers, making it
    // takes seconds).
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 60000), 1);
    std::this_thread::sleep_for(milliseconds(300));

    const auto stop_at = std::chrono::steady_clock::now();
    StatusServer::Stop(std::move(server), milliseconds(300));
    EXPECT_LT(std::chrono::steady_clock::now() - stop_at, std::chrono::seconds(10));
    EXPECT_EQ(threads(), before);
    close(fd);
}

} // namespace
} // namespace chronavel::ctl

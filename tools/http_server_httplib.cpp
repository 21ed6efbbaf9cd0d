#include "tools/http_server.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <future>
#include <httplib.h>
#include <mutex>
#include <thread>
#include <vector>

namespace chronavel::ctl {

namespace {

// The library's own pool queues every accepted connection without bound.
// This one holds at most `queued` waiting; past that the accepting thread
// waits for a free place, and new connections wait in the kernel's backlog
// instead of in memory here.
class BoundedPool : public httplib::TaskQueue {
public:
    BoundedPool(int workers, int queued) : limit_(static_cast<size_t>(queued))
    {
        for (int i = 0; i < workers; ++i)
            threads_.emplace_back([this] { Work(); });
    }

    void enqueue(std::function<void()> fn) override
    {
        std::unique_lock<std::mutex> hold(lock_);
        room_.wait(hold, [&] { return jobs_.size() < limit_ || shutdown_; });
        jobs_.push_back(std::move(fn));
        work_.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            shutdown_ = true;
        }
        work_.notify_all();
        room_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }

private:
    void Work()
    {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> hold(lock_);
                work_.wait(hold, [&] { return !jobs_.empty() || shutdown_; });
                if (jobs_.empty())
                    return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
                room_.notify_one();
            }
            fn();
        }
    }

    const size_t limit_;
    std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<std::function<void()>> jobs_; // guarded by lock_
    bool shutdown_ = false;                  // guarded by lock_
    std::vector<std::thread> threads_;
};

class HttplibServer : public StatusServer {
public:
    HttplibServer(std::shared_ptr<const StatusBoard> board, const HttpLimits& limits)
        : board_(std::move(board))
    {
        const auto timeout = std::chrono::milliseconds(limits.TimeoutMs);
        server_.new_task_queue = [limits] {
            return new BoundedPool(limits.Workers, limits.Queued);
        };
        server_.set_read_timeout(timeout);
        server_.set_write_timeout(timeout);
        server_.set_keep_alive_timeout(std::max<time_t>(1, limits.TimeoutMs / 1000));
        server_.set_keep_alive_max_count(20);
        server_.set_payload_max_length(4096);
        // The address is this daemon's alone: a second daemon (or any other
        // program) on it must fail to listen, not share the scrapes.
        server_.set_socket_options([](socket_t sock) {
            int yes = 1;
#ifdef _WIN32
            setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                       sizeof yes);
#else
            // A restart may take the address back from its own closing
            // connections, never from a listener.
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
        });
        // Read-only: any method but GET and HEAD is refused before a body is
        // read.
        server_.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            if (req.method == "GET" || req.method == "HEAD")
                return httplib::Server::HandlerResponse::Unhandled;
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("405 method not allowed\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        });
        server_.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
            Serve(res, "text/plain; version=0.0.4; charset=utf-8",
                  [](const StatusSnapshot& s) { return MetricsText(s, std::time(nullptr)); });
        });
        server_.Get("/status.json", [this](const httplib::Request&, httplib::Response& res) {
            Serve(res, "application/json", [](const StatusSnapshot& s) {
                return s.State.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
            });
        });
        server_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
            Serve(res, "text/html; charset=utf-8",
                  [](const StatusSnapshot& s) { return StatusPage(s, std::time(nullptr)); });
        });
        server_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (res.body.empty())
                res.set_content(std::to_string(res.status) + "\n", "text/plain; charset=utf-8");
        });
    }

    ~HttplibServer() override
    {
        server_.stop();
        if (thread_.joinable())
            thread_.join();
    }

    bool Listen(const HttpAddress& where, std::string* error)
    {
        if (where.Port == 0) {
            port_ = server_.bind_to_any_port(where.Host);
            if (port_ <= 0) {
                *error = "cannot listen on " + where.Host + ":0";
                return false;
            }
        } else if (!server_.bind_to_port(where.Host, where.Port)) {
            *error = "cannot listen on " + where.Host + ":" + std::to_string(where.Port) +
                     " (address in use, perhaps by another chronavelctl daemon, or not this "
                     "machine's)";
            return false;
        } else {
            port_ = where.Port;
        }
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        return true;
    }

    int Port() const override
    {
        return port_;
    }

private:
    template <typename Render> void Serve(httplib::Response& res, const char* type, Render render)
    {
        const auto snapshot = board_->Get();
        if (!snapshot) {
            res.status = 503;
            res.set_content("503 no state yet\n", "text/plain; charset=utf-8");
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(render(*snapshot), type);
    }

    std::shared_ptr<const StatusBoard> board_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

} // namespace

std::unique_ptr<StatusServer> StatusServer::Start(const HttpAddress& where,
                                                  std::shared_ptr<const StatusBoard> board,
                                                  const HttpLimits& limits, std::string* error)
{
    auto server = std::make_unique<HttplibServer>(std::move(board), limits);
    if (!server->Listen(where, error))
        return nullptr;
    return server;
}

} // namespace chronavel::ctl

namespace chronavel::ctl {

void StatusServer::Stop(std::unique_ptr<StatusServer> server, std::chrono::milliseconds limit)
{
    if (!server)
        return;
    std::packaged_task<void()> stop([s = std::move(server)]() mutable { s.reset(); });
    std::future<void> done = stop.get_future();
    std::thread t(std::move(stop));
    if (done.wait_for(limit) == std::future_status::ready)
        t.join();
    else
        t.detach();
}

} // namespace chronavel::ctl

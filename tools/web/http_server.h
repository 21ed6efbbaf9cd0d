// The supervising daemon's read-only web face: /metrics, /status.json and
// the operator's page /, served from the snapshots on a StatusBoard by a
// small pool of threads of its own. Nothing it does waits on the daemon's
// loop, and nothing the loop does waits on it.
#pragma once

#include "tools/web/http_status.h"
#include "tools/web/web_config.h"

#include <chrono>
#include <memory>
#include <string>

namespace chronavel::ctl {

// How much the server takes on: requests answered at once (each by a
// worker thread), complete requests waiting for a worker (past that one is
// answered "503 busy" at once), and how long a client may take to send its
// whole request head, and then to take the answer.
struct HttpLimits {
    int Workers = 4;
    int Queued = 16;
    int TimeoutMs = 1000;
};

class StatusServer {
public:
    // Listens on the address and starts serving, with TLS and passwords as
    // web says (nullptr: plain HTTP, open). Nullptr, with a message in
    // error, when that fails (the address is taken, not this machine's, a
    // certificate cannot be used, or the build has no server).
    static std::unique_ptr<StatusServer> Start(const HttpAddress& where,
                                               std::shared_ptr<const StatusBoard> board,
                                               const HttpLimits& limits, const WebConfig* web,
                                               std::string* error);
    virtual ~StatusServer() = default;

    // New TLS and passwords for the connections accepted from now on;
    // false, with a message, when they cannot be used (the ones before are
    // kept).
    virtual bool Reconfigure(const WebConfig* web, std::string* error) = 0;

    // The port listened on (the one the system chose for port 0).
    virtual int Port() const = 0;

    // Stops the server, waiting at most limit for its connections to end;
    // past that it is left to finish on its own (a stopping daemon does not
    // wait for a slow client's time-out).
    static void Stop(std::unique_ptr<StatusServer> server, std::chrono::milliseconds limit);
};

} // namespace chronavel::ctl

// The service manager's watchdog, fed by the daemon's loop. A ping goes out
// at most every half interval, and only when the exchange thread has made
// passes since the last one: a stuck exchange, or a loop that no longer
// comes round, stops the pings, and the service manager restarts the daemon.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace chronavel::ctl {

class Watchdog {
public:
    using Clock = std::chrono::steady_clock;

    // No interval: never pings.
    Watchdog(std::optional<std::chrono::microseconds> interval, std::function<void()> ping);

    // The loop has come round at now. exchange_passes: the exchange thread's
    // pass count, nullopt while none runs (the port is away, and the loop
    // alone is watched). True when a ping went out.
    bool Feed(Clock::time_point now, std::optional<uint64_t> exchange_passes);

private:
    std::optional<std::chrono::microseconds> interval_;
    std::function<void()> ping_;
    std::optional<Clock::time_point> last_ping_;
    std::optional<uint64_t> last_passes_;
};

} // namespace chronavel::ctl

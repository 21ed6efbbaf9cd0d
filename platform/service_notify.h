// Telling the service manager how a daemon is doing. On Linux this is the
// notify socket protocol (a datagram of NAME=value lines to $NOTIFY_SOCKET);
// without the variable, as outside a service, nothing is sent. Windows has
// no such channel: nothing is sent there.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace chronavel::platform {

// Sends the lines ("READY=1", "STATUS=...") in one datagram. False when no
// socket is named or the datagram could not be sent; the daemon goes on
// either way.
bool NotifyServiceManager(const std::string& lines);

// How often the service manager wants "WATCHDOG=1" at the latest, when it
// watches this process ($WATCHDOG_USEC, and $WATCHDOG_PID naming this
// process when set); nullopt when it does not.
std::optional<std::chrono::microseconds> ServiceWatchdogInterval();

} // namespace chronavel::platform

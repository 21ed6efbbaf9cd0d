// Telling the service manager how a daemon is doing. On Linux this is the
// notify socket protocol (a datagram of NAME=value lines to $NOTIFY_SOCKET);
// without the variable, as outside a service, nothing is sent. Windows has
// no such channel: nothing is sent there.
#pragma once

#include <string>

namespace chronavel::platform {

// Sends the lines ("READY=1", "STATUS=...") in one datagram. False when no
// socket is named or the datagram could not be sent; the daemon goes on
// either way.
bool NotifyServiceManager(const std::string& lines);

} // namespace chronavel::platform

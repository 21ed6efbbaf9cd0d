// Telling the service manager how the daemon is doing: the notify socket
// protocol (a datagram of NAME=value lines to $NOTIFY_SOCKET). Without
// the variable, as outside a service, nothing is sent.
#pragma once

#include <string>

namespace chronavel::ctl {

// Sends the lines ("READY=1", "STATUS=...") in one datagram. False when no
// socket is named or the datagram could not be sent; the daemon goes on
// either way.
bool NotifyServiceManager(const std::string& lines);

} // namespace chronavel::ctl

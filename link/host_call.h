// Every call of the core into the host goes through here. A call may wait on
// the window thread, so it first lets go of the port (a synchronous
// transaction there may be waiting for it) and, on an exchange thread, marks
// that thread as waiting on the window thread for as long as the call lasts
// (whoever reconnects there must not wait for it).
#pragma once

#include "port/port_error.h"

#include <functional>
#include <string>

namespace chronavel {

void HostSynchronize(const std::function<void()>& fn);
void HostMessage(const std::string& text);
bool HostWarning(const std::string& text);
void HostPortError(PortErrorKind kind, const std::string& text);

} // namespace chronavel

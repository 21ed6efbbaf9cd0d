// The one way the core reaches the windows (or whatever stands in for them:
// the command-line tool, a recorder in the tests).
//
// Every call may come from the exchange thread. Implementations run the
// request on the window thread and wait for it, so a message box raised on
// the exchange thread holds the exchange until it is answered.
#pragma once

#include "port/port_error.h"

#include <functional>
#include <string>

namespace chronavel {

class Host {
public:
    virtual ~Host() = default;

    // Runs fn on the window thread and waits until it has run. When the
    // program is closing, the call may be abandoned without running fn.
    virtual void Synchronize(const std::function<void()>& fn) = 0;

    // Plain message box with OK.
    virtual void ShowMessage(const std::string& text) = 0;

    // Warning box (title "Warning") with OK and Cancel; true for OK.
    virtual bool ShowWarning(const std::string& text) = 0;

    // A failure of the port ("Error opening port", "Error reading port",
    // "Ошибка соединения" for a device that has gone): a message box with the
    // text; the kind tells a caller what happened without reading the text.
    virtual void ShowPortError(PortErrorKind kind, const std::string& text)
    {
        (void)kind;
        ShowMessage(text);
    }
};

// The host in use. Until one is installed, a console host is used: messages
// go to standard error, warnings are answered Cancel, and Synchronize runs
// the function on the calling thread.
Host& CurrentHost();

// Installs a host (nullptr restores the console host). The host must outlive
// every thread that may call it.
void SetHost(Host* host);

} // namespace chronavel

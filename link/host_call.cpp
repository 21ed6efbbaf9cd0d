#include "link/host_call.h"

#include "link/exchange.h"
#include "link/host.h"
#include "port/io_hold.h"

namespace chronavel {

namespace {

// Lets go of the port and marks the calling exchange thread, if any, as
// waiting on the window thread.
class HostWait {
public:
    HostWait() : thread_(CurrentPassThread())
    {
        if (thread_)
            thread_->EnterHostCall();
    }
    ~HostWait()
    {
        if (thread_)
            thread_->LeaveHostCall();
    }
    HostWait(const HostWait&) = delete;
    HostWait& operator=(const HostWait&) = delete;

private:
    PortIoRelease release_;
    TNewThread* thread_;
};

} // namespace

void HostSynchronize(const std::function<void()>& fn)
{
    HostWait wait;
    CurrentHost().Synchronize(fn);
}

void HostMessage(const std::string& text)
{
    HostWait wait;
    CurrentHost().ShowMessage(text);
}

void HostPortError(PortErrorKind kind, const std::string& text)
{
    HostWait wait;
    CurrentHost().ShowPortError(kind, text);
}

bool HostWarning(const std::string& text)
{
    HostWait wait;
    return CurrentHost().ShowWarning(text);
}

} // namespace chronavel

#include "tools/tool_host.h"

#include <cstdio>

namespace chronavel::ctl {

namespace {

std::mutex& OutputLock()
{
    static std::mutex lock;
    return lock;
}

// Where Say and Print go instead of the standard streams; under the lock.
std::FILE* output_file = nullptr;

void Write(std::FILE* stream, const std::string& line)
{
    std::lock_guard<std::mutex> hold(OutputLock());
    std::FILE* out = output_file ? output_file : stream;
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

} // namespace

void Say(const std::string& line)
{
    Write(stderr, line);
}

void Print(const std::string& line)
{
    Write(stdout, line);
}

void SendOutputTo(std::FILE* file)
{
    std::lock_guard<std::mutex> hold(OutputLock());
    output_file = file;
}

ToolHost::ToolHost()
{
    SetHost(this);
}

ToolHost::~ToolHost()
{
    SetHost(nullptr);
}

void ToolHost::Synchronize(const std::function<void()>& fn)
{
    // The tool has no window thread: the exchange thread runs the display
    // update itself, one at a time.
    std::lock_guard<std::recursive_mutex> hold(sync_lock_);
    fn();
}

void ToolHost::ShowMessage(const std::string& text)
{
    Say(text);
}

void ToolHost::ShowPortError(PortErrorKind kind, const std::string& text)
{
    // A port that stops reading is said once, not once per pass.
    if (kind == PortErrorKind::kReadFailed || kind == PortErrorKind::kDeviceGone) {
        if (port_lost_.exchange(true))
            return;
    }
    ShowMessage(text);
}

bool ToolHost::ShowWarning(const std::string& text)
{
    Say("Warning: " + text);
    return false;
}

} // namespace chronavel::ctl

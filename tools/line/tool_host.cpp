#include "tools/line/tool_host.h"

#include "platform/utf8_path.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace chronavel::ctl {

namespace {

std::mutex& OutputLock()
{
    static std::mutex lock;
    return lock;
}

// Where Say and Print go instead of the standard streams; under the lock.
std::FILE* output_file = nullptr;
// With a log of ours (SendOutputToLog): its path and size bound, the file
// ours to close.
std::string log_path;
std::uintmax_t log_limit = 0;

// Under the lock.
void CloseLog()
{
    if (!log_path.empty() && output_file)
        std::fclose(output_file);
    log_path.clear();
    output_file = nullptr;
}

// Under the lock. The file is closed for the rename, which Windows refuses
// on an open file; when the rename fails all the same (a reader holding
// it) the lines go on into the same file, and the next line tries again.
void RotateLog()
{
    std::fclose(output_file);
    std::error_code ec;
    std::filesystem::rename(platform::PathFromUtf8(log_path),
                            platform::PathFromUtf8(log_path + ".1"), ec);
    output_file = platform::OpenFile(log_path, "a");
    if (!output_file)
        log_path.clear(); // to the standard streams, which a service has not
}

void Write(std::FILE* stream, const std::string& line)
{
    std::lock_guard<std::mutex> hold(OutputLock());
    std::FILE* out = output_file ? output_file : stream;
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
    if (!log_path.empty() && output_file) {
        const long size = std::ftell(output_file);
        if (size >= 0 && static_cast<std::uintmax_t>(size) >= log_limit)
            RotateLog();
    }
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
    CloseLog();
    output_file = file;
}

bool SendOutputToLog(const std::string& path, std::uintmax_t limit)
{
    std::lock_guard<std::mutex> hold(OutputLock());
    CloseLog();
    output_file = platform::OpenFile(path, "a");
    if (!output_file)
        return false;
    log_path = path;
    log_limit = limit;
    // One left past the bound by the last run starts anew now.
    std::fseek(output_file, 0, SEEK_END);
    const long size = std::ftell(output_file);
    if (size >= 0 && static_cast<std::uintmax_t>(size) >= limit)
        RotateLog();
    return output_file != nullptr;
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

// The tool's host: the core's messages go to standard error as they stand,
// and warnings are answered the way the running subcommand needs (a tool
// has no one to ask). A port that stops reading is noted once, not once per
// pass of the exchange thread.
#pragma once

#include "link/host.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace chronavel::ctl {

class ToolHost final : public Host {
public:
    ToolHost(); // installs itself
    ~ToolHost() override;
    ToolHost(const ToolHost&) = delete;
    ToolHost& operator=(const ToolHost&) = delete;

    void Synchronize(const std::function<void()>& fn) override;
    void ShowMessage(const std::string& text) override;
    bool ShowWarning(const std::string& text) override;
    void ShowPortError(PortErrorKind kind, const std::string& text) override;

    // True once the port has failed a read or gone since the last
    // ClearPortLost.
    bool PortLost() const { return port_lost_.load(); }
    void ClearPortLost() { port_lost_.store(false); }

private:
    std::recursive_mutex sync_lock_;
    std::atomic<bool> port_lost_{false};
};

// One line on standard error, whole even when threads print at once.
void Say(const std::string& line);
// One line on standard output, flushed.
void Print(const std::string& line);
// Both into this file from now on (a Windows service has no standard
// streams to write to); nullptr: the standard streams again.
void SendOutputTo(std::FILE* file);
// Both appended to the log file at path (UTF-8) from now on; whenever a
// line takes it past limit bytes it becomes path.1 (the one before that is
// dropped) and a new one starts: a service running for months keeps two
// files at most. False when the file cannot be opened.
bool SendOutputToLog(const std::string& path, std::uintmax_t limit);

} // namespace chronavel::ctl

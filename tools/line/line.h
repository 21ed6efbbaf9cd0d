// The tool's hold on the clock line: opening the port into PortHandle,
// running the exchange thread, noticing that the port has gone, and letting
// everything go again.
#pragma once

#include "config/register_values.h"
#include "port/port.h"
#include "tools/line/exit_codes.h"
#include "tools/line/line_options.h"
#include "tools/line/tool_host.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

// Set by SIGINT and SIGTERM once InstallSignalHandlers has run; StopSignal
// holds the signal's number.
extern std::atomic<bool> StopRequested;
extern std::atomic<int> StopSignal;
// Set by SIGHUP once InstallSignalHandlers has run: the daemon takes a
// census of its line; cleared by whoever acts on it.
extern std::atomic<bool> CensusRequested;
// SIGHUP, for the daemon's web configuration (read again).
extern std::atomic<bool> ReloadRequested;
void InstallSignalHandlers();
// What a stop signal does, for a stop asked for another way (the Windows
// service control manager's STOP).
void RequestStop(int sig);

class Line {
public:
    Line(const LineOptions& options, ToolHost& host);
    ~Line(); // Close()
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Opens the port and makes it PortHandle. kExitOk, or kExitPort after a
    // message (the core's own text first, then which port). quiet: nothing
    // is said (the daemon reports its reconnect attempts in its own words).
    int Open(bool quiet = false);
    bool IsOpen() const;

    // Starts the exchange thread on the open port.
    void StartExchange();

    // True when the port has vanished (unplugged adapter, closed pty) or the
    // exchange thread ended on an error.
    bool Lost() const;

    // A port read that failed in a synchronous transaction, if any: said
    // once and the line lost from then on, as for a failed read anywhere
    // on the line.
    void ReadFailed(const std::optional<ReadFailure>& failure) const;
    // The registers the clock at addr answers (ReadRegistersNow), a failed
    // read told as above.
    RegisterValues ReadRegisters(uint8_t addr, const std::vector<uint8_t>& regs, int limit) const;

    // Stops the exchange thread (waiting for it) and closes the port.
    void Close();

    // Says once per connection that the adapter echoes what is sent (its
    // echo is dropped, never taken for an answer). Close calls it too.
    void SayEchoOnce();

    const LineOptions& Options() const { return options_; }

private:
    void SayNotOpened(const PortOpening& opened) const;

    LineOptions options_;
    ToolHost& host_;
    bool exchange_ = false;
    uint32_t echoes_at_open_ = 0;
    bool echo_said_ = false;
};

// Says that the port is gone and returns kExitPort.
int PortVanished(const LineOptions& options);

} // namespace chronavel::ctl

#include "app/master_search.h"

#include "app/connect.h"
#include "app/ini_file_chronavel.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/host.h"
#include "link/reception.h"
#include "platform/tick.h"
#include "port/decode.h"
#include "port/io_hold.h"
#include "port/port.h"
#include "port/port_list.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

namespace chronavel {

namespace {

constexpr int kBitsPerByte = 10;     // start, 8 data, stop
constexpr int kProbeFrameBytes = 9;  // the short frame going out
constexpr int kReplyHeaderBytes = 9; // a wake byte and the 8-byte reply header
constexpr int kSpareBytes = 4;
constexpr int kClockTurnaroundMs = 20; // a clock's time from our last byte to its first
// A USB serial adapter holds a short reply until its latency timer runs out
// (16 ms by default on common adapters) before the PC sees it.
constexpr int kAdapterLatencyMs = 16;
constexpr int kMinReadTimeoutMs = 5;
// One unanswered wait per address: a second would double a silent line's
// search for the rare reply lost to noise.
constexpr int kProbeLimit = 1;
constexpr int kSilentReport = 2;
// A probe that met another clock's bytes is asked again, while the line has
// been busy for less than the longest frame a clock sends (a wake byte, the
// header, 255 data bytes and the check byte) with room to spare, and at most
// this many times.
constexpr int kBusyRetries = 8;
constexpr int kLongestFrameBytes = 1 + 8 + 255 + 1;
constexpr int kBusySpareBytes = 35;
constexpr int kSearchSpeed = 9600;
constexpr auto kStopWait = std::chrono::milliseconds(3000);

// A probe whose wait was cut short by other traffic (a master's status or
// text block streaming past, up to about 270 ms at 9600 Bd) proves nothing
// about the address, so it is made again, this often at most.
constexpr int kBusyLineAttempts = 8;

// Probes one address: nullopt when it did not answer, else the master bit.
std::optional<bool> Probe(uint8_t candidate, const SyncPatience& patience)
{
    for (int attempt = 0; attempt < kBusyLineAttempts; ++attempt) {
        NoAnswer.store(0);
        // The answer's header is read before the exchange thread, if one
        // runs, can hunt over it.
        PortIoHold hold;
        if (SyncTransaction(candidate, kCmdReadRegister, kRegMasterFlags, 0, kProbeLimit,
                            kSilentReport, patience)) {
            const ReplyHeader h = CurrentReplyHeader();
            return h.Param1 == kRegMasterFlags && (h.Param2 & master_bits::kMaster) != 0;
        }
        // Nothing at all came: the address is silent.
        if (Reception.HuntBytes.load() == 0)
            break;
    }
    return std::nullopt;
}

} // namespace

SyncPatience ProbePatience(int speed)
{
    const double byte_ms = static_cast<double>(kBitsPerByte) * 1000.0 / std::max(speed, 1);
    const double wait_ms = (kProbeFrameBytes + kReplyHeaderBytes + kSpareBytes) * byte_ms +
                           kClockTurnaroundMs + kAdapterLatencyMs;
    SyncPatience p;
    p.ReadTimeoutMs = std::max(kMinReadTimeoutMs, static_cast<int>(std::ceil(3 * byte_ms)));
    p.EmptyReadLimit = std::max(2, static_cast<int>(std::ceil(wait_ms / p.ReadTimeoutMs)));
    return p;
}

MasterSearchRun::MasterSearchRun(int speed)
    : patience_(ProbePatience(speed)),
      busy_window_ms_(static_cast<uint32_t>(std::ceil((kLongestFrameBytes + kBusySpareBytes) *
                                                      kBitsPerByte * 1000.0 / std::max(speed, 1)))),
      no_answer_before_(NoAnswer.load())
{
    MasterAddress.store(0);
}

MasterSearchRun::~MasterSearchRun()
{
    NoAnswer.store(no_answer_before_);
}

uint8_t MasterSearchRun::Found() const
{
    return MasterAddress.load();
}

bool MasterSearchRun::Step()
{
    if (done_)
        return true;
    const uint8_t candidate = next_;
    // A clock answers only once the line is free: a probe that meets another
    // clock's frame (a master's status block takes over 100 ms at 9600 Bd, a
    // text block up to 280 ms) is not heard or answered too late. Such a
    // probe is asked again until the line has had time to clear; on a silent
    // line every address is asked once.
    const uint32_t started = platform::GetTickCount();
    for (int attempt = 0; attempt <= kBusyRetries; ++attempt) {
        NoAnswer.store(0);
        const uint32_t seen_before = Reception.BytesSeen.load();
        bool answered = false;
        {
            // The answer's header is read before the exchange thread, if one
            // runs, can hunt over it.
            PortIoHold hold;
            answered = SyncTransaction(candidate, kCmdReadRegister, kRegMasterFlags, 0, kProbeLimit,
                                       kSilentReport, patience_);
        }
        if (answered) {
            const ReplyHeader h = CurrentReplyHeader();
            if (h.Param1 == kRegMasterFlags && (h.Param2 & master_bits::kMaster) != 0)
                MasterAddress.store(candidate);
            break;
        }
        const platform::SerialPtr port = PortHandle.Get();
        if (!port || port->Lost() || Reception.BytesSeen.load() == seen_before)
            break;
        if (platform::GetTickCount() - started > busy_window_ms_)
            break;
    }
    const platform::SerialPtr port = PortHandle.Get();
    port_lost_ = !port || port->Lost();
    done_ = MasterAddress.load() != 0 || candidate >= kLastSearchAddress || port_lost_;
    if (!done_)
        next_ = static_cast<uint8_t>(candidate + 1);
    return done_;
}

uint8_t SearchMaster(int speed, const SearchProgress& progress, const std::atomic<bool>* cancel)
{
    MasterSearchRun run(speed);
    while (!run.Done()) {
        if (cancel && cancel->load())
            break;
        if (progress)
            progress(run.Next());
        run.Step();
    }
    return run.Found();
}

MasterSearchPort::MasterSearchPort(const std::string& chosen)
{
    if (PortHandle && Connection.ComPort == chosen) {
        reused_ = true;
        speed_ = Connection.ComSpeed > 0 ? Connection.ComSpeed : kSearchSpeed;
        return;
    }
    // No exchange thread runs beside the search: it would take the port
    // opened for it.
    StopExchangeThread(kStopWait);
    if (PortHandle)
        ClosePort();
    speed_ = kSearchSpeed;
    Connection.ComSpeed = kSearchSpeed;
    Connection.ComPort = chosen;
    platform::SerialPtr port = OpenPort(chosen, kSearchSpeed);
    PortHandle.Set(port);
    opened_ = port != nullptr;
}

MasterSearchPort::~MasterSearchPort()
{
    if (opened_)
        ClosePort();
}

bool MasterSearchPort::Ready() const
{
    return PortHandle.Get() != nullptr;
}

std::unique_ptr<MasterSearchPort> OpenSearchPort(int port_index, int port_count)
{
    Host& host = CurrentHost();
    if (port_count <= 0 || port_index < 0 || port_index >= port_count ||
        port_index >= kMaxPortNames) {
        host.ShowMessage(kNoPortText);
        return nullptr;
    }
    try {
        auto port = std::make_unique<MasterSearchPort>(PortNames[static_cast<size_t>(port_index)]);
        if (!port->Ready())
            return nullptr; // "Error opening port" has been shown
        return port;
    } catch (const PortError& e) {
        host.ShowMessage(e.what());
        return nullptr;
    }
}

std::vector<CensusEntry> TakeCensus(int speed, const SearchProgress& progress,
                                    const std::atomic<bool>* cancel,
                                    const std::vector<uint8_t>& expected)
{
    const SyncPatience patience = ProbePatience(speed);
    const uint8_t no_answer_before = NoAnswer.load();
    std::vector<CensusEntry> found;
    for (int a = kFirstSearchAddress; a <= kLastSearchAddress; ++a) {
        if (cancel && cancel->load())
            break;
        const auto candidate = static_cast<uint8_t>(a);
        if (progress)
            progress(candidate);
        auto master = Probe(candidate, patience);
        if (!master && std::find(expected.begin(), expected.end(), candidate) != expected.end())
            master = Probe(candidate, SyncPatience{});
        if (master)
            found.push_back({candidate, *master});
    }
    NoAnswer.store(no_answer_before);
    if (!cancel || !cancel->load())
        RememberCensus(found);
    return found;
}

namespace {
std::mutex census_lock;
std::vector<CensusEntry> last_census;
} // namespace

bool CensusSawClockAt(uint8_t addr)
{
    std::lock_guard<std::mutex> hold(census_lock);
    return std::any_of(last_census.begin(), last_census.end(),
                       [addr](const CensusEntry& e) { return e.Addr == addr; });
}

void RememberCensus(const std::vector<CensusEntry>& found)
{
    std::lock_guard<std::mutex> hold(census_lock);
    last_census = found;
}

} // namespace chronavel

// The master search: the bus addresses 1..254 probed in order, each with a
// synchronous read of the master-flags register, until a clock answers with
// the master bit set.
#pragma once

#include "port/sync.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace chronavel {

constexpr uint8_t kFirstSearchAddress = 1;
constexpr uint8_t kLastSearchAddress = 254;

// How long one probe waits at a line speed: our frame going out, the
// clock's turnaround and its reply coming in, with a little to spare. A few
// tens of milliseconds at 9600 Bd, where the full wait of a transaction
// would be ten read time-outs of 80 ms.
SyncPatience ProbePatience(int speed);

// One search, a probe at a time, for a caller that goes on with other work
// between probes (a window that keeps painting). Creating it clears
// MasterAddress; ending it (done or dropped half-way) puts NoAnswer back as
// it was, since a silent address is not a failed link.
class MasterSearchRun {
public:
    explicit MasterSearchRun(int speed);
    ~MasterSearchRun();
    MasterSearchRun(const MasterSearchRun&) = delete;
    MasterSearchRun& operator=(const MasterSearchRun&) = delete;

    // The address the next Step probes; 0 once the search is over.
    uint8_t Next() const { return done_ ? 0 : next_; }
    // Probes Next() on the open port (PortHandle). True when the search is
    // over: a master answered, 254 was probed, or the port is gone (probing
    // on would only repeat its line errors).
    bool Step();
    bool Done() const { return done_; }
    bool PortLost() const { return port_lost_; }
    // MasterAddress: the master's address, or 0 while none has answered.
    uint8_t Found() const;

private:
    SyncPatience patience_;
    uint32_t busy_window_ms_;
    uint8_t no_answer_before_;
    uint8_t next_ = kFirstSearchAddress;
    bool done_ = false;
    bool port_lost_ = false;
};

// Called before each probe with the address about to be probed.
using SearchProgress = std::function<void(uint8_t candidate)>;

// Probes 1..254 on the open port (PortHandle) at the given line speed.
// Stops at the first master and returns MasterAddress: that clock's address,
// or 0 when none answered as master (or cancel was set). NoAnswer is left as
// it was before the search: a silent address is not a failed link.
uint8_t SearchMaster(int speed, const SearchProgress& progress = {},
                     const std::atomic<bool>* cancel = nullptr);

// The port for a search started from the connection dialog ("Мастер..."),
// for the scope of the search. When the chosen port is the open one the
// connection stands and the search uses it as it is (its speed, its exchange
// thread: every probe holds the port, so no answer is taken from under it).
// Otherwise a connection to another port is ended (exchange thread stopped,
// port closed), ComSpeed := 9600, ComPort := the chosen port, and the port is
// opened at 9600 Bd, and closed again when the scope ends. Opening may show
// "Error opening port" (then Ready() is false) or throw PortError("Error
// setting port state").
class MasterSearchPort {
public:
    explicit MasterSearchPort(const std::string& chosen);
    ~MasterSearchPort();
    MasterSearchPort(const MasterSearchPort&) = delete;
    MasterSearchPort& operator=(const MasterSearchPort&) = delete;

    bool Ready() const;
    bool Reused() const { return reused_; }
    int Speed() const { return speed_; }

private:
    bool reused_ = false;
    bool opened_ = false;
    int speed_ = 0;
};

// "Мастер..." up to the search: the device name of the chosen entry of the
// port list, and its port as MasterSearchPort makes it ready. Null, with the
// reason shown through the host, when there is no port to search on (an
// empty list, "Error opening port", "Error setting port state").
std::unique_ptr<MasterSearchPort> OpenSearchPort(int port_index, int port_count);
// One clock that answered the census: its address, and whether it reports
// itself as master (bit 7 of its master-flags register).
struct CensusEntry {
    uint8_t Addr = 0;
    bool Master = false;
    bool operator==(const CensusEntry&) const = default;
};

// Probes every address 1..254 on the open port with the search's fast probe
// and lists the clocks that answered, in address order. An address in
// expected (a clock that answered before) that misses the fast probe gets
// a second, patient one (the transaction's usual ten read time-outs), so a
// clock answering a little late, or a PC busy for a moment, is not taken
// for a silent clock. Stops early when cancel is set (the list then holds
// what answered so far). NoAnswer and MasterAddress are left as they were.
std::vector<CensusEntry> TakeCensus(int speed, const SearchProgress& progress = {},
                                    const std::atomic<bool>* cancel = nullptr,
                                    const std::vector<uint8_t>& expected = {});

// Whether the last census that ran to its end found a clock at addr (false
// when none ran in this program).
bool CensusSawClockAt(uint8_t addr);
// The last census forgotten (tests); or set as if it had found these.
void RememberCensus(const std::vector<CensusEntry>& found);

} // namespace chronavel

// The master search: the bus addresses 1..254 probed in order, each with a
// synchronous read of the master-flags register, until a clock answers with
// the master bit set.
#pragma once

#include "port/sync.h"

#include <array>
#include <atomic>
#include <chrono>
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
// MasterAddress.
class MasterSearchRun {
public:
    explicit MasterSearchRun(int speed);
    MasterSearchRun(const MasterSearchRun&) = delete;
    MasterSearchRun& operator=(const MasterSearchRun&) = delete;

    // The address the next Step probes; 0 once the search is over.
    uint8_t Next() const { return done_ ? 0 : next_; }
    // Probes Next() on the open port (PortHandle). True when the search is
    // over: a master answered, 254 was probed, or the port is gone (probing
    // on would only repeat its line errors). A port read that fails is shown
    // ("Error reading port") and counts as the port gone.
    bool Step();
    bool Done() const { return done_; }
    bool PortLost() const { return port_lost_; }
    // MasterAddress: the master's address, or 0 while none has answered.
    uint8_t Found() const;

private:
    SyncPatience patience_;
    uint32_t busy_window_ms_;
    uint8_t next_ = kFirstSearchAddress;
    bool done_ = false;
    bool port_lost_ = false;
};

// Called before each probe with the address about to be probed.
using SearchProgress = std::function<void(uint8_t candidate)>;

// Probes 1..254 on the open port (PortHandle) at the given line speed.
// Stops at the first master and returns MasterAddress: that clock's address,
// or 0 when none answered as master (or cancel was set).
uint8_t SearchMaster(int speed, const SearchProgress& progress = {},
                     const std::atomic<bool>* cancel = nullptr);

// The port for a search started from the connection dialog ("Мастер..."),
// for the scope of the search. When the chosen port is the open one the
// connection stands and the search uses it as it is (its speed, its exchange
// thread: every probe holds the port, so no answer is taken from under it).
// Otherwise a connection to another port is ended (exchange thread stopped,
// port closed), ComSpeed := 9600, ComPort := the chosen port, and the port is
// opened at 9600 Bd, and closed again when the scope ends. A port that does
// not open is told to the operator (OpenPortForOperator) and leaves Ready()
// false.
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

// The answer delays seen on a line, in ms from the start of a probe's write
// to its answer's header (the latest 32 kept). A census sizes its waits by
// them; a caller that takes the census of one line again and again (the
// daemon) hands them on from one census to the next.
class ReplyDelays {
public:
    void Add(uint32_t ms);
    size_t Count() const { return count_ < kKept ? count_ : kKept; }
    // The middle one of the kept delays (the lower of the two middle ones);
    // 0 when none has been seen. A delay the PC's own load stretched now and
    // then does not move it; a line whose clocks answer late does.
    uint32_t Typical() const;

private:
    static constexpr size_t kKept = 32;
    std::array<uint32_t, kKept> kept_{};
    size_t count_ = 0; // all ever added
};

// The census's fast probe at a line speed after the delays seen: a wait half
// as long again as their Typical(), never shorter than ProbePatience (with
// its allowance for a USB adapter's latency timer), at most three times that.
// An answer later than that is heard during a later probe, and its clock
// asked again at the census's end.
SyncPatience CensusPatience(int speed, const ReplyDelays& seen);

// What one census step asked and heard.
struct CensusStep {
    uint8_t Addr = 0; // 0 before the first step
    bool Answered = false;
    bool Master = false;
    bool Again = false; // the patient second asking at the census's end
};

// One census, a probe at a time, for a caller that goes on with other work
// between probes. Addresses 1..254 get the fast probe, its wait following the
// line's answers so far (CensusPatience); then each address that missed it
// but was expected, or was heard on the line during the run (an answer that
// came too late, a master's block), is asked again with a transaction's usual
// patience, in address order, before it is called silent. A probe that met
// other traffic is made again while the line has been busy less than its
// longest frame. MasterAddress is not touched. Run to its end (not when the port is lost),
// the result is remembered (RememberCensus).
class CensusRun {
public:
    explicit CensusRun(int speed, const std::vector<uint8_t>& expected = {},
                       const ReplyDelays& delays = {});
    CensusRun(const CensusRun&) = delete;
    CensusRun& operator=(const CensusRun&) = delete;

    // The address the next Step asks; 0 once the census is over.
    uint8_t Next() const;
    // Asks Next() on the open port (PortHandle). True when the census is
    // over: every address and every second asking made, or the port gone (a
    // port read that fails is shown and counts as that).
    bool Step();
    bool Done() const { return done_; }
    bool PortLost() const { return port_lost_; }
    // The clocks that answered so far, in address order.
    const std::vector<CensusEntry>& Found() const { return found_; }
    // The step made last: its address, whether it answered and as master.
    const CensusStep& Last() const { return last_; }
    // The longest the next Step can take, and so hold back a frame the
    // exchange thread has to send: its waits (asked again on a busy line)
    // and a foreign frame read past, not counting a wait for the exchange
    // thread to let go of the port, nor a PC that stalls. 0 once over.
    std::chrono::milliseconds StepBound() const;
    // The delays seen, those handed in included.
    const ReplyDelays& Delays() const { return delays_; }

private:
    void Heard(const ReplyHeader& h);
    void Ended();

    int speed_;
    uint32_t busy_window_ms_;
    ReplyDelays delays_;
    std::array<bool, 256> expected_{};
    std::array<bool, 256> heard_{};
    std::array<bool, 256> answered_{};
    std::array<bool, 256> queued_{}; // for the second asking
    std::vector<uint8_t> again_;     // the second askings, in order
    size_t again_at_ = 0;
    uint8_t next_ = kFirstSearchAddress;
    bool second_round_ = false;
    // The probe before the current one while it stands unanswered: its
    // answer heard late gives its delay.
    uint8_t late_addr_ = 0;
    uint32_t late_sent_ = 0;
    std::vector<CensusEntry> found_;
    CensusStep last_;
    bool done_ = false;
    bool port_lost_ = false;
};

// The whole census at once (a loop over CensusRun): the clocks that answered,
// in address order. Stops early when cancel is set (the list then holds what
// answered so far, and is not remembered). expected: clocks that answered
// before, asked again patiently when they miss. delays: the line's answer
// delays, taken as a start and given back with this census's added.
// MasterAddress is left as it was.
std::vector<CensusEntry> TakeCensus(int speed, const SearchProgress& progress = {},
                                    const std::atomic<bool>* cancel = nullptr,
                                    const std::vector<uint8_t>& expected = {},
                                    ReplyDelays* delays = nullptr);

// One clock asked for its master flags once, as a watch of the line asks
// between censuses: fast (the probe's short wait, a busy line asked again
// as by the census) or patient (a transaction's usual wait, for a clock
// that just missed). heard: each other header met on the way.
struct ClockProbe {
    bool Answered = false;
    bool Master = false;
    bool PortLost = false; // the port is gone, or a read of it failed (shown)
};
ClockProbe ProbeClock(uint8_t addr, int speed, bool patient,
                      const std::function<void(const ReplyHeader&)>& heard = {});

// The longest a ProbeClock (or a census step) with this patience can hold
// the port: the busy line's second askings, the waits, a foreign frame read
// past and the bytes heard after the last wait.
std::chrono::milliseconds ProbeBound(int speed, const SyncPatience& patience);
// The patience ProbeClock waits with.
SyncPatience WatchPatience(int speed, bool patient);

// Whether the last census that ran to its end found a clock at addr (false
// when none ran in this program).
bool CensusSawClockAt(uint8_t addr);
// The last census forgotten (tests); or set as if it had found these.
void RememberCensus(const std::vector<CensusEntry>& found);

} // namespace chronavel

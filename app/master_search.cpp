#include "app/master_search.h"

#include "app/connect.h"
#include "app/ini_file_chronavel.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/host.h"
#include "link/host_call.h"
#include "link/line_clock.h"
#include "link/reception.h"
#include "platform/tick.h"
#include "port/decode.h"
#include "port/io_hold.h"
#include "port/port.h"
#include "port/port_list.h"

#include <algorithm>
#include <cmath>
#include <mutex>

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
// A probe that met another clock's bytes is asked again, while the line has
// been busy for less than its first wait and the longest frame a clock sends
// (a wake byte, the header, 255 data bytes and the check byte) with room to
// spare, and at most this many times.
constexpr int kBusyRetries = 8;
constexpr int kLongestFrameBytes = 1 + 8 + 255 + 1;
constexpr int kBusySpareBytes = 35;
constexpr int kSearchSpeed = 9600;
constexpr auto kStopWait = std::chrono::milliseconds(3000);

// Our answer's bytes: a wake byte and the 8-byte header (twice that when an
// adapter echoes our frame). A probe that read more met other traffic, and
// its delay says nothing about the clock's.
constexpr uint32_t kCleanProbeBytes = 2 * kReplyHeaderBytes;
// The census's wait: half as long again as the middle one of the latest
// answers' delays, never past three times the fast probe's. (The delay nine
// answers in ten kept within let a few answers the PC's load had stretched
// lengthen every silent address's wait: 6 % slower on a loaded machine.)
constexpr double kDelayMargin = 1.5;
constexpr int kCensusWaitCap = 3;

uint32_t BusyWindowMs(int speed)
{
    return static_cast<uint32_t>(std::ceil((kLongestFrameBytes + kBusySpareBytes) * kBitsPerByte *
                                           1000.0 / std::max(speed, 1)));
}

struct ProbeOutcome {
    bool Answered = false;
    bool Master = false;
    bool Clean = false;                 // only our answer came: DelayMs is the clock's
    uint32_t DelayMs = 0;               // from the last write to the answer
    uint32_t SentAt = 0;                // the tick of the last write
    std::optional<ReadFailure> Failure; // a port read failed: the probe stopped there
};

// One read's time-out under a patience (the port's own when it keeps it).
int ReadTimeoutOf(const SyncPatience& p)
{
    if (p.ReadTimeoutMs > 0)
        return p.ReadTimeoutMs;
    const platform::SerialPtr port = PortHandle.Get();
    return port ? std::max(1, port->ReadTimeoutPerByte()) : 1;
}

// When a probe that went unanswered is made again. A clock answers only
// once the line is free: a probe that meets another clock's frame (a
// master's status block takes over 100 ms at 9600 Bd, a text block up to
// 280 ms) is not heard or answered too late, so it is asked again until the
// line has had time to clear; on a silent line an address is asked once.
struct BusyRule {
    uint32_t WindowMs = 0; // asked again while less has passed since the first
    // Only when the wait ended amid other bytes (the census); else when any
    // came (the master search). A wait whose traffic passed and left the
    // line quiet gave a clock its time to answer.
    bool BusyAtEnd = false;
};

// Probes one address.
ProbeOutcome ProbeAddress(uint8_t candidate, const SyncPatience& patience, const BusyRule& rule)
{
    ProbeOutcome out;
    const uint32_t started = platform::GetTickCount();
    for (int attempt = 0; attempt <= kBusyRetries; ++attempt) {
        const uint32_t seen_before = Reception.BytesSeen.load();
        bool answered = false;
        ReplyHeader reply;
        bool busy_at_end = false;
        std::optional<LineNotice> line;
        {
            // The answer's header is read before the exchange thread, if one
            // runs, can hunt over it.
            PortIoHold hold;
            out.SentAt = platform::GetTickCount();
            const TransactionResult r = SyncTransaction(candidate, kCmdReadRegister,
                                                        kRegMasterFlags, 0, kProbeLimit, patience);
            line = r.Line;
            if (r.Failure) {
                out.Failure = r.Failure;
                break;
            }
            answered = r.Answered;
            reply = r.Reply;
            out.DelayMs = platform::GetTickCount() - out.SentAt;
            busy_at_end = Reception.HuntBytes.load() != 0;
        }
        ShowLineNotice(line); // the silence of an address is no news
        if (answered) {
            out.Answered = true;
            out.Master =
                reply.Param1 == kRegMasterFlags && (reply.Param2 & master_bits::kMaster) != 0;
            out.Clean = Reception.BytesSeen.load() - seen_before <= kCleanProbeBytes;
            break;
        }
        const platform::SerialPtr port = PortHandle.Get();
        if (!port || port->Lost() || Reception.BytesSeen.load() == seen_before)
            break;
        if ((rule.BusyAtEnd && !busy_at_end) || platform::GetTickCount() - started > rule.WindowMs)
            break;
    }
    return out;
}

bool PortGone()
{
    const platform::SerialPtr port = PortHandle.Get();
    return !port || port->Lost();
}

// After a probe: the port gone, or a read on it failed (said here: a step's
// caller learns only that the port counts as gone).
bool PortGoneAfter(const ProbeOutcome& o)
{
    if (o.Failure)
        HostPortError(o.Failure->Kind, o.Failure->Text);
    return o.Failure || PortGone();
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
    : patience_(ProbePatience(speed)), busy_window_ms_(BusyWindowMs(speed))
{
    MasterAddress.store(0);
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
    const ProbeOutcome o = ProbeAddress(candidate, patience_, {busy_window_ms_, false});
    if (o.Master)
        MasterAddress.store(candidate);
    port_lost_ = PortGoneAfter(o);
    done_ = MasterAddress.load() != 0 || candidate >= kLastSearchAddress || port_lost_;
    if (!done_)
        next_ = static_cast<uint8_t>(candidate + 1);
    return done_;
}

namespace {

// A search or census a step at a time until it is done or cancelled, each
// address told before it is asked.
template <class Run>
void StepToTheEnd(Run& run, const SearchProgress& progress, const std::atomic<bool>* cancel)
{
    while (!run.Done()) {
        if (cancel && cancel->load())
            break;
        if (progress)
            progress(run.Next());
        run.Step();
    }
}

} // namespace

uint8_t SearchMaster(int speed, const SearchProgress& progress, const std::atomic<bool>* cancel)
{
    MasterSearchRun run(speed);
    StepToTheEnd(run, progress, cancel);
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
    PortOpening opening = OpenPortForOperator(chosen, kSearchSpeed);
    PortHandle.Set(opening.port);
    opened_ = opening.port != nullptr;
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
    auto port = std::make_unique<MasterSearchPort>(PortNames[static_cast<size_t>(port_index)]);
    if (!port->Ready())
        return nullptr; // why has been shown
    return port;
}

void ReplyDelays::Add(uint32_t ms)
{
    kept_[count_ % kKept] = ms;
    ++count_;
}

uint32_t ReplyDelays::Typical() const
{
    const size_t n = Count();
    if (n == 0)
        return 0;
    std::array<uint32_t, kKept> sorted = kept_;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>((n - 1) / 2);
    std::nth_element(sorted.begin(), middle, sorted.begin() + static_cast<std::ptrdiff_t>(n));
    return *middle;
}

SyncPatience CensusPatience(int speed, const ReplyDelays& seen)
{
    SyncPatience p = ProbePatience(speed);
    const int floor_ms = p.ReadTimeoutMs * p.EmptyReadLimit;
    const double wanted = std::clamp(kDelayMargin * seen.Typical(), static_cast<double>(floor_ms),
                                     static_cast<double>(kCensusWaitCap * floor_ms));
    p.EmptyReadLimit = static_cast<int>(std::ceil(wanted / p.ReadTimeoutMs));
    return p;
}

CensusRun::CensusRun(int speed, const std::vector<uint8_t>& expected, const ReplyDelays& delays)
    : speed_(speed), busy_window_ms_(BusyWindowMs(speed)), delays_(delays)
{
    for (const uint8_t a : expected)
        expected_[a] = true;
}

uint8_t CensusRun::Next() const
{
    if (done_)
        return 0;
    return second_round_ ? again_[again_at_] : next_;
}

std::chrono::milliseconds CensusRun::StepBound() const
{
    if (done_)
        return std::chrono::milliseconds(0);
    return ProbeBound(speed_, second_round_ ? SyncPatience{} : CensusPatience(speed_, delays_));
}

std::chrono::milliseconds ProbeBound(int speed, const SyncPatience& p)
{
    const int read_ms = ReadTimeoutOf(p);
    // The last try starts within the busy window and one wait; it waits its
    // own, may read past the longest foreign frame, end each read on its
    // time-out and hear what is still coming in.
    const auto longest =
        std::chrono::ceil<std::chrono::milliseconds>(WireTime(kLongestReply, std::max(speed, 1)));
    return std::chrono::milliseconds(BusyWindowMs(speed)) +
           std::chrono::milliseconds(read_ms) * (2 * p.EmptyReadLimit + 2) + longest +
           std::chrono::milliseconds(HearingMs(speed, read_ms));
}

SyncPatience WatchPatience(int speed, bool patient)
{
    return patient ? SyncPatience{} : ProbePatience(speed);
}

ClockProbe ProbeClock(uint8_t addr, int speed, bool patient,
                      const std::function<void(const ReplyHeader&)>& heard)
{
    SyncPatience patience = WatchPatience(speed, patient);
    patience.Heard = heard;
    const auto wait_ms = static_cast<uint32_t>(ReadTimeoutOf(patience) * patience.EmptyReadLimit);
    const ProbeOutcome o = ProbeAddress(addr, patience, {BusyWindowMs(speed) + wait_ms, true});
    return {o.Answered, o.Master, PortGoneAfter(o)};
}

void CensusRun::Heard(const ReplyHeader& h)
{
    if (h.Addr < kFirstSearchAddress || h.Addr > kLastSearchAddress)
        return;
    heard_[h.Addr] = true;
    // An answer to the probe before: it came after that probe gave up.
    if (h.Addr == late_addr_ && h.Cmd == kReplyRegister && h.Param1 == kRegMasterFlags) {
        delays_.Add(platform::GetTickCount() - late_sent_);
        late_addr_ = 0;
    }
    // Heard in the second round: asked again too, once.
    if (second_round_ && !answered_[h.Addr] && !queued_[h.Addr]) {
        queued_[h.Addr] = true;
        again_.push_back(h.Addr);
    }
}

bool CensusRun::Step()
{
    if (done_)
        return true;
    const uint8_t candidate = Next();
    SyncPatience patience = second_round_ ? SyncPatience{} : CensusPatience(speed_, delays_);
    patience.Heard = [this](const ReplyHeader& h) { Heard(h); };
    // The first wait may pass before the line is seen busy at its end.
    const auto wait_ms = static_cast<uint32_t>(ReadTimeoutOf(patience) * patience.EmptyReadLimit);
    const ProbeOutcome o = ProbeAddress(candidate, patience, {busy_window_ms_ + wait_ms, true});

    last_ = {candidate, o.Answered, o.Master, second_round_};
    late_addr_ = o.Answered ? 0 : candidate;
    late_sent_ = o.SentAt;
    if (o.Answered) {
        if (o.Clean)
            delays_.Add(o.DelayMs);
        answered_[candidate] = true;
        const CensusEntry e{candidate, o.Master};
        found_.insert(std::lower_bound(found_.begin(), found_.end(), e,
                                       [](const CensusEntry& x, const CensusEntry& y) {
                                           return x.Addr < y.Addr;
                                       }),
                      e);
    }
    port_lost_ = PortGoneAfter(o);
    if (port_lost_) {
        done_ = true;
        return true;
    }
    if (second_round_) {
        ++again_at_;
    } else if (candidate < kLastSearchAddress) {
        next_ = static_cast<uint8_t>(candidate + 1);
    } else {
        // Every address asked once: those expected or heard that missed
        // are asked again.
        second_round_ = true;
        for (int a = kFirstSearchAddress; a <= kLastSearchAddress; ++a) {
            if ((expected_[a] || heard_[a]) && !answered_[a]) {
                queued_[a] = true;
                again_.push_back(static_cast<uint8_t>(a));
            }
        }
    }
    if (second_round_ && again_at_ >= again_.size())
        Ended();
    return done_;
}

void CensusRun::Ended()
{
    done_ = true;
    RememberCensus(found_);
}

std::vector<CensusEntry> TakeCensus(int speed, const SearchProgress& progress,
                                    const std::atomic<bool>* cancel,
                                    const std::vector<uint8_t>& expected, ReplyDelays* delays)
{
    CensusRun run(speed, expected, delays ? *delays : ReplyDelays{});
    StepToTheEnd(run, progress, cancel);
    if (delays)
        *delays = run.Delays();
    return run.Found();
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

#include "app/master_search.h"

#include "config/registers.h"
#include "link/frames.h"
#include "link/reception.h"
#include "port/decode.h"
#include "port/io_hold.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace chronavel {

namespace {

constexpr int kBitsPerByte = 10;     // start, 8 data, stop
constexpr int kProbeFrameBytes = 9;  // the short frame going out
constexpr int kReplyHeaderBytes = 9; // a wake byte and the 8-byte reply header
constexpr int kSpareBytes = 4;
constexpr int kClockTurnaroundMs = 20; // a clock's time from our last byte to its first
constexpr int kMinReadTimeoutMs = 5;
// One unanswered wait per address: a second would double a silent line's
// search for the rare reply lost to noise.
constexpr int kProbeLimit = 1;
constexpr int kSilentReport = 2;

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
    const double wait_ms =
        (kProbeFrameBytes + kReplyHeaderBytes + kSpareBytes) * byte_ms + kClockTurnaroundMs;
    SyncPatience p;
    p.ReadTimeoutMs = std::max(kMinReadTimeoutMs, static_cast<int>(std::ceil(3 * byte_ms)));
    p.EmptyReadLimit = std::max(2, static_cast<int>(std::ceil(wait_ms / p.ReadTimeoutMs)));
    return p;
}

uint8_t SearchMaster(int speed, const SearchProgress& progress, const std::atomic<bool>* cancel)
{
    const SyncPatience patience = ProbePatience(speed);
    const uint8_t no_answer_before = NoAnswer.load();
    MasterAddress.store(0);
    for (int a = kFirstSearchAddress; a <= kLastSearchAddress; ++a) {
        if (cancel && cancel->load())
            break;
        const auto candidate = static_cast<uint8_t>(a);
        if (progress)
            progress(candidate);
        if (Probe(candidate, patience).value_or(false)) {
            MasterAddress.store(candidate);
            break;
        }
    }
    NoAnswer.store(no_answer_before);
    return MasterAddress.load();
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
    return found;
}

} // namespace chronavel

// The master search: the bus addresses 1..254 probed in order, each with a
// synchronous read of the master-flags register, until a clock answers with
// the master bit set.
#pragma once

#include "port/sync.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace chronavel {

constexpr uint8_t kFirstSearchAddress = 1;
constexpr uint8_t kLastSearchAddress = 254;

// How long one probe waits at a line speed: our frame going out, the
// clock's turnaround and its reply coming in, with a little to spare. A few
// tens of milliseconds at 9600 Bd, where the full wait of a transaction
// would be ten read time-outs of 80 ms.
SyncPatience ProbePatience(int speed);

// Called before each probe with the address about to be probed.
using SearchProgress = std::function<void(uint8_t candidate)>;

// Probes 1..254 on the open port (PortHandle) at the given line speed.
// Stops at the first master and returns MasterAddress: that clock's address,
// or 0 when none answered as master (or cancel was set). NoAnswer is left as
// it was before the search: a silent address is not a failed link.
uint8_t SearchMaster(int speed, const SearchProgress& progress = {},
                     const std::atomic<bool>* cancel = nullptr);

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

} // namespace chronavel

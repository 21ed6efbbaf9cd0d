// Synchronous transactions: one frame written on the calling (window)
// thread and waited for there, resent a bounded number of times. Each
// returns what came of it and shows nothing: the caller decides what the
// operator is told and whether the next transaction is sent.
#pragma once

#include "link/frames.h"
#include "port/port.h"
#include "port/port_error.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace chronavel {

// How patient the wait for an answer is. The defaults are the port's own
// read time-out and ten empty reads (about 0.8 s on a silent line); the
// master search probes with less.
struct SyncPatience {
    int ReadTimeoutMs = 0; // per byte; 0 keeps the port's setting
    int EmptyReadLimit = 10;
    // Told of each other header read past while waiting, on the waiting
    // thread: the census hears a clock's answer that came too late by it.
    // When set, bytes still coming in as the last wait gives up are read for
    // up to HearingMs more instead of purged (the answer among them taken).
    std::function<void(const ReplyHeader&)> Heard;
};

// How long a listened-to transaction hears the bytes still coming in after
// its last wait: two short frames' wire time and two reads.
uint32_t HearingMs(int speed, int per_byte);

// Writes the short frame (addr, cmd, p1, p2) and waits for its answer: a
// reply from addr with command cmd and, for a register read or write, the
// same register (and the written value). Anything else on the line is read
// past and the wait goes on; a wait that hears the line fall silent, or
// that outlasts the time its silent reads would take, ends the attempt, and
// the frame is written again. After `limit` attempts, or once the time they
// would take on a silent line has passed, the line status is checked (what
// it found is in Line, for the caller to show after its own word on the
// silence: NoAnswerMessage where the operator is to hear of it) and the
// port purged. With no port open nothing is written and nothing checked.
// Answered: Reply holds the answer. A data block read past that cannot be
// read ends the transaction at once with the failure: nothing more is
// written or checked.
struct TransactionResult {
    bool Answered = false;
    std::optional<ReadFailure> Failure;
    // The answer's header as it matched. Read it here, not from the
    // reception's places: once the transaction lets go of the port, the
    // exchange thread may hunt the next frame (a master's block) over them.
    ReplyHeader Reply;
    // The line-status check after an unanswered transaction, when it found
    // something to tell (ShowLineNotice).
    std::optional<LineNotice> Line;
    // Written and waited for to the end in vain: what NoAnswerMessage tells
    // of (not so with no port open, a stop asked for, or a failed read).
    bool WentUnanswered = false;
    explicit operator bool() const { return Answered; }
};
[[nodiscard]] TransactionResult SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2,
                                                int limit);
[[nodiscard]] TransactionResult SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2,
                                                int limit, const SyncPatience& patience);

// The no-answer message for an address: what a caller that tells the
// operator of an unanswered transaction shows, before the result's Line.
std::string NoAnswerMessage(uint8_t addr);

} // namespace chronavel

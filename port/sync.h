// Synchronous transactions: one frame written on the calling (window)
// thread and waited for there, resent a bounded number of times. An
// unanswered transaction sets NoAnswer, which stops all further ones until
// the main window clears it.
#pragma once

#include "link/frames.h"
#include "port/port_error.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace chronavel {

// 1 after an unanswered transaction (or one started with no port open);
// while 1, transactions send nothing.
extern std::atomic<uint8_t> NoAnswer;

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
// would take on a silent line has passed, NoAnswer is set, the message
// "Информация от устройства $XX не поступает!" is shown when report is 0,
// and the line status is checked and the port purged. Answered: Reply
// holds the answer. A data block read past
// that cannot be read ends the transaction at once with the failure:
// nothing more is written or shown, NoAnswer is left as it was.
struct TransactionResult {
    bool Answered = false;
    std::optional<ReadFailure> Failure;
    // The answer's header as it matched. Read it here, not from the
    // reception's places: once the transaction lets go of the port, the
    // exchange thread may hunt the next frame (a master's block) over them.
    ReplyHeader Reply;
    explicit operator bool() const { return Answered; }
};
[[nodiscard]] TransactionResult SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2,
                                                int limit, int report);
[[nodiscard]] TransactionResult SyncTransaction(uint8_t addr, uint8_t cmd, uint8_t p1, uint8_t p2,
                                                int limit, int report,
                                                const SyncPatience& patience);

// The no-answer message for an address.
std::string NoAnswerMessage(uint8_t addr);

} // namespace chronavel

// Requests to the clocks: the request record, the ring the window thread
// fills and the exchange thread drains, the pending list with its retries,
// and the two messages between the exchange thread and the main window.
#pragma once

#include "link/frames.h"
#include "link/line_clock.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace chronavel {

constexpr int WM_REQUEST_FAILED = 2024; // WM_USER + 1000
constexpr int WM_REQUEST_CANCEL = 2034; // WM_USER + 1010

// The data block of a data frame. Shared by every copy of the request, so
// it outlives every resend and the failure handler's fresh copy. When
// StampAt is set, the block carries a time of day: every write (first send,
// resend, the failure handler's copy) is timed so that the frame's last byte
// leaves on a second boundary, and the bytes are made for that second.
struct RequestData {
    std::vector<uint8_t> Bytes;
    std::function<std::vector<uint8_t>(WallTime second)> StampAt;
};
using DataRef = std::shared_ptr<const RequestData>;
using ReplyBufRef = std::shared_ptr<std::vector<uint8_t>>;

struct TRequestRec {
    uint8_t Addr = 0;
    uint8_t Cmd = 0;
    uint8_t Param1 = 0;
    uint8_t Param2 = 0;
    int32_t Retries = 0;
    uint32_t NextDue = 0;
    int32_t Interval = 0;
    ReplyBufRef ReplyBuf; // none: the decoder keeps its own block
    DataRef Data;         // none: a short frame
    int32_t ReplyMode = 0;
    int32_t ReplyIndex = 0;
    uint8_t Exhausted = 0;
};

TRequestRec MakeRequest(uint8_t addr, int32_t interval, int32_t retries, uint32_t next_due,
                        uint8_t cmd, uint8_t param1, uint8_t param2, ReplyBufRef reply_buf,
                        DataRef data, int32_t reply_mode, int32_t reply_index);

// The standard queued request of the service commands: TargetAddress-style
// address, 3 retries 3,000 ms apart, due now + 3,000, ReplyMode 2.
TRequestRec StandardRequest(uint8_t addr, uint8_t cmd, uint8_t param1, uint8_t param2);

// Writes a request with the frame its Data calls for, on PortHandle; a data
// frame through the timed write (link/timed_write.h).
void SendRequest(const TRequestRec& req);

// --- The ring: one producer (window thread), one consumer (exchange thread).
// Each exchange thread has its own ring and pending list, built before it
// starts; the functions below work on the calling exchange thread's, and on
// other threads on those of the current exchange thread (or, while a failure
// report is being handled, on those of the reporting thread).
constexpr int kRingRequests = 150;

// n + 1 slots, both positions on slot 0. Only while no other thread uses it.
void CreateRing(int n);
// False (and nothing queued) when the ring is full or was never created; the
// requests already queued are kept.
bool PutRequest(const TRequestRec& req);
// The record at RingRead, and RingRead moves on; a zero record when empty.
TRequestRec GetRequest();
bool RingEmpty();
// How many more requests the ring takes now (0 when it was never created).
int RingRoom();
// Positions as slot numbers, for the window thread's "has it been taken".
int RingRead();
int RingWrite();
// The Param1 of the slot at RingRead (what SwitchMaster watches).
uint8_t RingReadSlotParam1();

// --- The pending list: exchange thread only (and the failure handler while
// the exchange thread waits for it).
struct TPendingNode {
    TRequestRec Rec;
    TPendingNode* Next = nullptr;
    TPendingNode* Prev = nullptr;
};

void InitPending();
void AddPending(const TRequestRec& req);
// The oldest entry whose Addr equals addr or whose Cmd equals cmd (either
// suffices); PendCursor is left on it. Nullptr when none.
TPendingNode* FindPending(uint8_t addr, uint8_t cmd);
// The oldest entry that the reply answers (AnswersRequest: its clock, its
// command, its register and value); PendCursor is left on it. Nullptr when
// none: a master's blocks, another clock's reply or a duplicate of an
// earlier answer removes nothing.
TPendingNode* FindAnswered(const ReplyHeader& reply);
// Unlinks and frees the entry; nullptr and the sentinel are ignored.
void RemovePending(TPendingNode* node);
bool PendingEmpty();
// Every queued request taken, and answered or given up: the ring is empty and
// nothing is pending. Safe on any thread (the pending list itself is not).
bool QueuesIdle();
TPendingNode* PendHead();
TPendingNode* PendTail();
TPendingNode* PendCursor();

// What WM_REQUEST_FAILED carries: a copy of the exhausted record and the
// identity of the exchange thread that reported it.
struct FailureBlock {
    TRequestRec Rec;
    std::thread::id Thread;
};

// The window side's handler of WM_REQUEST_FAILED. Runs on the window thread
// (through the host's Synchronize) while the exchange thread waits; it may
// re-arm the entry at PendCursor, or post WM_REQUEST_CANCEL with the block.
// An exception from it ends the handler and is shown as a message.
// With no handler installed, the request is given up as Cancel would: the
// exchange thread posts WM_REQUEST_CANCEL with the block to itself.
using RequestFailedHandler = std::function<void(std::unique_ptr<FailureBlock>)>;
void SetRequestFailedHandler(RequestFailedHandler handler);
bool RequestFailedHandlerSet();

// One pass of the retry engine: reports entries whose retries are spent,
// resends at most one due entry.
void CheckPending();

// Re-arms the entry at PendCursor as the failure handler's OK does:
// Retries 3, NextDue now + Interval, Exhausted 0; returns the entry's record
// (a zero record when the cursor is on no entry).
TRequestRec RearmCursorEntry();

// --- MasterActive: 1 while a master clock is taken to be active.
extern std::atomic<uint8_t> MasterActive;

// Drops ring, pending list, handler, MasterActive and the frame ends (tests).
void ResetRequestState();

} // namespace chronavel

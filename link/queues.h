// The ring and pending list of one exchange thread, and which of them the
// free functions of link/request.h work on.
#pragma once

#include "link/request.h"

#include <atomic>
#include <memory>
#include <vector>

namespace chronavel {

struct RequestRing {
    std::vector<TRequestRec> Slots; // n + 1; none until CreateRing
    std::atomic<int> Read{0};
    std::atomic<int> Write{0};
};

struct PendingList {
    PendingList() = default;
    ~PendingList();
    PendingList(const PendingList&) = delete;
    PendingList& operator=(const PendingList&) = delete;

    void Clear();

    TPendingNode Head; // the sentinel, never an entry
    TPendingNode* Tail = &Head;
    TPendingNode* Cursor = nullptr;
    // How many entries the list holds, for other threads to look at.
    std::atomic<int> Count{0};
};

struct RequestQueues {
    RequestRing Ring;
    PendingList Pending;
    // Set by the exchange thread from before it takes a request from the ring
    // until that request is on the pending list (or needs no answer), so that
    // no other thread sees the request in neither place.
    std::atomic<bool> Taking{false};
};

// A fresh pair: a ring of ring_requests usable slots and an empty list.
std::shared_ptr<RequestQueues> MakeQueues(int ring_requests);

// Makes q the producers' target (the current exchange thread's queues).
void PublishQueues(std::shared_ptr<RequestQueues> q);

// The queues the calling thread works on: its own on an exchange thread;
// those of a thread whose failure report is being handled; else the current.
RequestQueues& ActiveQueues();

// Binds the calling thread to q for the scope (an exchange thread's loop).
class BindQueues {
public:
    explicit BindQueues(RequestQueues* q);
    ~BindQueues();
    BindQueues(const BindQueues&) = delete;
    BindQueues& operator=(const BindQueues&) = delete;

private:
    RequestQueues* previous_;
};

// Marks q as the queues of a failure report in progress, for the handler
// running on another thread.
class ReportingQueues {
public:
    explicit ReportingQueues(RequestQueues* q);
    ~ReportingQueues();
    ReportingQueues(const ReportingQueues&) = delete;
    ReportingQueues& operator=(const ReportingQueues&) = delete;

private:
    RequestQueues* previous_;
};

} // namespace chronavel

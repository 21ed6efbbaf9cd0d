#include "link/queues.h"

#include <mutex>

namespace chronavel {

namespace {

std::mutex current_lock;
std::shared_ptr<RequestQueues> current; // guarded by current_lock

thread_local RequestQueues* bound = nullptr;
std::atomic<RequestQueues*> reporting{nullptr};

} // namespace

PendingList::~PendingList()
{
    Clear();
}

void PendingList::Clear()
{
    TPendingNode* node = Head.Next;
    while (node) {
        TPendingNode* next = node->Next;
        delete node;
        node = next;
    }
    Head.Next = nullptr;
    Tail = &Head;
    Cursor = nullptr;
    Count.store(0);
}

std::shared_ptr<RequestQueues> MakeQueues(int ring_requests)
{
    auto q = std::make_shared<RequestQueues>();
    if (ring_requests > 0)
        q->Ring.Slots.assign(static_cast<size_t>(ring_requests) + 1, TRequestRec{});
    return q;
}

void PublishQueues(std::shared_ptr<RequestQueues> q)
{
    std::lock_guard<std::mutex> hold(current_lock);
    current = std::move(q);
}

RequestQueues& ActiveQueues()
{
    if (bound)
        return *bound;
    if (RequestQueues* r = reporting.load(std::memory_order_acquire))
        return *r;
    std::lock_guard<std::mutex> hold(current_lock);
    if (!current)
        current = MakeQueues(0);
    // Replaced only by the window thread (a new exchange thread), which is
    // also the only thread that reaches this point in normal operation.
    return *current;
}

BindQueues::BindQueues(RequestQueues* q) : previous_(bound)
{
    bound = q;
}

BindQueues::~BindQueues()
{
    bound = previous_;
}

ReportingQueues::ReportingQueues(RequestQueues* q)
    : previous_(reporting.exchange(q, std::memory_order_acq_rel))
{
}

ReportingQueues::~ReportingQueues()
{
    reporting.store(previous_, std::memory_order_release);
}

} // namespace chronavel

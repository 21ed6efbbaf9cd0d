#include "link/queues.h"

namespace chronavel {

void InitPending()
{
    ActiveQueues().Pending.Clear();
}

void AddPending(const TRequestRec& req)
{
    PendingList& p = ActiveQueues().Pending;
    auto* node = new TPendingNode{req, nullptr, p.Tail};
    p.Tail->Next = node;
    p.Tail = node;
    p.Count.fetch_add(1);
}

TPendingNode* FindPending(uint8_t addr, uint8_t cmd)
{
    PendingList& p = ActiveQueues().Pending;
    TPendingNode* node = p.Head.Next;
    while (node && node->Rec.Addr != addr && node->Rec.Cmd != cmd)
        node = node->Next;
    p.Cursor = node;
    return node;
}

TPendingNode* FindAnswered(const ReplyHeader& reply)
{
    PendingList& p = ActiveQueues().Pending;
    TPendingNode* node = p.Head.Next;
    while (node && !AnswersRequest(reply, node->Rec.Addr, node->Rec.Cmd, node->Rec.Param1,
                                   node->Rec.Param2))
        node = node->Next;
    p.Cursor = node;
    return node;
}

void RemovePending(TPendingNode* node)
{
    PendingList& p = ActiveQueues().Pending;
    if (!node || node == &p.Head)
        return;
    node->Prev->Next = node->Next;
    if (node->Next)
        node->Next->Prev = node->Prev;
    else
        p.Tail = node->Prev;
    // A walk standing on the removed entry goes on from its predecessor.
    if (p.Cursor == node)
        p.Cursor = node->Prev;
    delete node;
    p.Count.fetch_sub(1);
}

bool PendingEmpty()
{
    return ActiveQueues().Pending.Head.Next == nullptr;
}

bool QueuesIdle()
{
    // In this order: a request that has left the ring is marked as being
    // taken before the ring moves on, and is on the list before the mark goes.
    RequestQueues& q = ActiveQueues();
    if (q.Ring.Read.load() != q.Ring.Write.load())
        return false;
    if (q.Taking.load())
        return false;
    return q.Pending.Count.load() == 0;
}

TPendingNode* PendHead()
{
    return &ActiveQueues().Pending.Head;
}

TPendingNode* PendTail()
{
    return ActiveQueues().Pending.Tail;
}

TPendingNode* PendCursor()
{
    return ActiveQueues().Pending.Cursor;
}

} // namespace chronavel

#include "link/queues.h"

namespace chronavel {

// One producer, one consumer, no lock: the producer fills a slot before it
// publishes RingWrite, the consumer empties one before it publishes
// RingRead; a ring whose write position would catch up with the read
// position is full, so at most n of the n + 1 slots are in use.

void CreateRing(int n)
{
    RequestRing& r = ActiveQueues().Ring;
    r.Slots.assign(n > 0 ? static_cast<size_t>(n) + 1 : 0, TRequestRec{});
    r.Read.store(0, std::memory_order_release);
    r.Write.store(0, std::memory_order_release);
}

bool PutRequest(const TRequestRec& req)
{
    RequestRing& r = ActiveQueues().Ring;
    const int size = static_cast<int>(r.Slots.size());
    if (size == 0)
        return false;
    const int w = r.Write.load(std::memory_order_acquire);
    const int next = (w + 1) % size;
    if (next == r.Read.load(std::memory_order_acquire))
        return false;
    r.Slots[static_cast<size_t>(w)] = req;
    r.Write.store(next, std::memory_order_release);
    return true;
}

TRequestRec GetRequest()
{
    RequestRing& r = ActiveQueues().Ring;
    const int size = static_cast<int>(r.Slots.size());
    const int rd = r.Read.load(std::memory_order_acquire);
    if (size == 0 || rd == r.Write.load(std::memory_order_acquire))
        return TRequestRec{};
    TRequestRec& slot = r.Slots[static_cast<size_t>(rd)];
    TRequestRec out = slot;
    // The slot keeps its plain fields (SwitchMaster looks at Param1) but
    // lets go of the shared blocks.
    slot.Data.reset();
    slot.ReplyBuf.reset();
    r.Read.store((rd + 1) % size, std::memory_order_release);
    return out;
}

bool RingEmpty()
{
    const RequestRing& r = ActiveQueues().Ring;
    return r.Read.load(std::memory_order_acquire) == r.Write.load(std::memory_order_acquire);
}

int RingRoom()
{
    const RequestRing& r = ActiveQueues().Ring;
    const int size = static_cast<int>(r.Slots.size());
    if (size == 0)
        return 0;
    const int used =
        (r.Write.load(std::memory_order_acquire) - r.Read.load(std::memory_order_acquire) + size) %
        size;
    return size - 1 - used;
}

int RingRead()
{
    return ActiveQueues().Ring.Read.load(std::memory_order_acquire);
}

int RingWrite()
{
    return ActiveQueues().Ring.Write.load(std::memory_order_acquire);
}

uint8_t RingReadSlotParam1()
{
    const RequestRing& r = ActiveQueues().Ring;
    if (r.Slots.empty())
        return 0;
    return r.Slots[static_cast<size_t>(r.Read.load(std::memory_order_acquire))].Param1;
}

} // namespace chronavel

#include "link/request.h"

#include "link/exchange.h"
#include "link/frames.h"
#include "link/host.h"
#include "link/host_call.h"
#include "link/queues.h"
#include "link/timed_write.h"
#include "platform/tick.h"
#include "port/io_hold.h"
#include "port/port.h"

#include <exception>
#include <mutex>
#include <optional>

namespace chronavel {

std::atomic<uint8_t> MasterActive{0};

namespace {

std::mutex handler_lock;
RequestFailedHandler failed_handler; // guarded by handler_lock

RequestFailedHandler CurrentHandler()
{
    std::lock_guard<std::mutex> hold(handler_lock);
    return failed_handler;
}

// Sends WM_REQUEST_FAILED for rec: runs the handler on the window thread and
// waits for it, with PendCursor left on the entry.
void ReportFailure(RequestQueues& queues, const TRequestRec& rec)
{
    auto block = std::make_unique<FailureBlock>(FailureBlock{rec, std::this_thread::get_id()});
    TNewThread* self = CurrentPassThread();
    RequestFailedHandler handler = CurrentHandler();
    if (!handler) {
        if (self)
            self->PostToThread(WM_REQUEST_CANCEL, std::move(block));
        return;
    }
    HostSynchronize([&] {
        // Marked only while the handler runs on the window thread, so the
        // reports of two threads nest there and never leave it pointing at
        // a list that is gone.
        ReportingQueues reporting(&queues);
        try {
            handler(std::move(block));
        } catch (const std::exception& e) {
            CurrentHost().ShowMessage(e.what()); // on the window thread already
        }
    });
}

} // namespace

TRequestRec MakeRequest(uint8_t addr, int32_t interval, int32_t retries, uint32_t next_due,
                        uint8_t cmd, uint8_t param1, uint8_t param2, ReplyBufRef reply_buf,
                        DataRef data, int32_t reply_mode, int32_t reply_index)
{
    TRequestRec r;
    r.Addr = addr;
    r.Cmd = cmd;
    r.Param1 = param1;
    r.Param2 = param2;
    r.Retries = retries;
    r.NextDue = next_due;
    r.Interval = interval;
    r.ReplyBuf = std::move(reply_buf);
    r.Data = std::move(data);
    r.ReplyMode = reply_mode;
    r.ReplyIndex = reply_index;
    r.Exhausted = 0;
    return r;
}

TRequestRec StandardRequest(uint8_t addr, uint8_t cmd, uint8_t param1, uint8_t param2)
{
    return MakeRequest(addr, 3000, 3, platform::GetTickCount() + 3000u, cmd, param1, param2,
                       nullptr, nullptr, 2, 0);
}

void SendRequest(const TRequestRec& req)
{
    if (!req.Data) {
        PortIoHold hold;
        if (platform::SerialPtr port = LinePort())
            WriteShortFrame(*port, req.Addr, req.Cmd, req.Param1, req.Param2);
        return;
    }
    WriteDataRequest(req);
}

namespace {

bool ReplyComingIn()
{
    PortIoHold hold;
    const platform::SerialPtr port = LinePort();
    return port && port->InputWaiting() > 0;
}

} // namespace

void SetRequestFailedHandler(RequestFailedHandler handler)
{
    std::lock_guard<std::mutex> hold(handler_lock);
    failed_handler = std::move(handler);
}

bool RequestFailedHandlerSet()
{
    return CurrentHandler() != nullptr;
}

void CheckPending()
{
    RequestQueues& queues = ActiveQueues();
    PendingList& p = queues.Pending;
    p.Cursor = &p.Head;
    while (p.Cursor && p.Cursor->Next) {
        p.Cursor = p.Cursor->Next;
        TRequestRec& rec = p.Cursor->Rec;
        if (rec.Exhausted)
            continue;
        // The retry count is tested before the due time: the report follows
        // the last resend by one pass.
        if (rec.Retries <= 0) {
            rec.Exhausted = 1;
            ReportFailure(queues, rec);
            if (LineTakenAway())
                return;
            continue;
        }
        const uint32_t now = platform::GetTickCount();
        if (!platform::TickReached(now, rec.NextDue))
            continue;
        // A reply coming in (perhaps this one's) would be thrown away by the
        // resend's purge: the next pass reads it first. A line that never
        // falls quiet holds the resend back by one interval at most.
        if (ReplyComingIn() &&
            !platform::TickReached(now, rec.NextDue + static_cast<uint32_t>(rec.Interval)))
            return;
        rec.Retries -= 1;
        rec.NextDue = platform::GetTickCount() + static_cast<uint32_t>(rec.Interval);
        SendRequest(rec);
        return;
    }
}

TRequestRec RearmCursorEntry()
{
    PendingList& p = ActiveQueues().Pending;
    TPendingNode* node = p.Cursor;
    if (!node || node == &p.Head)
        return TRequestRec{};
    node->Rec.Retries = 3;
    node->Rec.NextDue = platform::GetTickCount() + static_cast<uint32_t>(node->Rec.Interval);
    node->Rec.Exhausted = 0;
    return node->Rec;
}

void ResetRequestState()
{
    PublishQueues(MakeQueues(0));
    SetRequestFailedHandler(nullptr);
    MasterActive.store(0);
    ResetFrameEnds();
}

} // namespace chronavel

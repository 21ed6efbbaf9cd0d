#include "app/main_logic.h"

#include "link/exchange.h"
#include "link/host.h"
#include "platform/tick.h"
#include "port/port.h"

#include <cstdio>

namespace chronavel {

namespace {

std::string Two(int v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

constexpr int32_t kPeriods[PeriodMenu::kEntries] = {0, 60, 3600, 10800, 86400};

} // namespace

std::string TimeText(const LocalTime& t)
{
    return Two(t.Hour) + "." + Two(t.Minute) + "." + Two(t.Second);
}

std::string DateText(const LocalTime& t)
{
    char year[16];
    std::snprintf(year, sizeof year, "%04d", t.Year);
    return Two(t.Day) + "." + Two(t.Month) + "." + year;
}

int MsToNextSecond(std::chrono::system_clock::time_point now)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    long long into = ms % 1000;
    if (into < 0)
        into += 1000;
    return static_cast<int>(1000 - into);
}

int32_t PeriodSeconds(int entry)
{
    if (entry < 1 || entry >= PeriodMenu::kEntries)
        return 0;
    return kPeriods[entry];
}

int32_t PeriodClick(PeriodChecks& checks, int sender)
{
    for (int i = 0; i < PeriodMenu::kEntries; ++i) {
        if (i != sender)
            checks[static_cast<size_t>(i)] = false;
    }
    int32_t period = 0;
    // Tested in menu order; the last checked one wins (only one can be).
    for (int i = 1; i < PeriodMenu::kEntries; ++i) {
        if (checks[static_cast<size_t>(i)])
            period = kPeriods[i];
    }
    return period;
}

bool Connected()
{
    const std::shared_ptr<TNewThread> t = ExchangeThread.Get();
    return t && t->Running() && PortHandle.Get() != nullptr;
}

SyncOutcome SyncTime(uint8_t addr)
{
    // Without a running exchange thread the request would wait in a queue
    // nobody drains and go out, stale, at some later connection.
    if (!Connected())
        return SyncOutcome::kNoConnection;
    return Sinkhr_date(addr) ? SyncOutcome::kQueued : SyncOutcome::kQueueFull;
}

std::string SyncOutcomeText(SyncOutcome outcome)
{
    switch (outcome) {
    case SyncOutcome::kQueued:
        return {};
    case SyncOutcome::kNoConnection:
        return kNoConnectionText;
    case SyncOutcome::kQueueFull:
        return kQueueFullText;
    }
    return {};
}

FailureAnswer HandleRequestFailed(std::unique_ptr<FailureBlock> block, ReconnectUi& ui)
{
    Host& host = CurrentHost();
    if (!ui.Closing() && host.ShowWarning(kRetryReadText) && !ui.Closing()) {
        const TPendingNode* entry = PendCursor();
        if (entry && entry != PendHead()) {
            const TRequestRec rec = RearmCursorEntry();
            PutRequest(MakeRequest(rec.Addr, rec.Interval, 3, rec.NextDue, rec.Cmd, rec.Param1,
                                   rec.Param2, rec.ReplyBuf, rec.Data, rec.ReplyMode,
                                   rec.ReplyIndex));
        }
        return FailureAnswer::kRetried;
    }
    // The exchange thread drops the pending entry when it takes this.
    if (PostToThread(WM_REQUEST_CANCEL, std::move(block)) == PostResult::kNoThread) {
        host.ShowMessage(kThreadNotStartedText);
        return FailureAnswer::kNoThread;
    }
    if (ui.Closing())
        return FailureAnswer::kClosing;
    if (!host.ShowWarning(kReconnectText) || ui.Closing())
        return ui.Closing() ? FailureAnswer::kClosing : FailureAnswer::kGivenUp;

    // A save or link check running meanwhile ends before its port goes.
    ui.WaitForPortWork();
    StopThread();
    ui.ClearN7();
    ui.StopTimer3();
    if (platform::SerialPtr port = PortHandle.Get())
        PurgePort(port.get());
    ClosePort();
    ui.ShowConnectionDialog();
    return FailureAnswer::kReconnected;
}

bool ExitSteps(const PeriodMenu& menu)
{
    StopThread();
    return Save_settings(menu);
}

void CloseSteps()
{
    StopThread();
    ClosePort();
}

bool FinishExchange(std::chrono::milliseconds limit)
{
    return StopExchangeThread(limit);
}

} // namespace chronavel

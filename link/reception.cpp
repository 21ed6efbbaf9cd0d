#include "link/reception.h"

#include "link/exchange.h"
#include "link/frame_trace.h"
#include "link/frames.h"
#include "link/host_call.h"
#include "platform/tick.h"
#include "port/io_hold.h"
#include "port/port.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

namespace chronavel {

ReceptionState Reception;

namespace {

// Guards RxBuf and BytesRead against the display's copy; the readers hold
// it only for the copy, never across a port read.
std::mutex rx_copy_lock;

// Set once "Error reading port" has been shown for the current run of failed
// reads, so a dead port does not raise a message box per read.
std::atomic<bool> read_error_shown{false};

void StoreReceived(const uint8_t* bytes, uint32_t count)
{
    std::lock_guard<std::mutex> hold(rx_copy_lock);
    std::copy(bytes, bytes + count, Reception.RxBuf.begin());
    Reception.BytesRead.store(count);
    Reception.BytesSeen.fetch_add(count);
}

PortErrorKind ReadFailureKind(const platform::SerialPtr& port)
{
    return !port || !port->Lost() ? PortErrorKind::kReadFailed : PortErrorKind::kDeviceGone;
}

// A read in flight fails when the port is closed or replaced on purpose
// ("stop and close", a reconnect); that is no fault of the line to show.
bool ClosedOnPurpose(const platform::SerialPtr& port)
{
    if (port)
        return PortHandle.Get() != port;
    // An exchange pass reads only while it has a line: none now means closed.
    return CurrentPassThread() != nullptr;
}

void ReportReadError(PortErrorKind kind)
{
    if (read_error_shown.exchange(true))
        return;
    HostPortError(kind, "Error reading port");
}

// The frame written last, so its echo is dropped with the bytes behind it.
struct WrittenFrame {
    std::array<uint8_t, 8> Header{}; // from the sync byte to the check bytes
    uint32_t Rest = 0;               // bytes behind the header
    bool Valid = false;
};
std::mutex written_lock;
WrittenFrame written; // guarded by written_lock

std::atomic<bool (*)()> stop_hook{nullptr};

// Reads in pieces of this many bytes: at the port's 80 ms a byte, a silent
// line ends a piece within 0.32 s, so a stop request is seen in time.
constexpr uint32_t kBlockPiece = 4;

// When the header in the window is the echo of the frame written last,
// the count of the frame's bytes behind it; the record is used up. Its age
// does not matter: an adapter or a held-up reader may hand it back late.
std::optional<uint32_t> EchoOf(const uint8_t* window)
{
    std::lock_guard<std::mutex> hold(written_lock);
    if (!written.Valid || !std::equal(written.Header.begin(), written.Header.end(), window))
        return std::nullopt;
    written.Valid = false;
    return written.Rest;
}

void SetHeader(const ReplyHeader& h)
{
    Reception.ReplyAddr.store(h.Addr);
    Reception.ReplyAddr2.store(h.Addr2);
    Reception.ReplyCmd.store(h.Cmd);
    Reception.ReplyParam1.store(h.Param1);
    Reception.ReplyParam2.store(h.Param2);
}

} // namespace

void NoteWrittenFrame(const uint8_t* frame, size_t size)
{
    // The sync byte follows one preamble byte (short frame) or two (data frame).
    size_t at = size;
    for (size_t p = 0; p < size && p < 3; ++p) {
        if (frame[p] == kSync) {
            at = p;
            break;
        }
    }
    std::lock_guard<std::mutex> hold(written_lock);
    if (at + 8 > size) {
        written.Valid = false;
        return;
    }
    std::copy(frame + at, frame + at + 8, written.Header.begin());
    written.Rest = static_cast<uint32_t>(size - at - 8);
    written.Valid = true;
}

void ForgetWrittenFrame()
{
    std::lock_guard<std::mutex> hold(written_lock);
    written.Valid = false;
}

bool WrittenFrameNoted()
{
    std::lock_guard<std::mutex> hold(written_lock);
    return written.Valid;
}

bool ReadErrorShown()
{
    return read_error_shown.load();
}

void SetLineStopHook(bool (*stop)())
{
    stop_hook.store(stop);
}

bool LineStopRequested()
{
    if (TNewThread* t = CurrentPassThread(); t && t->StopRequested())
        return true;
    bool (*hook)() = stop_hook.load();
    return hook != nullptr && hook();
}

ReplyHeader CurrentReplyHeader()
{
    return ReplyHeader{Reception.ReplyAddr.load(), Reception.ReplyAddr2.load(),
                       Reception.ReplyCmd.load(), Reception.ReplyParam1.load(),
                       Reception.ReplyParam2.load()};
}

uint32_t ReadByte()
{
    PortIoHold hold;
    uint8_t byte = 0;
    if (LineTakenAway()) {
        // The line belongs to a successor now: nothing is read, nothing shown.
        StoreReceived(&byte, 0);
        Reception.EmptyReads.fetch_add(1);
        return 0;
    }
    platform::SerialPtr port = LinePort();
    const int got = port ? port->Read(&byte, 1) : -1;
    if (got <= 0) {
        StoreReceived(&byte, 0);
        Reception.EmptyReads.fetch_add(1);
        if (got < 0 && !ClosedOnPurpose(port))
            ReportReadError(ReadFailureKind(port));
        else
            read_error_shown.store(false);
        return 0;
    }
    read_error_shown.store(false);
    StoreReceived(&byte, 1);
    return 1;
}

BlockRead ReadBlock(uint32_t n)
{
    PortIoHold hold;
    n = std::min<uint32_t>(n, kRxBufSize);
    std::vector<uint8_t> bytes(n);
    if (LineTakenAway()) {
        StoreReceived(bytes.data(), 0);
        return {};
    }
    platform::SerialPtr port = LinePort();
    const int got = port ? port->Read(bytes.data(), n) : -1;
    if (got < 0) {
        StoreReceived(bytes.data(), 0);
        if (ClosedOnPurpose(port))
            return {};
        return {0, ReadFailure{ReadFailureKind(port), "Error reading port"}};
    }
    const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(got), n);
    StoreReceived(bytes.data(), count);
    return {count, std::nullopt};
}

bool HuntFrame()
{
    return HuntFrame(HuntOptions{});
}

bool HuntFrame(const HuntOptions& options)
{
    PortIoHold hold;
    const int limit = std::max(1, options.EmptyReadLimit);
    if (options.FreshErrorNotice)
        read_error_shown.store(false);
    SetHeader(ReplyHeader{});
    Reception.EmptyReads.store(0);
    Reception.HuntBytes.store(0);

    uint8_t window[8] = {};
    int i = 0;
    uint32_t without_header = 0;
    for (;;) {
        if (LineTakenAway() || LineStopRequested())
            break;
        const uint32_t got = ReadByte();
        if (Reception.EmptyReads.load() >= limit)
            break;
        if (options.HasDeadline &&
            platform::TickReached(platform::GetTickCount(), options.Deadline))
            break;
        if (got == 0)
            continue;
        Reception.HuntBytes.fetch_add(1);
        if (++without_header > kHuntByteLimit) {
            // A line that never falls quiet: the search ends as an empty
            // read would, so retries and give-ups keep their schedule.
            Reception.EmptyReads.fetch_add(1);
            Reception.HuntsOverrun.fetch_add(1);
            break;
        }
        if (i > 7) {
            std::memmove(window, window + 1, 7);
            i = 7;
        }
        window[i] = Reception.RxBuf[0];
        if (i == 7 && window[0] == kSync) {
            const uint16_t sum = SumBytes(window, 6);
            if (CheckByte1(sum) == window[6] && CheckByte2(sum) == window[7]) {
                const ReplyHeader h{window[1], window[2], window[3], window[4], window[5]};
                // Our own frames heard back are no answer: the last one with
                // the bytes behind it, an earlier one (a newer was written
                // since) by its shape.
                const std::optional<uint32_t> rest = EchoOf(window);
                if (rest || IsOwnFrameHeader(h)) {
                    Reception.EchoesDropped.fetch_add(1);
                    for (uint32_t k = 0; k < rest.value_or(0) && !LineStopRequested(); ++k) {
                        if (ReadByte() == 0)
                            break;
                    }
                    i = 0;
                    without_header = 0;
                    continue;
                }
                SetHeader(h);
                TraceFrame(FrameDirection::Header, window[1], window[3], window, 8);
                return true;
            }
        }
        ++i;
    }
    // A transaction may have run while a read-error message was shown.
    SetHeader(ReplyHeader{});
    return false;
}

DataBlockRead ReadDataBlock(uint8_t length)
{
    auto block = std::make_shared<std::vector<uint8_t>>(kRxBufSize, 0);
    PortIoHold hold;
    const uint32_t want = static_cast<uint32_t>(length) + 1;
    uint32_t got = 0;
    while (got < want && !LineTakenAway() && !LineStopRequested()) {
        const BlockRead read = ReadBlock(std::min(want - got, kBlockPiece));
        if (read.Failure)
            return {nullptr, read.Failure};
        const uint32_t piece = read.Count;
        std::copy(Reception.RxBuf.begin(), Reception.RxBuf.begin() + piece, block->begin() + got);
        got += piece;
        if (piece == 0)
            break; // the line fell silent
    }
    const uint8_t check = static_cast<uint8_t>(SumBytes(block->data(), length) & 0xFF);
    const bool ok = check == (*block)[length];
    TraceFrame(FrameDirection::DataBlock, Reception.ReplyAddr.load(), Reception.ReplyCmd.load(),
               block->data(), std::min(got, want), ok, length);
    if (!ok)
        std::fill(block->begin(), block->begin() + want, 0);
    return {block, std::nullopt};
}

std::vector<uint8_t> ReceivedBytes()
{
    std::lock_guard<std::mutex> hold(rx_copy_lock);
    const uint32_t n = std::min<uint32_t>(Reception.BytesRead.load(), kRxBufSize);
    return std::vector<uint8_t>(Reception.RxBuf.begin(), Reception.RxBuf.begin() + n);
}

void ResetReadErrorNotice()
{
    read_error_shown.store(false);
}

void ResetReception()
{
    PortIoHold hold;
    {
        std::lock_guard<std::mutex> lock(rx_copy_lock);
        Reception.RxBuf.fill(0);
        Reception.BytesRead.store(0);
    }
    Reception.EmptyReads.store(0);
    Reception.HuntBytes.store(0);
    Reception.EchoesDropped.store(0);
    Reception.HuntsOverrun.store(0);
    SetHeader(ReplyHeader{});
    read_error_shown.store(false);
    ForgetWrittenFrame();
}

} // namespace chronavel

// Frame reception: reading the port, hunting reply headers in the byte
// stream, reading and checking data blocks.
#pragma once

#include "link/frames.h"
#include "port/port_error.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace chronavel {

constexpr size_t kRxBufSize = 65536;
constexpr int kHuntEmptyReads = 10;

// The reception state, shared by the exchange thread and the synchronous
// transactions. Every reading function holds PortIoLock() (port/port.h)
// while it reads, so the two never read the port at the same time.
struct ReceptionState {
    // What the last port read returned, at its start. Written under the I/O
    // lock; others take a copy with ReceivedBytes().
    std::array<uint8_t, kRxBufSize> RxBuf{};
    std::atomic<uint32_t> BytesRead{0};
    std::atomic<int32_t> EmptyReads{0};
    // Bytes the last header search read: none on a silent line, some when
    // other traffic kept it busy.
    std::atomic<uint32_t> HuntBytes{0};
    // The reply header places, frame positions +1 .. +5; all 0 after a search
    // that found nothing. Atomic because the decoder reads them after the
    // search has let go of the port.
    std::atomic<uint8_t> ReplyAddr{0};
    std::atomic<uint8_t> ReplyAddr2{0};
    std::atomic<uint8_t> ReplyCmd{0};
    std::atomic<uint8_t> ReplyParam1{0};
    std::atomic<uint8_t> ReplyParam2{0};
    // Every byte any read has brought, counted since the start (wraps): tells
    // a caller whether the line carried anything while it waited.
    std::atomic<uint32_t> BytesSeen{0};
    // Our own frames heard back from the line (an adapter that echoes), and
    // header searches given up on bytes that held no header.
    std::atomic<uint32_t> EchoesDropped{0};
    std::atomic<uint32_t> HuntsOverrun{0};
};
extern ReceptionState Reception;

ReplyHeader CurrentReplyHeader();

using ReplyDataRef = std::shared_ptr<std::vector<uint8_t>>;

// One read of at most one byte into RxBuf; returns the byte count. A read
// that fails (or finds no port open) counts as an empty read and shows
// "Error reading port" unless that message was already shown for the
// current run of failures (or search).
uint32_t ReadByte();
// What one block read brought: the byte count, or why the read failed.
struct BlockRead {
    uint32_t Count = 0;
    std::optional<ReadFailure> Failure;
};
// One read of at most n bytes into RxBuf. A read that fails, or finds no
// port open, gives the failure ("Error reading port"), shown to nobody; one
// that fails because the port was closed on purpose reads as empty.
BlockRead ReadBlock(uint32_t n);

// The longest frame a clock sends: the waking byte, the 8-byte header, 255
// data bytes and their check byte. A header search (and a data-block read)
// gives up after twice that many bytes that held no valid header, so a line
// that never falls quiet cannot hold the port for good.
constexpr uint32_t kLongestReply = 1 + 8 + 255 + 1;
constexpr uint32_t kHuntByteLimit = 2 * kLongestReply;

// Every frame written is noted (header and the bytes behind it), so its
// echo can be told from a clock's answer: an adapter that hears its own
// transmission hands the frame back, and a request header is also a valid
// reply header.
void NoteWrittenFrame(const uint8_t* frame, size_t size);
// Forgets the frame written last (a new port).
void ForgetWrittenFrame();
bool WrittenFrameNoted();

// Asks every header search, block read and synchronous transaction in
// progress, on any thread, to end at once (the program is stopping). The
// exchange thread's own stop request does the same for its own reads.
void SetLineStopHook(bool (*stop)());
bool LineStopRequested();

struct HuntOptions {
    int EmptyReadLimit = kHuntEmptyReads; // empty reads over the whole search
    bool FreshErrorNotice = true;         // this search may show its own read error
    // When set, the search also gives up once the tick counter reaches
    // Deadline, however many bytes keep coming.
    bool HasDeadline = false;
    uint32_t Deadline = 0;
};
// Searches the incoming bytes for a valid reply header and fills the header
// places (zero when none was found). Ends after ten empty reads over the
// whole search, after kHuntByteLimit bytes without a header (counted as an
// empty read), at the deadline, or on a stop request. The echo of the frame
// written last is dropped, with the rest of that frame, and so is any other
// header shaped like one of the PC's own frames.
bool HuntFrame();
bool HuntFrame(const HuntOptions& options);

// A data block read: the block, or (Data null) why a read failed.
struct DataBlockRead {
    ReplyDataRef Data;
    std::optional<ReadFailure> Failure;
};
// Reads L data bytes and the check byte (in reads of a few bytes, so a stop
// request ends it soon; a read that brings nothing ends it). A block whose
// check fails is all zeros; places a short read did not reach stay zero. The
// buffer holds 65,536 bytes: data at 0..L-1, the check byte at L. A failed
// read (ReadBlock) ends it with the failure, untraced.
DataBlockRead ReadDataBlock(uint8_t length);

// A copy of the first BytesRead bytes of RxBuf (the received-bytes display).
std::vector<uint8_t> ReceivedBytes();

// Lets the next failed read show its message again.
void ResetReadErrorNotice();
// The message of the current run of failed reads has been shown.
bool ReadErrorShown();

void ResetReception();

} // namespace chronavel

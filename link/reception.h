// Frame reception: reading the port, hunting reply headers in the byte
// stream, reading and checking data blocks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace chronavel {

constexpr size_t kRxBufSize = 65536;

// The reception state. Shared by the exchange thread and the synchronous
// transactions; whoever uses it holds PortIoLock() (port/port.h).
struct ReceptionState {
    std::array<uint8_t, kRxBufSize> RxBuf{};
    uint32_t BytesRead = 0;
    int32_t EmptyReads = 0;
    // The reply header places, frame positions +1 .. +5.
    uint8_t ReplyAddr = 0;
    uint8_t ReplyAddr2 = 0;
    uint8_t ReplyCmd = 0;
    uint8_t ReplyParam1 = 0;
    uint8_t ReplyParam2 = 0;
};
extern ReceptionState Reception;

using ReplyDataRef = std::shared_ptr<std::vector<uint8_t>>;

// One read of at most one byte into RxBuf. A failed read shows "Error
// reading port" and counts as an empty read. Returns the byte count.
uint32_t ReadByte();
// One read of at most n bytes into RxBuf; throws PortError("Error reading
// port") when the read fails.
uint32_t ReadBlock(uint32_t n);
// Searches for a valid reply header; fills the header places (zero when
// none was found). Ends after ten empty reads over the whole search.
bool HuntFrame();
// Reads L data bytes and the check byte; a block whose check fails, and the
// places a short read did not fill, are zeros. 65,536 bytes.
ReplyDataRef ReadDataBlock(uint8_t length);

void ResetReception();

}  // namespace chronavel

#include "sim/frame_parser.h"

#include "link/frames.h"

namespace chronavel::sim {

namespace {

constexpr size_t kHeader = 8; // E0 00 ADDR CMD P1 P2 C1 C2

RxFrame HeaderOf(const std::vector<uint8_t>& b)
{
    RxFrame f;
    f.addr = b[2];
    f.cmd = b[3];
    f.p1 = b[4];
    f.p2 = b[5];
    return f;
}

} // namespace

bool CommandCarriesData(uint8_t cmd)
{
    return cmd == kCmdSetTime;
}

void FrameParser::Feed(uint8_t byte, std::vector<RxFrame>& out)
{
    if (buf_.empty() && byte != kSync)
        return;
    buf_.push_back(byte);
    Scan(out);
}

void FrameParser::Scan(std::vector<RxFrame>& out)
{
    while (!buf_.empty()) {
        if (buf_[0] != kSync) {
            buf_.erase(buf_.begin());
            continue;
        }
        if (buf_.size() < kHeader)
            return;
        const uint16_t sum = SumBytes(buf_.data(), 6);
        const bool header_ok =
            buf_[1] == 0x00 && buf_[6] == CheckByte1(sum) && buf_[7] == CheckByte2(sum);
        RxFrame f = HeaderOf(buf_);
        size_t n = 0;
        if (header_ok && CommandCarriesData(f.cmd)) {
            f.has_data = true;
            n = static_cast<size_t>(f.p1) * 256 + f.p2;
        }
        if (!header_ok || n > kMaxRxData) {
            // Rejected: the next candidate may start inside these bytes.
            f.check_ok = false;
            out.push_back(f);
            buf_.erase(buf_.begin());
            continue;
        }
        const size_t total = f.has_data ? kHeader + n + 1 : kHeader;
        if (buf_.size() < total)
            return;
        if (f.has_data) {
            f.data.assign(buf_.begin() + kHeader, buf_.begin() + static_cast<long>(kHeader + n));
            const uint8_t check = static_cast<uint8_t>(SumBytes(f.data.data(), n) & 0xFF);
            if (check != buf_[kHeader + n]) {
                f.check_ok = false;
                out.push_back(f);
                buf_.erase(buf_.begin());
                continue;
            }
        }
        out.push_back(std::move(f));
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(total));
    }
}

} // namespace chronavel::sim

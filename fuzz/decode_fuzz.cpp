// Arbitrary bytes on the line, through the header search and the reply
// decoder, over a scripted port. Nothing may be read or written out of
// bounds, and the decoder must come back each time.
#include "app/core_state.h"
#include "config/registers.h"
#include "link/host.h"
#include "link/reception.h"
#include "link/request.h"
#include "port/decode.h"
#include "port/display.h"
#include "port/port.h"
#include "testkit/fake_port.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace chronavel;

class QuietHost : public Host {
public:
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void ShowMessage(const std::string&) override {}
    bool ShowWarning(const std::string&) override { return false; }
};

QuietHost quiet;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetHost(&quiet);
    ResetCoreState();

    // The first byte shapes the line; the rest is the byte stream.
    uint8_t mode = size > 0 ? data[0] : 0;
    auto port = std::make_shared<test::FakePort>();
    port->fail_status = (mode & 0x01) != 0;
    port->error_word = (mode & 0x02) ? 0x04 : 0;
    std::vector<uint8_t> bytes(data + (size > 0 ? 1 : 0), data + size);
    // Pauses split the stream where the mode says, so the empty-read limit
    // of the search is reached in the middle of frames too.
    const size_t pause_every = (mode >> 4) == 0 ? bytes.size() + 1 : (mode >> 4) * 3;
    for (size_t i = 0; i < bytes.size(); i += pause_every) {
        size_t end = std::min(bytes.size(), i + pause_every);
        port->Feed(std::vector<uint8_t>(bytes.begin() + i, bytes.begin() + end));
        port->FeedPause();
    }
    PortHandle.Set(port);

    // A couple of requests waiting for answers, one with a buffer of its own.
    if (mode & 0x04) {
        AddPending(StandardRequest(1, 0x74, 0x4D, 0));
        AddPending(MakeRequest(2, 3000, 3, 0, 0x52, 0, 0,
                               std::make_shared<std::vector<uint8_t>>(3, 0x7F), nullptr, 2, 0));
    }
    if (mode & 0x08)
        ClockSettings.FieldFormat[0] = 8;

    // Each call takes at least one byte or one pause off the line, so this
    // ends; the bound only guards against a decoder that stops consuming.
    size_t calls = 0;
    while (port->Pending() > 0 && calls++ <= bytes.size() + 16) {
        DecodeReply();
    }

    ResetCoreState();
    SetHost(nullptr);
    return 0;
}

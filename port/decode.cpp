#include "port/decode.h"

#include "config/register_values.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/host_call.h"
#include "link/master_flags.h"
#include "link/reception.h"
#include "link/request.h"
#include "port/display.h"
#include "port/io_hold.h"
#include "port/port.h"
#include "port/segment.h"

#include <algorithm>
#include <mutex>

namespace chronavel {

std::atomic<uint8_t> MasterAddress{0};

namespace {

std::mutex text_lock;
TextBlockState text_state;

// How many bytes of a block may be used: what the header announced, what
// was actually delivered, and what the destination can hold.
size_t Usable(uint8_t announced, const std::vector<uint8_t>* data, size_t places)
{
    if (data == nullptr)
        return 0;
    return std::min({static_cast<size_t>(announced), data->size(), places});
}

void StatusBlock(uint8_t length, const std::vector<uint8_t>* data)
{
    MasterActive.store(1);

    const size_t n = Usable(length, data, kImageDataPlaces);
    {
        // Under the lock the settings window copies the image with.
        std::lock_guard<std::mutex> hold(DisplayTickLock);
        for (size_t i = 0; i < n; ++i)
            Registers.RegImage[i + 1].store((*data)[i]);
    }

    // The whole byte, as a single-register answer stores it: a settings
    // save after a status block must see what the clock holds. The display
    // works out its own digits (FormatClockFields).
    for (int i = 0; i < kExpoCount; ++i)
        ClockSettings.Expo[i].store(Registers.RegImage[10 + 2 * i].load());

    FormatClockFields();
    try {
        HostSynchronize([] { ShowClockFields(); });
    } catch (...) {
        // The display is a bystander; the exchange goes on without it.
    }
}

void TextBlock(uint8_t length, const std::vector<uint8_t>* data)
{
    std::lock_guard<std::mutex> hold(text_lock);
    auto& block = text_state.TextBlock;
    const size_t n = Usable(length, data, kTextDataPlaces);
    for (size_t i = 0; i < n; ++i)
        block[i + 1] = (*data)[i];

    text_state.TextCount = block[1];
    for (int i = 0; i < kFieldFormatCount; ++i)
        ClockSettings.FieldFormat[i].store(block[2 + i]);

    // Texts are taken only from bytes this block delivered, and only as many
    // as TextLen has places for; the first that does not fit ends the walk.
    text_state.ClockTexts.clear();
    const size_t end = n + 1; // one past the last block index written now
    const size_t count = static_cast<size_t>(text_state.TextCount);
    size_t p = count + 10;
    for (size_t i = 0; i < count && i < static_cast<size_t>(kTextLenCount); ++i) {
        if (10 + i >= end)
            break;
        const uint8_t len = block[10 + i];
        if (p + len > end)
            break;
        ClockSettings.TextLen[i].store(len);
        std::string text;
        for (size_t m = 0; m < len; ++m)
            text += SegmentChar(block[p + m]);
        text_state.ClockTexts.push_back(std::move(text));
        p += len;
    }
}

void RegisterAnswer(uint8_t reply_addr, uint8_t reg, uint8_t value)
{
    // The answering clock's own record: what the settings window shows and
    // a save compares with, whatever other clocks on the line report.
    RecordRegisterAnswer(reply_addr, reg, value);
    if (!StoreRegisterValue(reg, value))
        return;
    if (reg == kRegMasterFlags) {
        StoreMasterFlags(value, reply_addr);
        if (value & master_bits::kMaster)
            MasterAddress.store(reply_addr);
    }
}

} // namespace

void ApplyReply(uint8_t reply_addr, uint8_t cmd, uint8_t param1, uint8_t param2,
                const std::vector<uint8_t>* data)
{
    switch (cmd) {
    case kReplyEmpty:
    case kReplyParen:
    case kReplyS:
    case kReply81:
        if (param2 == 0)
            HostMessage("Данных нет!");
        break;
    case kReplyStatus:
        StatusBlock(param2, data);
        break;
    case kReplyText:
        TextBlock(param2, data);
        break;
    case kReplyRegister:
        RegisterAnswer(reply_addr, param1, param2);
        break;
    default:
        break;
    }
}

std::optional<ReadFailure> DecodeReply()
{
    ReplyHeader h;
    ReplyDataRef data;
    {
        // The search and the block read are one stretch of I/O, so a
        // synchronous transaction cannot take the block from under it.
        PortIoHold io;
        if (!HuntFrame())
            return std::nullopt;
        h = CurrentReplyHeader();
        try {
            if (TPendingNode* node = FindAnswered(h)) {
                data = node->Rec.ReplyBuf;
                RemovePending(node);
            }
        } catch (...) {
            // A reply nobody waits for is decoded all the same.
        }
        if (HasDataBlock(h.Cmd)) {
            DataBlockRead block = ReadDataBlock(h.Param2);
            if (block.Failure)
                return block.Failure;
            data = std::move(block.Data);
        }
    }
    // The rest may wait on the window thread (a message box, the display),
    // which may itself be waiting for the port in a synchronous transaction:
    // so the port is let go of meanwhile, also where the caller holds it.
    PortIoRelease window_may_use_port;
    if (LineTakenAway())
        return std::nullopt; // retired meanwhile: the state is its successor's to keep
    ApplyReply(h.Addr, h.Cmd, h.Param1, h.Param2, data.get());
    // A message box above may have outlasted this thread's time on the line.
    if (platform::SerialPtr port = LinePort(); port && !LineTakenAway())
        ShowLineErrors(port.get());
    return std::nullopt;
}

TextBlockState CurrentTextBlock()
{
    std::lock_guard<std::mutex> hold(text_lock);
    return text_state;
}

void ResetDecodeState()
{
    {
        std::lock_guard<std::mutex> hold(text_lock);
        text_state = TextBlockState{};
    }
    MasterAddress.store(0);
}

} // namespace chronavel

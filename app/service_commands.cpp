#include "app/service_commands.h"

#include "app/main_logic.h"
#include "config/register_values.h"
#include "config/registers.h"
#include "config/write_settings.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/host_call.h"
#include "link/request.h"
#include "port/port.h"
#include "port/sync.h"

#include <cctype>

namespace chronavel {

namespace {

constexpr int kLinkCheckAttempts = 10;

// "" when count requests can be queued now, else why not.
std::string QueueBlocked(int count)
{
    if (!Connected())
        return kNoConnectionMessage;
    if (RingRoom() < count)
        return kQueueFullMessage;
    return {};
}

} // namespace

bool ExchangeRunning()
{
    const auto thread = ExchangeThread.Get();
    return thread && thread->Running();
}

std::string ReadAllSettings(uint8_t addr)
{
    // Every clock would answer each read at once, and their settings mix.
    if (std::string why = SaveRefusal(addr); !why.empty())
        return why;
    const auto& batch = ReadBatchRegisters();
    if (std::string why = QueueBlocked(static_cast<int>(batch.size())); !why.empty())
        return why;
    BeginReadBatch(addr);
    for (uint8_t reg : batch)
        PutRequest(StandardRequest(addr, kCmdReadRegister, reg, 0));
    return {};
}

std::string QueueRegisterWrite(uint8_t addr, uint8_t reg, uint8_t value)
{
    // A register of every clock at once, unanswerable: refused.
    if (std::string why = SaveRefusal(addr); !why.empty())
        return why;
    if (std::string why = QueueBlocked(1); !why.empty())
        return why;
    PutRequest(StandardRequest(addr, kCmdWriteRegister, reg, value));
    return {};
}

std::string QueueRegisterRead(uint8_t addr, const std::string& hex_text)
{
    const auto number = ParseHexNumber(hex_text);
    if (!number)
        return NotHexMessage(hex_text);
    if (std::string why = QueueBlocked(1); !why.empty())
        return why;
    PutRequest(StandardRequest(addr, kCmdReadRegister, static_cast<uint8_t>(*number & 0xFF), 0));
    return {};
}

std::optional<uint32_t> ParseHexNumber(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    if (begin == end || end - begin > 8)
        return std::nullopt;
    uint32_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c))
            return std::nullopt;
        value = value * 16 +
                static_cast<uint32_t>(std::isdigit(c) ? c - '0' : std::toupper(c) - 'A' + 10);
    }
    return value;
}

std::string NotHexMessage(const std::string& text)
{
    return "\"" + text + "\" не является шестнадцатеричным числом (номер регистра, например 4D).";
}

bool SettingsReadFinished()
{
    return QueuesIdle();
}

bool LinkCheck(uint8_t target)
{
    if (target == 0xFF)
        return false;
    // A master heard on the line is the link standing: nothing is sent.
    if (MasterActive.load() != 0)
        return true;
    const TransactionResult r = SyncTransaction(target, kCmdLinkCheck, 0, 0, kLinkCheckAttempts);
    if (r.Failure) {
        HostPortError(r.Failure->Kind, r.Failure->Text);
        return false;
    }
    ShowLineNotice(r.Line); // the silence itself is told by the status bar
    return r.Answered;
}

bool ExchangeSwitch(bool checked)
{
    if (!checked) {
        StopThread();
        return false;
    }
    if (ExchangeRunning())
        return true; // the running thread serves the port; never a second one
    if (!PortHandle.Get())
        return false;
    StartExchangeThread();
    return true;
}

void StartExchangeOnce()
{
    if (!ExchangeThread.Get())
        StartExchangeThread();
}

void StopExchangeAndClosePort()
{
    try {
        StopThread();
    } catch (...) {
    }
    try {
        ClosePort();
    } catch (...) {
    }
}

} // namespace chronavel

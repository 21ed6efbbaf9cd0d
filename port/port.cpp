#include "port/port.h"

#include "link/host_call.h"
#include "platform/portlist.h"

namespace chronavel {

namespace {

constexpr int kReadTimeoutPerByte = 80; // ms per byte asked for

struct LineMessage {
    uint32_t word;
    const char* text;
};

constexpr LineMessage kLineMessages[] = {
    {0, "Ошибка соединения"},
    {platform::kRxOver, " Входной буфер полон, приём невозможен"},
    {platform::kOverrun, " Входной буфер переполнен, Потеря байтов "},
    {platform::kRxParity, " Ошибка чётности принятых данных"},
    {platform::kFrame, " Ошибка синхронизации кадра"},
    {platform::kBreak, "Нарушен обмен данными "},
    {platform::kTxFull, " Выходной буфер полный"},
    {platform::kIoError, " Ошибка ввода вывода"},
    {platform::kMode, " Неподдерживаемый режим "},
};

} // namespace

std::string PortPath(const std::string& name)
{
    return platform::SerialDevicePath(platform::CurrentPortName(name));
}

PortOpening TryOpenPort(const std::string& name, int speed)
{
    platform::OpenStatus status = platform::OpenStatus::kOpenFailed;
    platform::SerialPtr port = platform::OpenSerial(PortPath(name), speed, status);
    if (status == platform::OpenStatus::kConfigFailed)
        return {nullptr, PortErrorKind::kSettingsRefused, "Error setting port state"};
    if (!port)
        return {nullptr, PortErrorKind::kCannotOpen, "Error opening port"};
    port->SetReadTimeoutPerByte(kReadTimeoutPerByte);
    PurgePort(port.get());
    return {std::move(port), PortErrorKind::kCannotOpen, {}};
}

platform::SerialPtr OpenPort(const std::string& name, int speed)
{
    return TryOpenPort(name, speed).port;
}

std::string SetPortSpeed(platform::SerialDevice& port, int speed)
{
    if (!port.SetSpeed(speed))
        return "Error setting port state";
    return {};
}

void PurgePort(platform::SerialDevice* port)
{
    if (port)
        port->Purge();
}

std::optional<LineNotice> CheckLine(platform::SerialDevice* port)
{
    if (!port)
        return std::nullopt; // closed on purpose meanwhile: nothing to report
    uint32_t word = 0;
    if (!port->ClearErrors(word))
        return LineNotice{port->Lost(), LineErrorMessage(0)};
    // A clean line reads 0 after every reply; only real errors are told.
    if (word == 0)
        return std::nullopt;
    std::string text = LineErrorMessage(word);
    if (text.empty())
        return std::nullopt;
    return LineNotice{false, std::move(text)};
}

void ShowLineNotice(const std::optional<LineNotice>& notice)
{
    if (!notice)
        return;
    if (notice->DeviceGone)
        HostPortError(PortErrorKind::kDeviceGone, notice->Text);
    else
        HostMessage(notice->Text);
}

void ShowLineErrors(platform::SerialDevice* port)
{
    ShowLineNotice(CheckLine(port));
}

std::string LineErrorMessage(uint32_t error_word)
{
    for (const auto& m : kLineMessages)
        if (m.word == error_word)
            return m.text;
    return {};
}

void ClosePort()
{
    platform::SerialPtr port = PortHandle.Get();
    PortHandle.Set(nullptr);
    if (port)
        port->Close();
}

} // namespace chronavel

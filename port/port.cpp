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
    platform::OpenFailure failure;
    platform::SerialPtr port = platform::OpenSerial(PortPath(name), speed, status, &failure);
    if (status == platform::OpenStatus::kConfigFailed)
        return {nullptr, PortErrorKind::kSettingsRefused, "Error setting port state", {}};
    if (!port)
        return {nullptr, PortErrorKind::kCannotOpen, "Error opening port", std::move(failure)};
    port->SetReadTimeoutPerByte(kReadTimeoutPerByte);
    PurgePort(port.get());
    return {std::move(port), PortErrorKind::kCannotOpen, {}, {}};
}

namespace {

std::string HolderList(const std::vector<platform::PortHolder>& holders)
{
    std::string list;
    for (const auto& h : holders) {
        if (!list.empty())
            list += ", ";
        list += "PID " + std::to_string(h.pid);
        if (!h.name.empty())
            list += " (" + h.name + ")";
    }
    return list;
}

// How the synchronisation service on this port is stopped, or empty when
// the port's name cannot be a service's.
std::string StopServiceCommand(const std::string& name)
{
    if (name.empty() || name.find_first_of("/\\ ") != std::string::npos)
        return {};
#ifdef _WIN32
    return "chronavelctl service stop --port " + name;
#else
    return "sudo systemctl stop chronavel-sync@" + name;
#endif
}

std::string EnglishCause(const platform::OpenFailure& f, const std::string& name,
                         const std::string& device)
{
    using platform::OpenCause;
    const std::string user = f.user.empty() ? "this user" : "user " + f.user;
    const std::string stop = StopServiceCommand(name);
    switch (f.cause) {
    case OpenCause::kNone:
        return {};
    case OpenCause::kDenied:
        if (f.group.empty() || f.group == "root")
            return "permission denied: " + user + " may not open " + device +
                   "; ask the administrator for access";
        if (f.user_in_group)
            return "permission denied: " + device + " belongs to group " + f.group + ", and " +
                   user + " is in it, but this session began before: log out and in again";
        return "permission denied: " + device + " belongs to group " + f.group + ", which " + user +
               " is not in; join it with 'sudo usermod -aG " + f.group + " " +
               (f.user.empty() ? "$USER" : f.user) + "', then log out and in again";
    case OpenCause::kBusy:
        return "the port is in use by another program: " +
               (f.holders.empty()
                    ? std::string("a chronavelctl daemon or service, the windows program or "
                                  "a terminal")
                    : HolderList(f.holders)) +
               "; close it" + (stop.empty() ? "" : ", or stop the service ('" + stop + "')") +
               ", and try again";
    case OpenCause::kAbsent:
        return "no such port: " + device +
               " is not there (the adapter unplugged, or another name: 'chronavelctl ports' "
               "lists them)";
    case OpenCause::kOther:
        break;
    }
    return "the system says: " + f.system_text + " (error " + std::to_string(f.code) + ")";
}

std::string RussianCause(const platform::OpenFailure& f, const std::string& name,
                         const std::string& device)
{
    using platform::OpenCause;
    const std::string user = f.user.empty() ? "$USER" : f.user;
    const std::string stop = StopServiceCommand(name);
    switch (f.cause) {
    case OpenCause::kNone:
        return {};
    case OpenCause::kDenied:
        if (f.group.empty() || f.group == "root")
            return "Нет доступа к порту " + device + " у пользователя " + user +
                   ". Обратитесь к администратору.";
        if (f.user_in_group)
            return "Нет доступа к порту " + device + ": пользователь " + user + " уже в группе " +
                   f.group + ", но этот сеанс начат раньше. Выйдите из системы и войдите снова.";
        return "Нет доступа к порту " + device + ": он принадлежит группе " + f.group +
               ", а пользователь " + user +
               " в неё не входит. Добавьте его командой «sudo "
               "usermod -aG " +
               f.group + " " + user + "», затем выйдите из системы и войдите снова.";
    case OpenCause::kBusy:
        return "Порт " + name + " занят другой программой: " +
               (f.holders.empty()
                    ? std::string("службой синхронизации, другой копией программы или терминалом")
                    : HolderList(f.holders)) +
               ". Закройте её" + (stop.empty() ? "" : " или остановите службу («" + stop + "»)") +
               " и повторите.";
    case OpenCause::kAbsent:
        return "Порта " + name + " нет" + (device == name ? "" : " (" + device + ")") +
               ": адаптер не подключён или порт называется иначе.";
    case OpenCause::kOther:
        break;
    }
    return "Система сообщает: " + f.system_text + " (ошибка " + std::to_string(f.code) + ").";
}

} // namespace

std::string OpenFailureCause(const platform::OpenFailure& failure, const std::string& name,
                             const std::string& device, Words words)
{
    // "\\.\COM7" tells the operator nothing "COM7" does not.
    const std::string shown = device == "\\\\.\\" + name ? name : device;
    return words == Words::kRussian ? RussianCause(failure, name, shown)
                                    : EnglishCause(failure, name, shown);
}

std::string OpenFailureMessage(const PortOpening& opened, const std::string& name)
{
    const std::string cause =
        OpenFailureCause(opened.failure, name, PortPath(name), Words::kRussian);
    return cause.empty() ? opened.text : opened.text + "\n" + cause;
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

#include "app/connect.h"

#include "app/ini_file_chronavel.h"
#include "app/main_logic.h"
#include "link/exchange.h"
#include "link/hex.h"
#include "link/host.h"
#include "link/host_call.h"
#include "port/port.h"
#include "port/port_list.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace chronavel {

std::string AddressEntryText(int n)
{
    return ClockName(static_cast<uint8_t>(n));
}

std::vector<std::string> AddressEntries()
{
    std::vector<std::string> out;
    out.reserve(kAddressEntries);
    for (int n = 0; n < kAddressEntries; ++n)
        out.push_back(AddressEntryText(n));
    return out;
}

uint8_t ChosenAddress(bool to_all, int address_index)
{
    if (to_all)
        return 0xFF;
    return static_cast<uint8_t>(address_index & 0xFF);
}

std::optional<int32_t> ParseSpeed(const std::string& text)
{
    size_t i = 0;
    const size_t n = text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (i < n && blank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t digits_from = i;
    long long value = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(std::numeric_limits<int32_t>::max()) + 1)
            return std::nullopt;
        ++i;
    }
    if (i == digits_from)
        return std::nullopt;
    while (i < n && blank(text[i]))
        ++i;
    if (i != n)
        return std::nullopt;
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::string SpeedErrorText(const std::string& text)
{
    return "Скорость «" + text + "» не является целым десятичным числом.";
}

std::string SpeedRefusedText(int32_t speed)
{
    return "Скорость " + std::to_string(speed) +
           " не годится: нужна скорость больше нуля, "
           "например 9600 или 115200.";
}

PortOpening OpenPortForOperator(const std::string& name, int speed)
{
    PortOpening opened = TryOpenPort(name, speed);
    if (opened.port)
        ShowLineErrors(opened.port.get());
    else if (opened.error == PortErrorKind::kCannotOpen)
        HostPortError(opened.error, OpenFailureMessage(opened, name));
    else
        CurrentHost().ShowMessage(opened.text);
    return opened;
}

ConnectResult Connect(const ConnectChoice& choice)
{
    Host& host = CurrentHost();
    const std::optional<int32_t> speed = ParseSpeed(choice.SpeedText);
    if (!speed) {
        host.ShowMessage(SpeedErrorText(choice.SpeedText));
        return ConnectResult::kStayOpen;
    }
    // No entry to take a device name from: nothing is changed.
    if (choice.PortCount <= 0 || choice.PortIndex < 0 || choice.PortIndex >= choice.PortCount ||
        choice.PortIndex >= kMaxPortNames) {
        host.ShowMessage(kNoPortText);
        return ConnectResult::kStayOpen;
    }
    if (*speed <= 0) {
        host.ShowMessage(SpeedRefusedText(*speed));
        return ConnectResult::kStayOpen;
    }
    const std::string name = PortNames[static_cast<size_t>(choice.PortIndex)];
    if (name != Connection.ComPort && PortHandle.Get())
        ClosePort();
    if (platform::SerialPtr port = PortHandle.Get(); port && *speed != Connection.ComSpeed) {
        if (const std::string why = SetPortSpeed(*port, *speed); !why.empty()) {
            host.ShowMessage(why);
            return ConnectResult::kStayOpen;
        }
    }
    if (!PortHandle.Get()) {
        PortOpening opened = OpenPortForOperator(name, *speed);
        // A port that did not open at all closes the dialog; one that
        // refused the speed keeps it for another choice.
        if (!opened.port && opened.error == PortErrorKind::kSettingsRefused)
            return ConnectResult::kStayOpen;
        PortHandle.Set(opened.port);
    }
    // Only a port that opened (or stays open) makes the choice the
    // connection's: a refused port or speed is never stored, nor saved.
    if (PortHandle.Get()) {
        Connection.ComSpeed = *speed;
        Connection.ComPort = name;
        Connection.TargetAddress = ChosenAddress(choice.ToAll, choice.AddressIndex);
        StartExchangeThread();
        // The clocks get the time now, by the path the period takes, rather
        // than keeping a wrong time until the first period ends.
        SyncTime(Connection.TargetAddress);
    }
    return ConnectResult::kClose;
}

} // namespace chronavel

// What the connection dialog decides: the address list, the speed text,
// the recipient, and the steps of "Подключить" (speed, port, address, open,
// exchange thread).
#pragma once

#include "port/port.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel {

constexpr int kAddressEntries = 256;

// "$05/5": "$", two upper-case hex digits, "/", the decimal number.
std::string AddressEntryText(int n);
// The 256 entries in address order.
std::vector<std::string> AddressEntries();

// 0xFF for "Всем"; else the position of the chosen entry of the address
// list, whose low byte is stored (no entry, -1, gives 0xFF: all clocks).
uint8_t ChosenAddress(bool to_all, int address_index);

// The speed box's text as a decimal integer: optional blanks and sign,
// digits, within int32. Nothing for anything else.
std::optional<int32_t> ParseSpeed(const std::string& text);

// The message for a speed text that is not a decimal number.
std::string SpeedErrorText(const std::string& text);

constexpr const char* kNoPortText =
    "Не найден ни один последовательный порт: подключаться не к чему.";

// The message for a speed of 0 or below.
std::string SpeedRefusedText(int32_t speed);

// What the dialog holds when "Подключить" is pressed.
struct ConnectChoice {
    std::string SpeedText;
    int PortIndex = -1; // selected entry of the port list
    int PortCount = 0;  // entries in the port list
    bool ToAll = true;  // "Всем" selected
    int AddressIndex = -1;
};

// Opens a port for the windows (TryOpenPort) and tells the operator what
// it came to through the host: "Error opening port" and its cause on a
// second line (OpenFailureMessage) as a port error,
// "Error setting port state" as a message, the line's state of a port that
// opened (ShowLineErrors). The caller stores the port, or goes on by the
// failure's kind.
PortOpening OpenPortForOperator(const std::string& name, int speed);

enum class ConnectResult {
    kClose,    // done (connected, or the port could not be opened): close the dialog
    kStayOpen, // refused with a message; nothing or only part done: keep the dialog
};

// "Подключить": the speed converted (0 or below refused), a different port
// closes the open one, the speed applied to a port that stays open, the
// port opened when none is; only then, with a port open, ComSpeed, ComPort
// and TargetAddress are stored, a new exchange thread started (the running
// one retired first) and the time sent to the target at once. Messages go
// through the host.
ConnectResult Connect(const ConnectChoice& choice);

} // namespace chronavel

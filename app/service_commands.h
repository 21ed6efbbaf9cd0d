// The main window's service commands without the window: the settings read
// batch and its end, register reads and writes through the queue, the link
// check, and switching the exchange on and off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace chronavel {

// Told to the operator when a command needs the request queue and no
// connection stands (no exchange thread, or no port): nothing is queued.
constexpr const char* kNoConnectionMessage =
    "Нет подключения к часам: запрос не отправлен. Подключитесь через меню "
    "«Сервис» → «Подключение».";
// Told when the queue has no room for the whole command.
constexpr const char* kQueueFullMessage =
    "Очередь запросов переполнена: запрос не отправлен. Повторите позже.";

constexpr const char* kSettingsReceivedMessage = "Параметры получены!";
constexpr const char* kLinkDown = "Отключено";
constexpr const char* kLinkUp = "Подключено";

// An exchange thread is running (and so a request queue exists).
bool ExchangeRunning();

// Each returns "" when the requests are queued, else what to tell the
// operator; then nothing is queued. They need a connection: an exchange
// thread running and a port open.

// Queues a read (command 0x74) for every register of the read batch, in its
// order, to addr, whose record of answers starts afresh. Refused for all
// clocks (0xFF).
std::string ReadAllSettings(uint8_t addr);

// Queues the write of value to reg.
// Refused for all clocks (0xFF).
std::string QueueRegisterWrite(uint8_t addr, uint8_t reg, uint8_t value);

// Queues a read of the register whose hexadecimal number the text holds
// (its low 8 bits: "1FF" reads 0xFF).
std::string QueueRegisterRead(uint8_t addr, const std::string& hex_text);

// A hexadecimal number of at most 32 bits (blanks around it allowed), or
// none; and the message for a text that is not one.
std::optional<uint32_t> ParseHexNumber(const std::string& text);
std::string NotHexMessage(const std::string& text);

// The read batch has ended: every request taken, and the last one answered
// or given up.
bool SettingsReadFinished();

// The link check towards target: false at once for all clocks (0xFF); true
// with a master active (its blocks are the link); else one transaction
// (command 0x80, ten attempts), true when it was answered. The silence is
// not told (the caller shows the link's state), the line-status check's
// notice is. Blocks while the clock is asked. A port read that fails is
// shown ("Error reading port") and gives false.
bool LinkCheck(uint8_t target);

// "Включено" after its click toggled it: checked starts an exchange thread
// when the port is open and none runs (never a second one); unchecked stops
// the running one. Returns the check mark it must show.
bool ExchangeSwitch(bool checked);

// "Табло-мастер": starts an exchange thread only when none was ever started
// in this run.
void StartExchangeOnce();

// Stops the exchange thread (if any) and closes the port; errors ignored.
void StopExchangeAndClosePort();

} // namespace chronavel

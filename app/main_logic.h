// What the main window decides, without the window: the clock display's
// texts and timing, the synchronisation period of the menu's period items,
// the manual and periodic synchronisation, the request-failure dialogs and
// the shutdown steps. The window only shows the results.
#pragma once

#include "app/ini_file_chronavel.h"
#include "app/time_sync.h"
#include "link/request.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace chronavel {

// --- Clock display.
// "09.05.07": hours, minutes, seconds, two digits each, full stops between.
std::string TimeText(const LocalTime& t);
// "06.12.2026": day, month, four-digit year.
std::string DateText(const LocalTime& t);

// Milliseconds from now to the next whole second of the system clock, so
// the display flips together with the PC's clock (1..1000).
int MsToNextSecond(std::chrono::system_clock::time_point now);

// --- Synchronisation period. Entry 0 is the submenu "Частота
// синхронизации" itself, 1..4 its items "Минута", "Час", "3 часа", "Сутки".
using PeriodChecks = std::array<bool, PeriodMenu::kEntries>;

// Seconds between synchronisations for a checked entry (0 for entry 0 and
// anything outside 1..4).
int32_t PeriodSeconds(int entry);

// The period handler's steps: every entry but sender loses its check mark
// (sender keeps what its click gave it); the result is SyncPeriod, the
// period of the checked item in seconds, 0 when none is checked.
int32_t PeriodClick(PeriodChecks& checks, int sender);

// --- Synchronisation.
// A connection stands: an exchange thread runs and a port is open.
bool Connected();

enum class SyncOutcome {
    kQueued,       // the time-setting request is in the ring
    kNoConnection, // nothing to send it through; nothing queued
    kQueueFull,    // the ring has no room; nothing queued
};

// Queues the time-setting request for addr when a connection stands.
SyncOutcome SyncTime(uint8_t addr);

// What "Синхронизация времени" tells the operator when nothing was sent
// (empty for kQueued).
std::string SyncOutcomeText(SyncOutcome outcome);

constexpr const char* kNoConnectionText =
    "Нет подключения к часам: время не отправлено. Подключитесь через меню "
    "«Сервис» → «Подключение».";
constexpr const char* kQueueFullText =
    "Очередь запросов переполнена: время не отправлено. Повторите позже.";

// --- Request failure (WM_REQUEST_FAILED).
constexpr const char* kRetryReadText = "Значение не прочитано! Повторить чтение?";
constexpr const char* kReconnectText = "Устройство не отвечает! Повторить подключение?";

// What the failure handler needs of the window for the reconnect path.
class ReconnectUi {
public:
    virtual ~ReconnectUi() = default;
    // True once the main window is closing: nothing more is asked or shown.
    virtual bool Closing() const = 0;
    virtual void ClearN7() = 0; // the "Включено" check mark
    virtual void StopTimer3() = 0;
    virtual void ShowConnectionDialog() = 0;
    // Returns once no save or link check is using the port any more (the
    // port is about to be closed).
    virtual void WaitForPortWork() {}
};

enum class FailureAnswer {
    kRetried,     // OK: the entry re-armed and a fresh copy queued
    kGivenUp,     // Cancel, then Cancel: the request dropped, nothing else
    kReconnected, // Cancel, then OK: exchange stopped, port closed, dialog shown
    kClosing,     // the window is closing: the request dropped, nothing asked
    kNoThread,    // Cancel, but no exchange thread took it: told, nothing more asked
};

// The handler, on the window thread while the reporting exchange thread
// waits: asks through the host's warning boxes and acts on the answers.
FailureAnswer HandleRequestFailed(std::unique_ptr<FailureBlock> block, ReconnectUi& ui);

// --- Leaving.
// "Выход": asks the exchange thread to stop and stores the settings (the
// window then closes). False when a write did not reach the file.
bool ExitSteps(const PeriodMenu& menu);

// The main window's close steps that are not the window's own: the
// exchange thread asked to end (not waited for) and the port closed.
void CloseSteps();

// After the window has closed: waits up to limit for the exchange thread to
// end. False when it is still running (the caller ends the process anyway).
bool FinishExchange(std::chrono::milliseconds limit);

} // namespace chronavel

// The settings file: the serial connection, a delay value and the
// synchronisation period, kept between runs in section "Interface".
#pragma once

#include "platform/ini.h"

#include <cstdint>
#include <string>

namespace chronavel {

// The connection settings, read and written on the window thread only.
struct ConnectionSettings {
    std::string ComPort;       // device name, e.g. "COM1"
    int32_t ComSpeed = 0;      // bits per second
    int32_t DelayTime = 0;     // milliseconds; loaded and stored, used by nothing else
    uint8_t TargetAddress = 0; // bus address of the clock; 0xFF = all. Not stored
};

extern ConnectionSettings Connection;

constexpr const char* kSettingsSection = "Interface";
constexpr const char* kDefaultComPort = "COM1";
constexpr int32_t kDefaultComSpeed = 9600;
constexpr int32_t kDefaultDelayTime = 100;
constexpr int32_t kMinDelayTime = 50;
constexpr int kDefaultPeriod = 4;

// The five period entries of the main menu that "Period_sinhr" indexes:
// 0 is the submenu "Частота синхронизации" itself (N14), 1..4 its items
// "Минута" (N15), "Час" (N16), "3 часа" (N17), "Сутки" (N18).
class PeriodMenu {
public:
    static constexpr int kEntries = 5;

    virtual ~PeriodMenu() = default;
    virtual bool Checked(int index) const = 0;
    virtual void SetChecked(int index, bool checked) = 0;
    // The period handler, called as if entry 'sender' had been clicked.
    virtual void N15Click(int sender) = 0;
};

// Reads the file, fills Connection, writes "DelayTime" back at once (on
// every start), checks the stored period entry and runs its handler. Keeps
// the settings file object for the rest of the run.
void Load_settings(PeriodMenu& menu);

// Writes "ComPort", "ComSpeed", "DelayTime", and "Period_sinhr" as the
// highest checked entry; with none checked the stored period stays. False
// when a write did not reach the file (the run goes on regardless).
bool Save_settings(const PeriodMenu& menu);

// The settings file in use: the executable's path with ".ini" (replacing
// ".exe" where there is one), or, when the executable's directory cannot be
// written, <user config dir>/chronavel/chronavel.ini.
std::string SettingsPathFor(const std::string& exe_path, bool exe_dir_writable,
                            const std::string& config_dir);
// The file beside the executable (an administrator's, where the program is
// installed read-only).
std::string SettingsBesideExecutable(const std::string& exe_path);
// The file a run reads and writes: SettingsPathFor; but where the
// executable's folder cannot be written and the user has no file yet, the
// user's file starts as a copy of the administrator's file beside the
// executable, when there is one. If no file of the user's own can be made,
// the administrator's file is read (and writes are lost).
std::string ChooseSettingsFile(const std::string& exe_path, bool exe_dir_writable,
                               const std::string& config_dir);
// A folder the system's package manager owns (/usr/..., /bin, /sbin): an
// installed program never writes beside itself there, even when run by root.
bool SystemProgramFolder(const std::string& dir);
// ChooseSettingsFile for this executable; its folder counts as writable
// only when it can be written and is no system program folder.
std::string DefaultSettingsPath();

// Tests and tools name the file themselves; "" returns to the default.
void SetSettingsPath(const std::string& path);

// The settings file object; null before Load_settings.
platform::IniFile* SettingsFile();

// Back to the state before Load_settings: empty port, zero speed, delay and
// address, no settings file object, default path.
void ResetSettings();

} // namespace chronavel

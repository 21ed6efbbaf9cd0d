#include "app/ini_file_chronavel.h"

#include "platform/app_paths.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <system_error>

namespace chronavel {

ConnectionSettings Connection;

namespace {

struct SettingsFileState {
    std::string path_override;
    std::unique_ptr<platform::IniFile> file;
};

SettingsFileState State;

platform::IniFile& OpenSettingsFile()
{
    if (!State.file) {
        const std::string path =
            State.path_override.empty() ? DefaultSettingsPath() : State.path_override;
        // The fallback directory may not exist yet; a failure here shows
        // only as writes that do not reach the file.
        std::error_code ec;
        const auto dir = std::filesystem::path(path).parent_path();
        if (!path.empty() && !dir.empty())
            std::filesystem::create_directories(dir, ec);
        State.file = std::make_unique<platform::IniFile>(path);
    }
    return *State.file;
}

} // namespace

std::string SettingsPathFor(const std::string& exe_path, bool exe_dir_writable,
                            const std::string& config_dir)
{
    if (!exe_path.empty() && exe_dir_writable) {
        std::filesystem::path p(exe_path);
        std::string ext = p.extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".exe")
            return p.replace_extension(".ini").string();
        // Other dots belong to the name (chronavel-1.2): nothing to replace.
        return exe_path + ".ini";
    }
    if (config_dir.empty())
        return {};
    return (std::filesystem::path(config_dir) / "chronavel" / "chronavel.ini").string();
}

std::string DefaultSettingsPath()
{
    const std::string exe = platform::ExecutablePath();
    const std::string dir =
        exe.empty() ? std::string() : std::filesystem::path(exe).parent_path().string();
    return SettingsPathFor(exe, platform::DirectoryWritable(dir), platform::UserConfigDir());
}

void SetSettingsPath(const std::string& path)
{
    State.path_override = path;
    State.file.reset();
}

platform::IniFile* SettingsFile()
{
    return State.file.get();
}

void ResetSettings()
{
    Connection = ConnectionSettings{};
    State = SettingsFileState{};
}

void Load_settings(PeriodMenu& menu)
{
    platform::IniFile& ini = OpenSettingsFile();
    Connection.ComPort = ini.ReadString(kSettingsSection, "ComPort", kDefaultComPort);
    // An empty name can open nothing; the port list would replace it anyway.
    if (Connection.ComPort.empty())
        Connection.ComPort = kDefaultComPort;
    Connection.ComSpeed = ini.ReadInteger(kSettingsSection, "ComSpeed", kDefaultComSpeed);
    Connection.DelayTime = ini.ReadInteger(kSettingsSection, "DelayTime", kDefaultDelayTime);
    if (Connection.DelayTime < kMinDelayTime)
        Connection.DelayTime = kDefaultDelayTime;
    ini.WriteInteger(kSettingsSection, "DelayTime", Connection.DelayTime);

    int period = ini.ReadInteger(kSettingsSection, "Period_sinhr", kDefaultPeriod);
    if (period < 0 || period >= PeriodMenu::kEntries)
        period = kDefaultPeriod; // no entry to select: take the default
    menu.SetChecked(period, true);
    menu.N15Click(period);
}

bool Save_settings(const PeriodMenu& menu)
{
    platform::IniFile& ini = OpenSettingsFile();
    bool ok = ini.WriteString(kSettingsSection, "ComPort", Connection.ComPort);
    ok = ini.WriteInteger(kSettingsSection, "ComSpeed", Connection.ComSpeed) && ok;
    ok = ini.WriteInteger(kSettingsSection, "DelayTime", Connection.DelayTime) && ok;
    int highest = -1;
    for (int i = 0; i < PeriodMenu::kEntries; ++i) {
        if (menu.Checked(i))
            highest = i;
    }
    if (highest >= 0)
        ok = ini.WriteInteger(kSettingsSection, "Period_sinhr", highest) && ok;
    return ok;
}

} // namespace chronavel

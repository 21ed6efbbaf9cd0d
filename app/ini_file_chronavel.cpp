#include "app/ini_file_chronavel.h"

#include "platform/app_paths.h"
#include "platform/utf8_path.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

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
        const auto dir = platform::PathFromUtf8(path).parent_path();
        if (!path.empty() && !dir.empty())
            std::filesystem::create_directories(dir, ec);
        State.file = std::make_unique<platform::IniFile>(path);
    }
    return *State.file;
}

} // namespace

std::string SettingsBesideExecutable(const std::string& exe_path)
{
    if (exe_path.empty())
        return {};
    std::filesystem::path p = platform::PathFromUtf8(exe_path);
    std::string ext = platform::Utf8FromPath(p.extension());
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".exe")
        return platform::Utf8FromPath(p.replace_extension(".ini"));
    // Other dots belong to the name (chronavel-1.2): nothing to replace.
    return exe_path + ".ini";
}

std::string SettingsPathFor(const std::string& exe_path, bool exe_dir_writable,
                            const std::string& config_dir)
{
    if (!exe_path.empty() && exe_dir_writable)
        return SettingsBesideExecutable(exe_path);
    if (config_dir.empty())
        return {};
    return platform::Utf8FromPath(platform::PathFromUtf8(config_dir) / "chronavel" /
                                  "chronavel.ini");
}

std::string ChooseSettingsFile(const std::string& exe_path, bool exe_dir_writable,
                               const std::string& config_dir)
{
    const std::string mine = SettingsPathFor(exe_path, exe_dir_writable, config_dir);
    if (exe_path.empty() || exe_dir_writable)
        return mine;
    namespace fs = std::filesystem;
    const std::string admin = SettingsBesideExecutable(exe_path);
    std::error_code ec;
    const fs::path mine_path = platform::PathFromUtf8(mine);
    const fs::path admin_path = platform::PathFromUtf8(admin);
    if (!mine.empty() && fs::exists(mine_path, ec))
        return mine;
    if (!fs::is_regular_file(admin_path, ec))
        return mine;
    // The user's file starts as the administrator's; from then on it is
    // the one read and written.
    if (!mine.empty()) {
        fs::create_directories(mine_path.parent_path(), ec);
        if (fs::copy_file(admin_path, mine_path, fs::copy_options::skip_existing, ec) && !ec)
            return mine;
        if (fs::exists(mine_path, ec))
            return mine;
    }
    // No file of the user's own can be made: the administrator's is read,
    // and writes are lost, as with any file that cannot be written.
    return admin;
}

bool SystemProgramFolder(const std::string& dir)
{
    // Forward slashes on every system, so the names compare the same way.
    const std::u8string g = platform::PathFromUtf8(dir).lexically_normal().generic_u8string();
    const std::string d(g.begin(), g.end());
    return d == "/usr" || d.rfind("/usr/", 0) == 0 || d == "/bin" || d == "/bin/" || d == "/sbin" ||
           d == "/sbin/";
}

std::string DefaultSettingsPath()
{
    const std::string exe = platform::ExecutablePath();
    const std::string dir = exe.empty()
                                ? std::string()
                                : platform::Utf8FromPath(platform::PathFromUtf8(exe).parent_path());
    const bool writable = platform::DirectoryWritable(dir) && !SystemProgramFolder(dir);
    return ChooseSettingsFile(exe, writable, platform::UserConfigDir());
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
    std::vector<std::pair<std::string, std::string>> values = {
        {"ComPort", Connection.ComPort},
        {"ComSpeed", std::to_string(Connection.ComSpeed)},
        {"DelayTime", std::to_string(Connection.DelayTime)},
    };
    int highest = -1;
    for (int i = 0; i < PeriodMenu::kEntries; ++i) {
        if (menu.Checked(i))
            highest = i;
    }
    if (highest >= 0)
        values.emplace_back("Period_sinhr", std::to_string(highest));
    // One rewrite: a crash between values cannot leave half a save.
    return OpenSettingsFile().WriteValues(kSettingsSection, values);
}

} // namespace chronavel

#include "app/ini_file_chronavel.h"

#include "platform/app_paths.h"

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
        const auto dir = std::filesystem::path(path).parent_path();
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
    std::filesystem::path p(exe_path);
    std::string ext = p.extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".exe")
        return p.replace_extension(".ini").string();
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
    return (std::filesystem::path(config_dir) / "chronavel" / "chronavel.ini").string();
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
    if (!mine.empty() && fs::exists(mine, ec))
        return mine;
    if (!fs::is_regular_file(admin, ec))
        return mine;
    // The user's file starts as the administrator's; from then on it is
    // the one read and written.
    if (!mine.empty()) {
        fs::create_directories(fs::path(mine).parent_path(), ec);
        if (fs::copy_file(admin, mine, fs::copy_options::skip_existing, ec) && !ec)
            return mine;
        if (fs::exists(mine, ec))
            return mine;
    }
    // No file of the user's own can be made: the administrator's is read,
    // and writes are lost, as with any file that cannot be written.
    return admin;
}

bool SystemProgramFolder(const std::string& dir)
{
    // Forward slashes on every system, so the names compare the same way.
    const std::string d = std::filesystem::path(dir).lexically_normal().generic_string();
    return d == "/usr" || d.rfind("/usr/", 0) == 0 || d == "/bin" || d == "/bin/" || d == "/sbin" ||
           d == "/sbin/";
}

std::string DefaultSettingsPath()
{
    const std::string exe = platform::ExecutablePath();
    const std::string dir =
        exe.empty() ? std::string() : std::filesystem::path(exe).parent_path().string();
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

#include "app/ini_file_chronavel.h"
#include "platform/app_paths.h"
#include "support/temp_dir.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace chronavel;
namespace fs = std::filesystem;

namespace {

// The five period entries; the handler does what the main window's does to
// the check marks: the clicked entry stays, the others are cleared.
class FakeMenu : public PeriodMenu {
public:
    bool Checked(int index) const override { return checked.at(static_cast<size_t>(index)); }
    void SetChecked(int index, bool on) override { checked.at(static_cast<size_t>(index)) = on; }
    void N15Click(int sender) override
    {
        clicks.push_back(sender);
        for (int i = 0; i < kEntries; ++i) {
            if (i != sender)
                SetChecked(i, false);
        }
    }

    int OnlyChecked() const
    {
        int found = -1;
        for (int i = 0; i < kEntries; ++i) {
            if (Checked(i)) {
                if (found >= 0)
                    return -2;
                found = i;
            }
        }
        return found;
    }

    std::array<bool, kEntries> checked{};
    std::vector<int> clicks;
};

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSettings();
        SetSettingsPath(path_);
    }
    void TearDown() override { ResetSettings(); }

    void Put(const std::string& text) const { test::PutFile(path_, text); }
    std::string Get() const { return test::GetFile(path_); }
    int StoredPeriod() const
    {
        return platform::IniFile(path_).ReadInteger("Interface", "Period_sinhr", -1);
    }

    test::TempDir tmp_{"chronavel-settings"};
    const fs::path& dir_ = tmp_.path();
    const std::string path_ = (dir_ / "chronavel.ini").string();
    FakeMenu menu_;
};

TEST_F(Settings, BeforeLoadEverythingIsEmpty)
{
    Connection.ComPort = "COM9";
    Connection.TargetAddress = 0xFF;
    ResetSettings();
    EXPECT_EQ(Connection.ComPort, "");
    EXPECT_EQ(Connection.ComSpeed, 0);
    EXPECT_EQ(Connection.DelayTime, 0);
    EXPECT_EQ(Connection.TargetAddress, 0);
    EXPECT_EQ(SettingsFile(), nullptr);
}

TEST_F(Settings, NoFileGivesDefaultsAndAFileWithOnlyTheDelay)
{
    Load_settings(menu_);
    EXPECT_EQ(Connection.ComPort, "COM1");
    EXPECT_EQ(Connection.ComSpeed, 9600);
    EXPECT_EQ(Connection.DelayTime, 100);
    EXPECT_EQ(Connection.TargetAddress, 0);
    EXPECT_EQ(menu_.OnlyChecked(), 4);
    EXPECT_EQ(menu_.clicks, std::vector<int>{4});
    EXPECT_EQ(Get(), "[Interface]\nDelayTime=100\n");
    ASSERT_NE(SettingsFile(), nullptr);
    EXPECT_EQ(SettingsFile()->Path(), path_);
}

TEST_F(Settings, StoredValuesAreRead)
{
    Put("[Interface]\nComPort=/dev/ttyUSB0\nComSpeed=115200\nDelayTime=250\nPeriod_sinhr=2\n");
    Load_settings(menu_);
    EXPECT_EQ(Connection.ComPort, "/dev/ttyUSB0");
    EXPECT_EQ(Connection.ComSpeed, 115200);
    EXPECT_EQ(Connection.DelayTime, 250);
    EXPECT_EQ(menu_.OnlyChecked(), 2);
    EXPECT_EQ(menu_.clicks, std::vector<int>{2});
}

TEST_F(Settings, AnySpeedIsAcceptedButUnusableValuesGiveDefaults)
{
    Put("[Interface]\nComPort=\nComSpeed=-5\n");
    Load_settings(menu_);
    EXPECT_EQ(Connection.ComPort, "COM1");
    EXPECT_EQ(Connection.ComSpeed, -5);

    ResetSettings();
    SetSettingsPath(path_);
    Put("[Interface]\nComSpeed=fast\nDelayTime=12abc\n");
    Load_settings(menu_);
    EXPECT_EQ(Connection.ComSpeed, 9600);
    EXPECT_EQ(Connection.DelayTime, 100);
    EXPECT_EQ(Get(), "[Interface]\nComSpeed=fast\nDelayTime=100\n");
}

TEST_F(Settings, DelayBelowFiftyBecomesAHundredAndIsWrittenAtStart)
{
    struct Case {
        const char* stored;
        int loaded;
    };
    for (const Case c : {Case{"20", 100}, Case{"49", 100}, Case{"-7", 100}, Case{"50", 50},
                         Case{"51", 51}, Case{"100000", 100000}}) {
        ResetSettings();
        SetSettingsPath(path_);
        Put(std::string("[Interface]\nDelayTime=") + c.stored + "\n");
        Load_settings(menu_);
        EXPECT_EQ(Connection.DelayTime, c.loaded) << c.stored;
        EXPECT_EQ(Get(), "[Interface]\nDelayTime=" + std::to_string(c.loaded) + "\n") << c.stored;
    }
}

TEST_F(Settings, LoadWritesNothingButTheDelay)
{
    const std::string before = "; kept\r\n[Other]\r\nx=1\r\n[Interface]\r\nComPort=COM3\r\n"
                               "DelayTime=20\r\nPeriod_sinhr=1\r\n";
    Put(before);
    Load_settings(menu_);
    std::string expected = before;
    expected.replace(expected.find("DelayTime=20"), 12, "DelayTime=100");
    EXPECT_EQ(Get(), expected);
}

TEST_F(Settings, PeriodEntryIsCheckedAndItsHandlerRun)
{
    for (int v = 0; v <= 4; ++v) {
        ResetSettings();
        SetSettingsPath(path_);
        menu_ = FakeMenu{};
        Put("[Interface]\nPeriod_sinhr=" + std::to_string(v) + "\n");
        Load_settings(menu_);
        EXPECT_EQ(menu_.OnlyChecked(), v);
        EXPECT_EQ(menu_.clicks, std::vector<int>{v});
    }
}

TEST_F(Settings, PeriodOutsideTheEntriesIsTakenAsOneDay)
{
    for (const char* stored : {"5", "-1", "14", "2147483647", "one", ""}) {
        ResetSettings();
        SetSettingsPath(path_);
        menu_ = FakeMenu{};
        Put(std::string("[Interface]\nPeriod_sinhr=") + stored + "\n");
        Load_settings(menu_);
        EXPECT_EQ(menu_.OnlyChecked(), 4) << stored;
        EXPECT_EQ(menu_.clicks, std::vector<int>{4}) << stored;
    }
}

TEST_F(Settings, SaveWritesConnectionAndCheckedPeriod)
{
    Put("[Interface]\nPeriod_sinhr=4\n[Keep]\nk=v\n");
    Load_settings(menu_);
    Connection.ComPort = "COM7";
    Connection.ComSpeed = 19200;
    Connection.TargetAddress = 0xFF;
    menu_.N15Click(2); // the user picks "Час"
    menu_.SetChecked(2, true);
    ASSERT_TRUE(Save_settings(menu_));
    EXPECT_EQ(Get(), "[Interface]\nPeriod_sinhr=2\nDelayTime=100\nComPort=COM7\nComSpeed=19200\n"
                     "[Keep]\nk=v\n");
}

TEST_F(Settings, SaveWithNoPeriodCheckedKeepsTheStoredOne)
{
    Put("[Interface]\nPeriod_sinhr=3\n");
    Load_settings(menu_);
    menu_.SetChecked(3, false); // the user clears the current period
    ASSERT_TRUE(Save_settings(menu_));
    EXPECT_EQ(StoredPeriod(), 3);
}

TEST_F(Settings, PeriodZeroSurvivesASave)
{
    Put("[Interface]\nPeriod_sinhr=0\n");
    Load_settings(menu_);
    EXPECT_EQ(menu_.OnlyChecked(), 0);
    ASSERT_TRUE(Save_settings(menu_));
    EXPECT_EQ(StoredPeriod(), 0);
}

TEST_F(Settings, HighestCheckedPeriodWins)
{
    Load_settings(menu_);
    menu_.checked = {true, true, false, true, false};
    ASSERT_TRUE(Save_settings(menu_));
    EXPECT_EQ(StoredPeriod(), 3);
}

TEST_F(Settings, RoundTripThroughSaveAndLoad)
{
    Load_settings(menu_);
    Connection.ComPort = "/dev/pts/7";
    Connection.ComSpeed = 38400;
    Connection.DelayTime = 60;
    menu_.checked = {false, true, false, false, false};
    ASSERT_TRUE(Save_settings(menu_));

    ResetSettings();
    SetSettingsPath(path_);
    FakeMenu again;
    Load_settings(again);
    EXPECT_EQ(Connection.ComPort, "/dev/pts/7");
    EXPECT_EQ(Connection.ComSpeed, 38400);
    EXPECT_EQ(Connection.DelayTime, 60);
    EXPECT_EQ(again.OnlyChecked(), 1);
}

TEST_F(Settings, UnwritableLocationLosesWritesWithoutFailingTheRun)
{
    // A regular file where the directory should be: nothing can be created.
    Put("not a directory");
    SetSettingsPath(path_ + "/chronavel.ini");
    Load_settings(menu_);
    EXPECT_EQ(Connection.ComPort, "COM1");
    EXPECT_EQ(Connection.DelayTime, 100);
    EXPECT_EQ(menu_.OnlyChecked(), 4);
    EXPECT_FALSE(Save_settings(menu_));
    EXPECT_EQ(Get(), "not a directory");
}

TEST_F(Settings, MissingConfigDirectoryIsCreated)
{
    SetSettingsPath((dir_ / "config" / "chronavel" / "chronavel.ini").string());
    Load_settings(menu_);
    EXPECT_TRUE(fs::exists(dir_ / "config" / "chronavel" / "chronavel.ini"));
}

TEST(SettingsLocation, BesideTheExecutableWhenItsDirectoryIsWritable)
{
    EXPECT_EQ(SettingsPathFor("/opt/chronavel/bin/chronavel", true, "/home/u/.config"),
              "/opt/chronavel/bin/chronavel.ini");
    EXPECT_EQ(SettingsPathFor("/opt/bin/chronavel-1.2", true, "/cfg"),
              "/opt/bin/chronavel-1.2.ini");
    EXPECT_EQ(SettingsPathFor("C:/Programs/Chronavel.EXE", true, ""), "C:/Programs/Chronavel.ini");
}

TEST(SettingsLocation, UserConfigDirectoryOtherwise)
{
    // Compared as paths: Windows joins with "\\".
    EXPECT_EQ(fs::path(SettingsPathFor("/usr/bin/chronavel", false, "/home/u/.config")),
              fs::path("/home/u/.config/chronavel/chronavel.ini"));
    EXPECT_EQ(fs::path(SettingsPathFor("", true, "/cfg")),
              fs::path("/cfg/chronavel/chronavel.ini"));
    EXPECT_EQ(SettingsPathFor("", false, ""), "");
}

// An installed program's folder cannot be written: the user's own file is
// read when there is one, else the administrator's file beside the program
// (copied to the user's, where every write goes), never the defaults only.
TEST(SettingsLocation, InstalledProgramReadsTheAdministratorsFileUntilTheUserHasOne)
{
    test::TempDir tmp;
    const fs::path bin = tmp.path() / "bin";
    const fs::path cfg = tmp.path() / "cfg";
    const std::string exe = (bin / "chronavel").string();
    const std::string admin = exe + ".ini";
    const std::string user = (cfg / "chronavel" / "chronavel.ini").string();
    const struct {
        const char* Name;
        bool Writable;
        const char* AdminText; // nullptr: none
        const char* UserText;  // nullptr: none
        bool ConfigBlocked;    // a file where the config folder should be
        std::string Expected;
        const char* ExpectedText; // what the chosen file holds
    } cases[] = {
        {"writable folder", true, "[Interface]\nComPort=ttyS9\n", nullptr, false, admin,
         "[Interface]\nComPort=ttyS9\n"},
        {"user file wins", false, "[Interface]\nComPort=ttyS9\n", "[Interface]\nComPort=ttyUSB1\n",
         false, user, "[Interface]\nComPort=ttyUSB1\n"},
        {"administrator's file copied", false, "[Interface]\nComPort=ttyS9\n", nullptr, false, user,
         "[Interface]\nComPort=ttyS9\n"},
        {"neither", false, nullptr, nullptr, false, user, nullptr},
        {"no user file possible", false, "[Interface]\nComPort=ttyS9\n", nullptr, true, admin,
         "[Interface]\nComPort=ttyS9\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(bin);
        fs::remove_all(cfg);
        fs::create_directories(bin);
        if (c.AdminText)
            test::PutFile(admin, c.AdminText);
        if (c.ConfigBlocked)
            test::PutFile(cfg.string(), "x");
        if (c.UserText) {
            fs::create_directories(cfg / "chronavel");
            test::PutFile(user, c.UserText);
        }
        EXPECT_EQ(ChooseSettingsFile(exe, c.Writable, cfg.string()), c.Expected);
        if (c.ExpectedText) {
            EXPECT_EQ(test::GetFile(c.Expected), c.ExpectedText);
        }
        if (c.AdminText) {
            EXPECT_EQ(test::GetFile(admin), c.AdminText); // never written
        }
    }
}

// Root can write /usr/bin, but a packaged program's settings belong to the
// user's configuration folder, not among the package's files.
TEST(SettingsLocation, SystemProgramFoldersAreNeverWrittenBeside)
{
    const std::pair<const char*, bool> cases[] = {
        {"/usr/bin", true},
        {"/usr/local/bin", true},
        {"/usr/bin/../lib", true},
        {"/bin", true},
        {"/sbin/", true},
        {"/opt/chronavel/bin", false},
        {"/home/u/chronavel", false},
        {"/usrlocal", false},
        {"", false},
    };
    for (const auto& [dir, system] : cases)
        EXPECT_EQ(SystemProgramFolder(dir), system) << dir;
}

TEST(SettingsLocation, DefaultForThisProgram)
{
    const std::string exe = platform::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    const std::string dir = fs::path(exe).parent_path().string();
    if (platform::DirectoryWritable(dir) && !SystemProgramFolder(dir))
        EXPECT_EQ(DefaultSettingsPath(), SettingsBesideExecutable(exe));
    else
        EXPECT_EQ(fs::path(DefaultSettingsPath()).filename(), "chronavel.ini");
}

} // namespace

// Settings files as `chronavelctl config` reads them: what is refused, with
// a message naming it, and that a clock's settings go through a file and
// come back the same, unanswered ones left out.
#include "config/registers.h"
#include "support/temp_dir.h"
#include "tools/settings/config_file.h"

#include <gtest/gtest.h>

namespace chronavel::test {
namespace {

TEST(ConfigFile, BadFilesAreRefusedByName)
{
    const std::string head = R"({"format": "chronavel-clock-settings", "version": 1, )";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not json", "not a JSON object"},
        {"[1, 2]", "not a JSON object"},
        {R"({"clocks": {"0x05": {"Volume": 6}}})", "not a settings file"},
        {R"({"format": 5, "clocks": {"0x05": {"Volume": 6}}})", "not a settings file"},
        {R"({"format": "chronavel-clock-settings", "version": 2, "clocks": {}})", "later version"},
        {head + R"("clocks": {}})", "no clocks"},
        {head + R"("clocks": {"0xFF": {"Volume": 6}}})", "\"0xFF\" is not a clock's address"},
        {head + R"("clocks": {"five": {"Volume": 6}}})", "\"five\" is not a clock's address"},
        {head + R"("clocks": {"0x05": {"Volume": 300}}})", "clock 0x05: Volume: 300"},
        {head + R"("clocks": {"0x05": {"Loudness": 3}}})", "unknown setting \"Loudness\""},
        {head + R"("clocks": {"0x05": {"Expo": [1, 2]}}})", "Expo: 9 numbers expected"},
        {head + R"("clocks": {"0x05": {"DimOnTime": "7:30"}}})", "not HH:MM"},
    };
    TempDir dir;
    const std::string path = (dir.path() / "settings.json").string();
    for (const auto& [text, why] : cases) {
        PutFile(path, text);
        ctl::ConfigFile f;
        EXPECT_NE(ctl::LoadConfigFile(path, f).find(why), std::string::npos)
            << text << " -> " << ctl::LoadConfigFile(path, f);
    }
}

TEST(ConfigFile, SettingsGoThroughAFileUnchanged)
{
    RegisterValues clock;
    for (uint8_t r : {kRegVolume, kRegCorrectionHigh, kRegCorrectionLow, kRegDimOnHour})
        clock.Set(r, static_cast<uint8_t>(r == kRegCorrectionHigh ? 0xFF : r));
    clock.Set(kRegDimOnHour + 1, 0x30);
    ctl::ConfigFile out{"ttyUSB0", 1796040000, {{5, clock}}};
    const auto j = ctl::ConfigJson(out);
    EXPECT_EQ(j["clocks"]["0x05"]["DayCorrection"],
              static_cast<int16_t>(0xFF00 | kRegCorrectionLow));
    // A list is left out unless every one of its registers is known.
    EXPECT_FALSE(j["clocks"]["0x05"].contains("Expo"));

    TempDir dir;
    const std::string path = (dir.path() / "settings.json").string();
    PutFile(path, j.dump());
    ctl::ConfigFile in;
    ASSERT_EQ(ctl::LoadConfigFile(path, in), "");
    EXPECT_EQ(in.Port, "ttyUSB0");
    ASSERT_EQ(in.Clocks.count(5), 1u);
    EXPECT_EQ(in.Clocks[5], clock);
    EXPECT_TRUE(ctl::CompareSettings(clock, in.Clocks[5]).empty());
    RegisterValues louder = clock;
    louder.Set(kRegVolume, 7);
    const auto d = ctl::CompareSettings(louder, in.Clocks[5]);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].Name + ": clock " + d[0].Clock + ", file " + d[0].File,
              "Volume: clock 7, file 67");
}

} // namespace
} // namespace chronavel::test

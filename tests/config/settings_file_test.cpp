// A clock's settings file as the tool's restore and the simulator read it:
// what each form gives, and what is refused with which words.
#include "config/registers.h"
#include "config/settings_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace chronavel::test {
namespace {

TEST(SettingsFile, EachFormIsReadAndEachFaultNamed)
{
    struct Case {
        std::string Text;
        std::string Why; // "" when taken
        std::vector<std::pair<uint8_t, uint8_t>> Regs;
    };
    const std::vector<Case> cases = {
        {R"( {"Volume": 6, "DimOnTime": "07:30", "DayCorrection": -2,)"
         R"( "FieldFormat": [1, 2, 3, 4, 5, 6, 7, 8]} )",
         "",
         {{kRegVolume, 6},
          {kRegDimOnHour, 0x07},
          {kRegDimOnHour + 1, 0x30},
          {kRegCorrectionHigh, 0xFF},
          {kRegCorrectionLow, 0xFE},
          {0xDF, 8}}},
        // The last of a name counts; escapes are read.
        {R"({"Volume": 1, "Volume": 2, "Alarm1Time": "\u0030\u0036:30"})",
         "",
         {{kRegVolume, 2}, {kRegAlarm1Hour, 0x06}, {kRegAlarm1Hour + 1, 0x30}}},
        {"{\"Volume\": 6,}", "not valid JSON", {}},
        {"{\"Volume\": 6} 7", "not valid JSON", {}},
        {"{\"Volume\": 06}", "not valid JSON", {}},
        {R"({"Volume": 6.0})", "Volume: not a number, list or time", {}},
        {R"({"Volume": {"a": [true, null]}})", "Volume: not a number, list or time", {}},
        {R"({"Expo": [1, 2.5, 3, 4, 5, 6, 7, 8, 9]})", "Expo[1]: not a byte (0..255)", {}},
        {R"({"Loudness": 3})", "unknown setting \"Loudness\"", {}},
        {"# a comment\n76=5\n 0x43 = 0x06 \n\n", "", {{kRegClockAddr, 5}, {kRegVolume, 6}}},
        {"43=300", "register and value must be 0..255", {}},
    };
    TempDir dir;
    const std::string path = (dir.path() / "clock.json").string();
    for (const Case& c : cases) {
        PutFile(path, c.Text);
        RegisterValues out;
        const std::string why = LoadSettingsFile(path, out);
        if (c.Why.empty()) {
            EXPECT_EQ(why, "") << c.Text;
            for (const auto& [reg, value] : c.Regs)
                EXPECT_EQ(out.Get(reg), value) << c.Text << " " << int(reg);
        } else {
            EXPECT_EQ(why.rfind(path + ": ", 0), 0u) << why;
            EXPECT_NE(why.find(c.Why), std::string::npos) << c.Text << " -> " << why;
        }
    }

    // The simulator has its own word for a file that is no JSON.
    PutFile(path, "{oops");
    RegisterValues out;
    EXPECT_EQ(LoadSettingsFile(path, out, "not a JSON object"), path + ": not a JSON object");
    EXPECT_EQ(LoadSettingsFile(path + ".none", out), path + ".none: cannot be read");
    // A clock's object inside a larger document: only an object is settings.
    EXPECT_EQ(SettingsFromJsonText("[1, 2]", out), "not a JSON object");
}

} // namespace
} // namespace chronavel::test

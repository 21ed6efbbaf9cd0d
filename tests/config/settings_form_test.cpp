#include "config/settings_form.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace chronavel {
namespace {

class SettingsFormTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        ResetClockSettings();
        ResetSavedInRun();
    }
    static SettingsView Shown()
    {
        SettingsView v = InitialSettingsView();
        StandFields(v);
        return v;
    }
};

TEST_F(SettingsFormTest, AllZeroSettingsShowTheZeroEntries)
{
    const SettingsView v = Shown();
    for (int i = 0; i < kExpoCount; ++i)
        EXPECT_EQ(v.Expo[i], 0) << i; // "-"
    for (int f : v.TempFormat)
        EXPECT_EQ(f, 0);
    for (int f : v.FieldFormat)
        EXPECT_EQ(f, 0);       // "0 нет"
    EXPECT_EQ(v.TimeZone, 24); // 0.0 hours, not the +3.0 default
    EXPECT_EQ(v.Volume, 9);    // "100%"
    EXPECT_EQ(v.ClockAddr, 0);
    EXPECT_EQ(v.RegS6, 0);
    EXPECT_EQ(v.RegSE, 0);
    for (const TimePicker& p : v.Times) {
        EXPECT_EQ(p.Hour, 0);
        EXPECT_EQ(p.Minute, 0);
        EXPECT_TRUE(p.Checked);
        EXPECT_TRUE(p.Enabled);
    }
}

// One variable set, then the control that shows it.
struct ShowCase {
    const char* Name;
    std::function<void()> Set;
    std::function<int(const SettingsView&)> Control;
    int Expected;
};

TEST_F(SettingsFormTest, EachCodeSelectsItsPosition)
{
    auto& s = ClockSettings;
    const ShowCase cases[] = {
        {"temperature 37: exposure 7", [&] { s.Expo[3] = 37; }, [](auto& v) { return v.Expo[3]; },
         7},
        {"temperature 37: format 3", [&] { s.Expo[3] = 37; },
         [](auto& v) { return v.TempFormat[0]; }, 3},
        {"temperature tens above 5: no format", [&] { s.Expo[5] = 62; },
         [](auto& v) { return v.TempFormat[2]; }, -1},
        {"time exposure 49", [&] { s.Expo[0] = 49; }, [](auto& v) { return v.Expo[0]; }, 49},
        {"time exposure 50: none", [&] { s.Expo[0] = 50; }, [](auto& v) { return v.Expo[0]; }, -1},
        {"time zone 0x85: +5.5", [&] { s.TimeZone = 0x85; }, [](auto& v) { return v.TimeZone; },
         35},
        {"time zone 0x4C: -12.0", [&] { s.TimeZone = 0x4C; }, [](auto& v) { return v.TimeZone; },
         0},
        {"time zone unknown: +3.0", [&] { s.TimeZone = 0x3F; }, [](auto& v) { return v.TimeZone; },
         30},
        {"volume 1: 10%", [&] { s.Volume = 1; }, [](auto& v) { return v.Volume; }, 0},
        {"volume above 9: 10%", [&] { s.Volume = 10; }, [](auto& v) { return v.Volume; }, 0},
        {"reduced level 3: 30%", [&] { s.DimLevel = 3; }, [](auto& v) { return v.DimLevel; }, 2},
        {"normal level unknown: none", [&] { s.NormLevel = 12; },
         [](auto& v) { return v.NormLevel; }, -1},
        {"main format 5", [&] { s.FieldFormat[0] = 5; }, [](auto& v) { return v.FieldFormat[0]; },
         4},
        {"radiation format 5", [&] { s.FieldFormat[6] = 5; },
         [](auto& v) { return v.FieldFormat[6]; }, 2},
        {"date format 3", [&] { s.FieldFormat[7] = 3; }, [](auto& v) { return v.FieldFormat[7]; },
         1},
        {"format code 1: none", [&] { s.FieldFormat[1] = 1; },
         [](auto& v) { return v.FieldFormat[1]; }, -1},
        {"address 0xFE", [&] { s.ClockAddr = 0xFE; }, [](auto& v) { return v.ClockAddr; }, 254},
        {"upper level read 124 (+25)", [&] { s.UpperLevel = 124; },
         [](auto& v) { return v.UpperLevel; }, 124},
        {"lower level read above 198: none", [&] { s.LowerLevel = 200; },
         [](auto& v) { return v.LowerLevel; }, -1},
        {"correction -3", [&] { s.DayCorrection = -3; }, [](auto& v) { return v.Correction; }, 56},
        {"correction 60: none", [&] { s.DayCorrection = 60; }, [](auto& v) { return v.Correction; },
         -1},
    };
    for (const ShowCase& c : cases) {
        Reset();
        c.Set();
        EXPECT_EQ(c.Control(Shown()), c.Expected) << c.Name;
    }
}

TEST_F(SettingsFormTest, TimePairsThatAreNoTimeDisableTheirPickerForGood)
{
    ClockSettings.DimOnTime = 0x2230;
    SettingsView v = InitialSettingsView();
    StandFields(v);
    EXPECT_EQ(v.Times[kPickDimOn].Hour, 22);
    EXPECT_EQ(v.Times[kPickDimOn].Minute, 30);
    EXPECT_TRUE(v.Times[kPickDimOn].Checked);

    for (uint16_t bad : {0x2560, 0x1A00, 0x2400, 0x0960}) {
        ClockSettings.DimOnTime = bad;
        StandFields(v);
        EXPECT_FALSE(v.Times[kPickDimOn].Enabled) << std::hex << bad;
        EXPECT_FALSE(v.Times[kPickDimOn].Checked) << std::hex << bad;
        EXPECT_EQ(v.Times[kPickDimOn].Hour, 22) << "keeps the time it showed";
    }

    ClockSettings.DimOnTime = 0x0715;
    StandFields(v);
    EXPECT_FALSE(v.Times[kPickDimOn].Enabled) << "stays disabled";
    EXPECT_TRUE(v.Times[kPickDimOn].Checked);
    EXPECT_EQ(v.Times[kPickDimOn].Hour, 7);
}

TEST_F(SettingsFormTest, SavingWhatWasShownGivesBackWhatWasRead)
{
    auto& s = ClockSettings;
    for (int i = 0; i < kExpoCount; ++i)
        s.Expo[i] = static_cast<uint8_t>(i * 5 + 1);
    s.Expo[3] = 37;
    s.Expo[4] = 52;
    s.Expo[5] = 9;
    s.ClockAddr = 7;
    s.RegS6 = 0x3D;
    s.RegSE = 0xA0;
    s.MasterFlags = 0x5A;
    s.OptionFlags = 0xA5;
    const uint8_t formats[] = {8, 5, 0, 2, 3, 4, 5, 4};
    for (int f = 0; f < kFieldFormatCount; ++f)
        s.FieldFormat[f] = formats[f];
    s.TimeZone = 0xCB;
    s.Volume = 5;
    s.DimLevel = 3;
    s.NormLevel = 0;
    s.DimOnTime = 0x2200;
    s.DimOffTime = 0x0700;
    s.Alarm1Time = 0x0605;
    s.Alarm2Time = 0x2359;
    s.UpperLevel = 124;
    s.LowerLevel = 109;
    s.DayCorrection = -3;

    MakeRegisters(Shown());

    for (int i = 0; i < kExpoCount; ++i)
        EXPECT_EQ(s.Expo[i].load(), i == 3 ? 37 : i == 4 ? 52 : i == 5 ? 9 : i * 5 + 1) << i;
    for (int f = 0; f < kFieldFormatCount; ++f)
        EXPECT_EQ(s.FieldFormat[f].load(), formats[f]) << f;
    EXPECT_EQ(s.ClockAddr.load(), 7);
    EXPECT_EQ(s.RegSE.load(), 0xA0);
    EXPECT_EQ(s.MasterFlags.load(), 0x5A);
    EXPECT_EQ(s.TimeZone.load(), 0xCB);
    EXPECT_EQ(s.Volume.load(), 5);
    EXPECT_EQ(s.DimLevel.load(), 3);
    EXPECT_EQ(s.NormLevel.load(), 0);
    EXPECT_EQ(s.LowerLevel.load(), 109);
    EXPECT_EQ(s.DayCorrection.load(), -3);

    const auto& e = Registers.RegEdited;
    const std::pair<int, int> image[] = {{16, 37},   {18, 52},   {27, 0xCB}, {28, 124},
                                         {29, 0x22}, {30, 0x00}, {31, 0x07}, {33, 0x3D},
                                         {34, 0x06}, {35, 0x05}, {36, 0x23}, {37, 0x59},
                                         {38, 0xA5}, {39, 5},    {40, 0},    {41, 0}};
    for (auto [k, value] : image)
        EXPECT_EQ(e[k], value) << "image index " << k;
}

TEST_F(SettingsFormTest, NothingChosenKeepsTheValueThatWasRead)
{
    auto& s = ClockSettings;
    s.Expo[0] = 60;        // no exposure item
    s.Expo[5] = 72;        // format digit 7: no item
    s.FieldFormat[1] = 1;  // code 1: no item
    s.DimLevel = 11;       // no percent entry
    s.UpperLevel = 230;    // no level item
    s.DayCorrection = 100; // no correction item
    s.DimOnTime = 0x2560;  // no time: picker disabled
    SettingsView v = Shown();
    v.Expo[5] = 4;                 // the operator changes only the exposure digit
    v.Times[kPickDimOn].Hour = 18; // a disabled picker's stale time

    MakeRegisters(v);
    EXPECT_EQ(s.Expo[0].load(), 60);
    EXPECT_EQ(s.Expo[5].load(), 74);
    EXPECT_EQ(s.FieldFormat[1].load(), 1);
    EXPECT_EQ(s.DimLevel.load(), 11);
    EXPECT_EQ(s.UpperLevel.load(), 230);
    EXPECT_EQ(s.DayCorrection.load(), 100);
    EXPECT_EQ(s.DimOnTime.load(), 0x2560);
    EXPECT_EQ(Registers.RegEdited[10], 60);
    EXPECT_EQ(Registers.RegEdited[28], 230);
    EXPECT_EQ(Registers.RegEdited[29], 0x25);
    EXPECT_EQ(Registers.RegEdited[30], 0x60);
}

TEST_F(SettingsFormTest, ChoicesBecomeTheirCodes)
{
    auto& s = ClockSettings;
    SettingsView v = Shown();
    v.TimeZone = 24 + 11; // +5.5
    v.Volume = 9;         // "100%"
    v.NormLevel = 0;      // "10%"
    v.FieldFormat[kFieldMain] = 4;
    v.Expo[3] = 7;
    v.TempFormat[0] = 3;
    v.Correction = 59 + 2;
    v.UpperLevel = 99 - 20;
    v.LowerLevel = 0;
    v.Times[kPickAlarm1] = {6, 5, true, false}; // the box beside it is not consulted
    MakeRegisters(v);

    EXPECT_EQ(s.TimeZone.load(), 0x85);
    EXPECT_EQ(s.Volume.load(), 0);
    EXPECT_EQ(s.NormLevel.load(), 1);
    EXPECT_EQ(s.FieldFormat[0].load(), 5);
    EXPECT_EQ(s.Expo[3].load(), 37);
    EXPECT_EQ(s.DayCorrection.load(), 2);
    EXPECT_EQ(s.Alarm1Time.load(), 0x0605);
    EXPECT_EQ(s.LowerLevel.load(), 0);
    EXPECT_EQ(Registers.RegEdited[28], 79);
    EXPECT_EQ(Registers.RegEdited[34], 0x06);
    EXPECT_EQ(Registers.RegEdited[35], 0x05);
}

TEST_F(SettingsFormTest, AfterASaveTheListsShowTheSavedPositionsWhateverTheClockReports)
{
    auto& s = ClockSettings;
    s.UpperLevel = 124;
    s.DayCorrection = 5;
    SettingsView v = Shown();
    EXPECT_EQ(v.UpperLevel, 124);
    EXPECT_EQ(v.Correction, 64);
    v.UpperLevel = 150;
    v.LowerLevel = 10;
    v.Correction = 0;
    MakeRegisters(v);

    s.UpperLevel = 124;
    s.LowerLevel = 109;
    s.DayCorrection = 5;
    v = Shown();
    EXPECT_EQ(v.UpperLevel, 150);
    EXPECT_EQ(v.LowerLevel, 10);
    EXPECT_EQ(v.Correction, 0);
}

TEST_F(SettingsFormTest, ListTextsAndTheRefusalToWriteToAllClocks)
{
    EXPECT_EQ(AddressItem(0), "$00/0");
    EXPECT_EQ(AddressItem(10), "$0A/10");
    EXPECT_EQ(AddressItem(255), "$FF/255");
    EXPECT_EQ(TimeZoneItem(0, "."), "-12.0");
    EXPECT_EQ(TimeZoneItem(1, ","), "-11,5");
    EXPECT_EQ(TimeZoneItem(23, "."), "-0.5");
    EXPECT_EQ(TimeZoneItem(24, "."), "0.0");
    EXPECT_EQ(TimeZoneItem(50, "."), "13.0");
    EXPECT_TRUE(SaveRefusal(0x01).empty());
    EXPECT_TRUE(SaveRefusal(0x00).empty());
    EXPECT_NE(SaveRefusal(0xFF).find("одни часы"), std::string::npos);
}

} // namespace
} // namespace chronavel

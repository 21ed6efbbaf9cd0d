#include "config/settings_form.h"
#include "config/write_settings.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace chronavel {
namespace {

class SettingsFormTest : public ::testing::Test {
protected:
    void SetUp() override { ResetClockSettings(); }
    // Every register of the read batch answered with 0.
    static RegisterValues AllZero()
    {
        RegisterValues r;
        for (uint8_t reg : ReadBatchRegisters())
            r.Set(reg, 0);
        return r;
    }
    SettingsView Shown() const
    {
        SettingsView v = InitialSettingsView();
        StandFields(v, clock);
        return v;
    }
    RegisterValues clock = AllZero();
};

TEST_F(SettingsFormTest, NothingAnsweredShowsNothingAndSavesNothing)
{
    clock = {};
    const SettingsView v = Shown();
    for (int i = 0; i < kExpoCount; ++i)
        EXPECT_EQ(v.Expo[i], kNoSelection) << i;
    for (int f : v.FieldFormat)
        EXPECT_EQ(f, kNoSelection);
    for (int list : {v.TimeZone, v.Volume, v.DimLevel, v.Bytes.at(kRegClockAddr),
                     v.Bytes.at(kRegSE), v.UpperLevel, v.Correction})
        EXPECT_EQ(list, kNoSelection);
    for (const TimePicker& p : v.Times) {
        EXPECT_FALSE(p.Enabled);
        EXPECT_FALSE(p.Checked);
    }
    EXPECT_TRUE(ChosenRegisters(v, v, clock).Known().empty());
}

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
    EXPECT_EQ(v.Bytes.at(kRegClockAddr), 0);
    EXPECT_EQ(v.Bytes.at(kRegS6), 0);
    EXPECT_EQ(v.Bytes.at(kRegSE), 0);
    for (const TimePicker& p : v.Times) {
        EXPECT_EQ(p.Hour, 0);
        EXPECT_EQ(p.Minute, 0);
        EXPECT_TRUE(p.Checked);
        EXPECT_TRUE(p.Enabled);
    }
}

// One register answered, then the control that shows it.
struct ShowCase {
    const char* Name;
    uint8_t Reg;
    uint8_t Value;
    int (*Control)(const SettingsView&);
    int Expected;
};

TEST_F(SettingsFormTest, EachCodeSelectsItsPosition)
{
    const ShowCase cases[] = {
        {"temperature 37: exposure 7", 0x2B, 37, [](auto& v) { return v.Expo[3]; }, 7},
        {"temperature 37: format 3", 0x2B, 37, [](auto& v) { return v.TempFormat[0]; }, 3},
        {"temperature tens above 5: no format", 0x2F, 62, [](auto& v) { return v.TempFormat[2]; },
         -1},
        {"time exposure 49", 0x25, 49, [](auto& v) { return v.Expo[0]; }, 49},
        {"time exposure 50: none", 0x25, 50, [](auto& v) { return v.Expo[0]; }, -1},
        {"time zone 0x85: +5.5", 0x37, 0x85, [](auto& v) { return v.TimeZone; }, 35},
        {"time zone 0x4C: -12.0", 0x37, 0x4C, [](auto& v) { return v.TimeZone; }, 0},
        {"time zone unknown: +3.0", 0x37, 0x3F, [](auto& v) { return v.TimeZone; }, 30},
        {"volume 1: 10%", 0x43, 1, [](auto& v) { return v.Volume; }, 0},
        {"volume above 9: 10%", 0x43, 10, [](auto& v) { return v.Volume; }, 0},
        {"reduced level 3: 30%", 0x44, 3, [](auto& v) { return v.DimLevel; }, 2},
        {"normal level unknown: none", 0x45, 12, [](auto& v) { return v.NormLevel; }, -1},
        {"main format 5", 0xD8, 5, [](auto& v) { return v.FieldFormat[0]; }, 4},
        {"radiation format 5", 0xDE, 5, [](auto& v) { return v.FieldFormat[6]; }, 2},
        {"date format 3", 0xDF, 3, [](auto& v) { return v.FieldFormat[7]; }, 1},
        {"format code 1: none", 0xD9, 1, [](auto& v) { return v.FieldFormat[1]; }, -1},
        {"address 0xFE", 0x4C, 0xFE, [](auto& v) { return v.Bytes.at(kRegClockAddr); }, 254},
        {"upper level read 124 (+25)", 0x38, 124, [](auto& v) { return v.UpperLevel; }, 124},
        {"lower level read above 198: none", 0x4E, 200, [](auto& v) { return v.LowerLevel; }, -1},
        {"correction +2", 0x52, 2, [](auto& v) { return v.Correction; }, 61},
        {"correction 60: none", 0x52, 60, [](auto& v) { return v.Correction; }, -1},
    };
    for (const ShowCase& c : cases) {
        clock = AllZero();
        clock.Set(c.Reg, c.Value);
        EXPECT_EQ(c.Control(Shown()), c.Expected) << c.Name;
        // Unanswered, the same register shows nothing at all.
        clock.Forget(c.Reg);
        EXPECT_EQ(c.Control(Shown()), kNoSelection) << c.Name << " unanswered";
    }
}

TEST_F(SettingsFormTest, APickerFollowsItsPairAtEveryShowing)
{
    const auto show = [&](uint8_t hour, uint8_t minute) {
        clock.Set(0x39, hour);
        clock.Set(0x3A, minute);
        return Shown().Times[kPickDimOn];
    };
    TimePicker p = show(0x22, 0x30);
    EXPECT_EQ(p.Hour, 22);
    EXPECT_EQ(p.Minute, 30);
    EXPECT_TRUE(p.Checked && p.Enabled);

    for (auto [h, m] : {std::pair{0x25, 0x60}, {0x1A, 0x00}, {0x24, 0x00}, {0x09, 0x60}}) {
        p = show(static_cast<uint8_t>(h), static_cast<uint8_t>(m));
        EXPECT_FALSE(p.Enabled) << std::hex << h << m;
        EXPECT_FALSE(p.Checked) << std::hex << h << m;
    }
    // Valid again: enabled again, so that alarm can be corrected.
    p = show(0x07, 0x15);
    EXPECT_TRUE(p.Enabled);
    EXPECT_TRUE(p.Checked);
    EXPECT_EQ(p.Hour, 7);
}

TEST_F(SettingsFormTest, SavingWhatWasShownGivesBackWhatWasRead)
{
    const std::pair<uint8_t, uint8_t> values[] = {
        {0x25, 1},    {0x27, 6},    {0x29, 11},   {0x2B, 37},   {0x2D, 52},   {0x2F, 9},
        {0x31, 31},   {0x33, 36},   {0x35, 41},   {0x37, 0xCB}, {0x38, 124},  {0x39, 0x22},
        {0x3A, 0x00}, {0x3B, 0x07}, {0x3C, 0x00}, {0x3D, 0x3D}, {0x3E, 0x06}, {0x3F, 0x05},
        {0x40, 0x23}, {0x41, 0x59}, {0x42, 0xA5}, {0x43, 5},    {0x44, 3},    {0x45, 0},
        {0x4C, 7},    {0x4D, 0x5A}, {0x4E, 109},  {0x50, 0xA0}, {0x51, 0xFF}, {0x52, 0xFD},
        {0xD8, 8},    {0xD9, 5},    {0xDA, 0},    {0xDB, 2},    {0xDC, 3},    {0xDD, 4},
        {0xDE, 5},    {0xDF, 4},    {0xE0, 9},    {0xE1, 0},
    };
    for (auto [reg, value] : values)
        clock.Set(reg, value);
    const SettingsView v = Shown();
    EXPECT_EQ(ChosenRegisters(v, v, clock), clock);
}

TEST_F(SettingsFormTest, NothingChosenKeepsTheValueThatWasRead)
{
    clock.Set(0x25, 60);   // no exposure item
    clock.Set(0x2F, 72);   // format digit 7: no item
    clock.Set(0xD9, 1);    // code 1: no item
    clock.Set(0x44, 11);   // no percent entry
    clock.Set(0x38, 230);  // no level item
    clock.Set(0x52, 100);  // no correction item
    clock.Set(0x39, 0x25); // no time: picker disabled
    clock.Set(0x3A, 0x60);
    const SettingsView shown = Shown();
    SettingsView v = shown;
    v.Expo[5] = 4;                 // the operator changes only the exposure digit
    v.Times[kPickDimOn].Hour = 18; // a disabled picker's stale time

    const RegisterValues chosen = ChosenRegisters(shown, v, clock);
    RegisterValues expected = clock;
    expected.Set(0x2F, 74);
    EXPECT_EQ(chosen, expected);
}

TEST_F(SettingsFormTest, ChoicesBecomeTheirCodes)
{
    const SettingsView shown = Shown();
    SettingsView v = shown;
    v.TimeZone = 24 + 11; // +5.5
    v.Volume = 0;         // "10%"
    v.NormLevel = 0;      // "10%"
    v.FieldFormat[kFieldMain] = 4;
    v.Expo[3] = 7;
    v.TempFormat[0] = 3;
    v.Correction = 59 - 3;
    v.UpperLevel = 99 - 20;
    v.LowerLevel = 5;
    v.Times[kPickAlarm1] = {6, 5, true, false}; // the box beside it is not consulted
    v.MasterFlags = 0x81;
    const RegisterValues chosen = ChosenRegisters(shown, v, clock);

    const std::pair<uint8_t, uint8_t> expected[] = {
        {0x37, 0x85}, {0x43, 1},  {0x45, 1}, {0xD8, 5},    {0x2B, 37},   {0x51, 0xFF},
        {0x52, 0xFD}, {0x38, 79}, {0x4E, 5}, {0x3E, 0x06}, {0x3F, 0x05}, {0x4D, 0x81},
    };
    RegisterValues want = clock;
    for (auto [reg, value] : expected)
        want.Set(reg, value);
    EXPECT_EQ(chosen, want);
}

TEST_F(SettingsFormTest, AnUnreadRegisterCountsOnlyOnceTheOperatorSetsIt)
{
    clock.Forget(0x43); // the volume went unanswered
    const SettingsView shown = Shown();
    EXPECT_EQ(shown.Volume, kNoSelection);
    SettingsView v = shown;
    EXPECT_FALSE(ChosenRegisters(shown, v, clock).Has(0x43));
    v.Volume = 4;
    const RegisterValues chosen = ChosenRegisters(shown, v, clock);
    EXPECT_EQ(chosen.Get(0x43), std::optional<uint8_t>(5));
}

// The boxes of a flag register are single bits: unread, the register is
// shown cleared and disabled and never saved, whatever the boxes say.
TEST_F(SettingsFormTest, AFlagRegisterIsSavedOnlyWhenItWasRead)
{
    const struct {
        const char* Name;
        uint8_t Reg;
        std::optional<uint8_t> Read;
        uint8_t Toggled; // the bits the operator flips
        std::optional<uint8_t> Saved;
    } cases[] = {
        {"master unread, master bit ticked", 0x4D, std::nullopt, 0x80, std::nullopt},
        {"options unread, summer time ticked", 0x42, std::nullopt, 0x04, std::nullopt},
        {"options unread, untouched", 0x42, std::nullopt, 0x00, std::nullopt},
        {"master read, untouched", 0x4D, 0x81, 0x00, 0x81},
        {"master read, a source cleared", 0x4D, 0x81, 0x01, 0x80},
        {"options read, summer time set", 0x42, 0xA1, 0x04, 0xA5},
    };
    for (const auto& c : cases) {
        const auto flags = [&](SettingsView& v) -> std::pair<uint8_t&, bool&> {
            if (c.Reg == 0x4D)
                return {v.MasterFlags, v.MasterEnabled};
            return {v.OptionFlags, v.OptionEnabled};
        };
        clock = AllZero();
        // The showing before had the register the other way round.
        if (c.Read)
            clock.Forget(c.Reg);
        else
            clock.Set(c.Reg, 0xFF);
        SettingsView shown = Shown();
        if (c.Read)
            clock.Set(c.Reg, *c.Read);
        else
            clock.Forget(c.Reg);
        StandFields(shown, clock);
        EXPECT_EQ(flags(shown).first, c.Read.value_or(0)) << c.Name;
        EXPECT_EQ(flags(shown).second, c.Read.has_value()) << c.Name;

        SettingsView now = shown;
        flags(now).first ^= c.Toggled;
        flags(now).second = true; // even boxes left enabled do not count
        RegisterValues want = clock;
        if (c.Saved)
            want.Set(c.Reg, *c.Saved);
        EXPECT_EQ(ChosenRegisters(shown, now, clock), want) << c.Name;
    }
}

TEST_F(SettingsFormTest, TheWindowNamesTheRegistersItCouldNotRead)
{
    const struct {
        std::vector<uint8_t> Unread;
        std::string Text;
    } cases[] = {
        {{}, ""},
        {{0xE0, 0x4F, 0xFF}, ""}, // no control shows them
        {{0x4D, 0x42}, "Не прочитаны: 0x42, 0x4D — их значения не записываются."},
        {{0x52, 0xDF, 0x25, 0x3A},
         "Не прочитаны: 0x25, 0x3A, 0x52, 0xDF — их значения не записываются."},
        {std::vector<uint8_t>(ReadBatchRegisters().begin(), ReadBatchRegisters().end()),
         "Не прочитаны: 0x25, 0x27, 0x29 и ещё 35 — их значения не записываются."},
    };
    for (const auto& c : cases) {
        clock = AllZero();
        for (uint8_t reg : c.Unread)
            clock.Forget(reg);
        EXPECT_EQ(UnreadText(clock), c.Text) << c.Unread.size();
    }
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

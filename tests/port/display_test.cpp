#include "app/core_state.h"
#include "config/registers.h"
#include "port/display.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <stdexcept>
#include <vector>

namespace chronavel {
namespace {

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override { ResetCoreState(); }
    void TearDown() override { ResetCoreState(); }

    static void Image(int k, uint8_t v) { Registers.RegImage[k] = v; }
    static void Formats(std::initializer_list<uint8_t> codes)
    {
        int i = 0;
        for (uint8_t c : codes)
            ClockSettings.FieldFormat[i++] = c;
    }
    static void Clock(uint8_t hh, uint8_t mm, uint8_t ss)
    {
        Image(56, hh);
        Image(55, mm);
        Image(42, ss);
    }
    static void Date(uint8_t dd, uint8_t mo, uint8_t yy)
    {
        Image(57, dd);
        Image(58, mo);
        Image(59, yy);
    }
    static std::string Main(int i) { return CurrentDisplayTexts().MainFieldText[i]; }
    static std::string Extra(int i) { return CurrentDisplayTexts().ExtraFieldText[i]; }
};

TEST_F(DisplayTest, TimeTextByMainFormat)
{
    Clock(0x09, 0x05, 0x30);
    ClockSettings.FieldFormat[0] = 2;
    FormatClockFields();
    EXPECT_EQ(Main(0), "09.05");
    ClockSettings.FieldFormat[0] = 5;
    FormatClockFields();
    EXPECT_EQ(Main(0), "09-05");
    ClockSettings.FieldFormat[0] = 8;
    FormatClockFields();
    EXPECT_EQ(Main(0), " 09.05.30");
    ClockSettings.FieldFormat[0] = 4;
    FormatClockFields();
    EXPECT_EQ(Main(0), "09.05 ");
}

TEST_F(DisplayTest, SecondsOnlyWhileTheTimeHasAnExposureInFormatsThreeAndSeven)
{
    Clock(0x12, 0x45, 0x07);
    ClockSettings.FieldFormat[0] = 6;
    FormatClockFields();
    EXPECT_EQ(Main(0), "12.45.07");
    ClockSettings.FieldFormat[0] = 3;
    FormatClockFields();
    EXPECT_EQ(Main(0), "12.45.");
    ClockSettings.Expo[0] = 4;
    FormatClockFields();
    EXPECT_EQ(Main(0), "12.45.07");
    ClockSettings.FieldFormat[0] = 7;
    FormatClockFields();
    EXPECT_EQ(Main(0), "12-45.07");
}

TEST_F(DisplayTest, NonBcdBytesShowTheirHexDigits)
{
    Clock(0x3A, 0x05, 0x00);
    ClockSettings.FieldFormat[0] = 2;
    FormatClockFields();
    EXPECT_EQ(Main(0), "3A.05");
}

TEST_F(DisplayTest, DateAndYear)
{
    Date(0x06, 0x12, 0x26);
    ClockSettings.FieldFormat[0] = 2;
    FormatClockFields();
    EXPECT_EQ(Main(1), "0612");
    EXPECT_EQ(Main(2), "2026");
    ClockSettings.FieldFormat[0] = 7;
    FormatClockFields();
    EXPECT_EQ(Main(1), "06 12 ");
    EXPECT_EQ(Main(2), " 2026");
    ClockSettings.FieldFormat[0] = 5;
    FormatClockFields();
    EXPECT_EQ(Main(1), "06 12");

    Formats({0, 0, 0, 0, 0, 0, 0, 3});
    FormatClockFields();
    EXPECT_EQ(Extra(7), "06.12 ");
    ClockSettings.FieldFormat[7] = 4;
    FormatClockFields();
    EXPECT_EQ(Extra(7), "0612 ");
    ClockSettings.FieldFormat[7] = 5;
    FormatClockFields();
    EXPECT_EQ(Extra(7), "06 12 ");
}

TEST_F(DisplayTest, PressureHumidityRadiation)
{
    Image(46, 62);
    Image(47, 5);
    Image(48, 0);
    Image(49, 1);
    Image(50, 3);
    ClockSettings.FieldFormat[0] = 4;
    FormatClockFields();
    EXPECT_EQ(Main(6), "P762");
    EXPECT_EQ(Main(7), "05%");
    EXPECT_EQ(Main(8), "0.013");
    ClockSettings.FieldFormat[0] = 8;
    FormatClockFields();
    EXPECT_EQ(Main(6), "P 762");
    EXPECT_EQ(Main(7), " 05%");
    EXPECT_EQ(Main(8), " 0.013");

    Formats({0, 0, 0, 0, 5, 5, 5, 0});
    FormatClockFields();
    EXPECT_EQ(Extra(4), "P 762");
    EXPECT_EQ(Extra(5), " 05%");
    EXPECT_EQ(Extra(6), " 0.013");
    Formats({0, 0, 0, 0, 3, 2, 4, 0});
    FormatClockFields();
    EXPECT_EQ(Extra(4), "762");
    EXPECT_EQ(Extra(5), "05");
    EXPECT_EQ(Extra(6), "0.013");
    Formats({0, 0, 0, 0, 4, 4, 4, 0});
    FormatClockFields();
    EXPECT_EQ(Extra(4), "P762");
    EXPECT_EQ(Extra(5), "05%");
}

TEST_F(DisplayTest, NegativeTemperature)
{
    Image(43, 0xF6); // -10
    Image(51, 5);
    ClockSettings.FieldFormat[1] = 2;
    FormatClockFields();
    EXPECT_EQ(Extra(1), "10");
    ClockSettings.FieldFormat[1] = 3;
    FormatClockFields();
    EXPECT_EQ(Extra(1), "-10");
    ClockSettings.FieldFormat[1] = 4;
    FormatClockFields();
    EXPECT_EQ(Extra(1), "-10°");
    ClockSettings.FieldFormat[1] = 5;
    FormatClockFields();
    EXPECT_EQ(Extra(1), "-10°C");

    ClockSettings.Expo[3] = 3; // units digit: the main field's format
    FormatClockFields();
    EXPECT_EQ(Main(3), " -10.05°");
    ClockSettings.Expo[3] = 14;
    FormatClockFields();
    EXPECT_EQ(Main(3), "-10.05");
}

TEST_F(DisplayTest, MainFieldTemperatureByUnitsDigit)
{
    Image(44, 12); // temperature 2
    Image(52, 5);
    auto with_units = [](uint8_t u, uint8_t f) {
        ClockSettings.Expo[4] = u;
        ClockSettings.FieldFormat[0] = f;
        FormatClockFields();
        return Main(4);
    };
    EXPECT_EQ(with_units(0, 2), " 12°");
    EXPECT_EQ(with_units(0, 6), " 12°");
    EXPECT_EQ(with_units(0, 5), " 12°C");
    EXPECT_EQ(with_units(0, 8), " 12°C");
    EXPECT_EQ(with_units(1, 0), "12°");
    EXPECT_EQ(with_units(2, 0), " 12°");
    EXPECT_EQ(with_units(3, 0), " 12.05°");
    EXPECT_EQ(with_units(4, 0), "12.05°"); // six characters, the degree sign is one
    EXPECT_EQ(with_units(5, 0), "12°");
    // No rule: unchanged.
    EXPECT_EQ(with_units(0, 0), "12°");
    EXPECT_EQ(with_units(6, 2), "12°");
}

TEST_F(DisplayTest, TemperatureByteEightyReadsZero)
{
    Image(45, 0x80);
    ClockSettings.FieldFormat[3] = 3;
    FormatClockFields();
    EXPECT_EQ(Extra(3), "00");
}

TEST_F(DisplayTest, TextsWithoutARuleKeepTheirOldValue)
{
    Clock(0x09, 0x05, 0x00);
    Image(46, 62);
    Formats({2, 0, 0, 0, 4, 0, 0, 0});
    FormatClockFields();
    EXPECT_EQ(Main(0), "09.05");
    EXPECT_EQ(Extra(4), "P762");

    Clock(0x10, 0x00, 0x00);
    Image(46, 50);
    Formats({1, 0, 0, 0, 2, 0, 0, 0}); // neither code has a rule
    FormatClockFields();
    EXPECT_EQ(Main(0), "09.05");
    EXPECT_EQ(Extra(4), "P762");
    ClockSettings.FieldFormat[0] = 9;
    FormatClockFields();
    EXPECT_EQ(Main(0), "09.05");
}

TEST_F(DisplayTest, ExposureCycleChoosesTheShownItem)
{
    ClockSettings.Expo[0] = 5;
    ClockSettings.Expo[1] = 3;
    for (int tick = 1; tick <= 5; ++tick) {
        DisplayTick = tick;
        EXPECT_EQ(ChooseCurrentItem(), 0) << tick;
    }
    for (int tick = 6; tick <= 8; ++tick) {
        DisplayTick = tick;
        EXPECT_EQ(ChooseCurrentItem(), 1) << tick;
    }
    DisplayTick = 9;
    EXPECT_EQ(ChooseCurrentItem(), 0);
    EXPECT_EQ(DisplayTick.load(), 1);
}

TEST_F(DisplayTest, AllExposuresZeroShowTheTimeAndRestartTheCycle)
{
    Clock(0x09, 0x05, 0x00);
    ClockSettings.FieldFormat[0] = 2;
    FormatClockFields();
    DisplayTick = 7;
    std::string shown;
    SetClockDisplaySink([&](const std::string& s, const FieldRows&, int) { shown = s; });
    ShowClockFields();
    EXPECT_EQ(DisplayTick.load(), 1);
    EXPECT_EQ(shown, "09.05");
    EXPECT_EQ(CurrentDisplayTexts().Shown, "09.05");
}

TEST_F(DisplayTest, WalkStopsAtTheLastItem)
{
    ClockSettings.Expo[8] = 200;
    ClockSettings.Expo[0] = 1;
    DisplayTick = 150;
    EXPECT_EQ(ChooseCurrentItem(), 8);
}

TEST_F(DisplayTest, GridRowsInFixedOrderWithoutUnusedFields)
{
    Image(43, 21);
    Image(46, 62);
    Date(0x06, 0x12, 0x26);
    Formats({0, 3, 0, 0, 4, 0, 0, 3});
    FormatClockFields();
    FieldRows table;
    int rows = -1;
    SetClockDisplaySink([&](const std::string&, const FieldRows& t, int r) {
        table = t;
        rows = r;
    });
    ShowClockFields();
    ASSERT_EQ(rows, 3);
    EXPECT_EQ(table[0], (FieldEntry{"Дата", "06.12 "}));
    EXPECT_EQ(table[1], (FieldEntry{"Температура 1", "21"}));
    EXPECT_EQ(table[2], (FieldEntry{"Давление", "P762"}));
    EXPECT_EQ(table[3], FieldEntry{});

    auto texts = CurrentDisplayTexts();
    EXPECT_EQ(texts.FieldCatalog[0].Name, "Температура 1");
    EXPECT_EQ(texts.FieldCatalog[5].Name, "Радиация");
    EXPECT_EQ(texts.FieldCatalog[6].Name, "Дата");
    EXPECT_EQ(texts.FieldTable, table);
}

TEST_F(DisplayTest, AllFormatsZeroClearTheGrid)
{
    Formats({0, 3, 3, 3, 3, 2, 4, 3});
    FormatClockFields();
    FillFieldTable();
    EXPECT_EQ(CurrentDisplayTexts().FieldTableRows, 7);
    Formats({0, 0, 0, 0, 0, 0, 0, 0});
    FillFieldTable();
    auto texts = CurrentDisplayTexts();
    EXPECT_EQ(texts.FieldTableRows, 0);
    for (const auto& row : texts.FieldTable)
        EXPECT_EQ(row, FieldEntry{});
}

TEST_F(DisplayTest, TableCountsCharactersNotBytes)
{
    EXPECT_EQ(Utf8Length("Температура 1"), 13u);
    EXPECT_EQ(Utf8Length("-10°C"), 5u);
    EXPECT_EQ(Utf8Prefix("Температура 1", 15), "Температура 1");
    EXPECT_EQ(Utf8Prefix("Температура 1", 4), "Темп");
    EXPECT_EQ(Utf8Prefix("12.05°C", 6), "12.05°");
    EXPECT_EQ(Utf8Prefix("", 3), "");

    Image(43, 0x81); // -127
    Image(51, 200);
    Formats({0, 5, 0, 0, 0, 0, 0, 0});
    FormatClockFields();
    FillFieldTable();
    auto texts = CurrentDisplayTexts();
    for (const auto& row : texts.FieldTable) {
        EXPECT_LE(Utf8Length(row.Name), kFieldNameChars);
        EXPECT_LE(Utf8Length(row.Value), kFieldValueChars);
    }
    EXPECT_EQ(texts.FieldTable[0].Value, "-127°C");
}

TEST_F(DisplayTest, NoSinkDrawsNothingAndASinkSeesTheWholeTable)
{
    ShowClockFields(); // nothing installed: no effect beyond the texts
    int calls = 0;
    SetClockDisplaySink([&](const std::string&, const FieldRows&, int) { ++calls; });
    ShowClockFields();
    ShowClockFields();
    EXPECT_EQ(calls, 2);
    SetClockDisplaySink(
        [](const std::string&, const FieldRows&, int) { throw std::runtime_error("window gone"); });
    EXPECT_THROW(ShowClockFields(), std::runtime_error);
}

} // namespace
} // namespace chronavel

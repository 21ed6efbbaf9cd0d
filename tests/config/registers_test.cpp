#include "app/core_state.h"
#include "config/registers.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

namespace chronavel {
namespace {

class RegistersTest : public ::testing::Test {
protected:
    void SetUp() override { ResetCoreState(); }
    void TearDown() override { ResetCoreState(); }
};

TEST_F(RegistersTest, TemperatureRegisterCarriesFormatInTensAndExposureInUnits)
{
    EXPECT_EQ(TemperatureRegister(3, 7), 37);
    EXPECT_EQ(TemperatureExposure(37), 7);
    EXPECT_EQ(TemperatureFormat(37), 3);
    EXPECT_EQ(TemperatureExposure(52), 2);
    EXPECT_EQ(TemperatureFormat(52), 5);
    EXPECT_THROW(TemperatureRegister(6, 0), std::out_of_range);
    EXPECT_THROW(TemperatureRegister(0, 10), std::out_of_range);
}

TEST_F(RegistersTest, TimeZoneCodes)
{
    // Entry p stands for (p - 24) / 2 hours.
    EXPECT_EQ(TimeZoneCode(24 + 11), 0x85); // +5.5
    EXPECT_EQ(TimeZoneCode(24 - 6), 0x43);  // -3.0
    EXPECT_EQ(TimeZoneCode(0), 0x4C);       // -12.0
    EXPECT_EQ(TimeZoneCode(1), 0xCB);       // -11.5
    EXPECT_EQ(TimeZoneCode(23), 0xC0);      // -0.5
    EXPECT_EQ(TimeZoneCode(24), 0x00);
    EXPECT_EQ(TimeZoneCode(25), 0x80);
    EXPECT_EQ(TimeZoneCode(30), 0x03);
    EXPECT_EQ(TimeZoneCode(31), 0x83);
    EXPECT_EQ(TimeZoneCode(50), 0x0D); // +13.0
    EXPECT_DOUBLE_EQ(TimeZoneHours(35), 5.5);
    EXPECT_THROW(TimeZoneCode(51), std::out_of_range);

    std::set<uint8_t> distinct;
    for (int p = 0; p < kTimeZoneEntries; ++p) {
        distinct.insert(TimeZoneCode(p));
        EXPECT_EQ(TimeZoneEntry(TimeZoneCode(p)), p);
    }
    EXPECT_EQ(distinct.size(), 51u);
    EXPECT_EQ(TimeZoneEntry(0x3F), -1); // no entry carries it
}

TEST_F(RegistersTest, BcdPairsOfTimes)
{
    uint16_t alarm = BcdPair(6, 5);
    EXPECT_EQ(alarm >> 8, 0x06);   // register 0x3E
    EXPECT_EQ(alarm & 0xFF, 0x05); // register 0x3F
    EXPECT_EQ(BcdPair(7, 30), 0x0730);
    EXPECT_EQ(BcdByte(59), 0x59);
    EXPECT_EQ(BcdByte(0), 0x00);
    EXPECT_THROW(BcdByte(100), std::out_of_range);
    EXPECT_THROW(BcdByte(-1), std::out_of_range);
    EXPECT_EQ(BcdValue(0x3A), -1);

    int h = -1, m = -1;
    EXPECT_TRUE(DecodeBcdPair(0x2230, h, m));
    EXPECT_EQ(h, 22);
    EXPECT_EQ(m, 30);
    EXPECT_FALSE(DecodeBcdPair(0x2560, h, m)); // hour 25
    EXPECT_FALSE(DecodeBcdPair(0x1260, h, m)); // minute 60
    EXPECT_FALSE(DecodeBcdPair(0x0A00, h, m)); // not BCD
}

TEST_F(RegistersTest, DailyCorrectionIsSixteenBitTwosComplement)
{
    EXPECT_EQ(CorrectionHigh(2), 0x00);
    EXPECT_EQ(CorrectionLow(2), 0x02);
    EXPECT_EQ(CorrectionHigh(-59), 0xFF);
    EXPECT_EQ(CorrectionLow(-59), 0xC5);
    EXPECT_EQ(CorrectionHigh(-3), 0xFF);
    EXPECT_EQ(CorrectionLow(-3), 0xFD);
    EXPECT_EQ(CorrectionFromBytes(0xFF, 0xC5), -59);
    EXPECT_EQ(CorrectionFromBytes(0x00, 0x3B), 59);
}

TEST_F(RegistersTest, PercentCodesAndLevels)
{
    EXPECT_EQ(PercentCode(9), 0); // "100%"
    EXPECT_EQ(PercentCode(0), 1); // "10%"
    EXPECT_EQ(PercentCode(8), 9); // "90%"
    EXPECT_EQ(PercentText(9), "100%");
    EXPECT_EQ(PercentPosition(0), 9);
    EXPECT_FALSE(PercentPosition(10).has_value());
    EXPECT_THROW(PercentCode(10), std::out_of_range);

    EXPECT_EQ(LevelRegister(-99), 0);
    EXPECT_EQ(LevelRegister(99), 198);
    EXPECT_EQ(LevelOfRegister(120), 21);
    EXPECT_FALSE(LevelOfRegister(199).has_value());
    EXPECT_THROW(LevelRegister(100), std::out_of_range);
}

TEST_F(RegistersTest, FlagBitsInCheckBoxOrder)
{
    EXPECT_STREQ(MasterFlagBits()[0].Caption, "Ведущий");
    EXPECT_EQ(MasterFlagBits()[0].Mask, 0x80);
    EXPECT_STREQ(MasterFlagBits()[7].Caption, "Время, дата");
    EXPECT_EQ(MasterFlagBits()[7].Mask, 0x01);
    EXPECT_STREQ(OptionFlagBits()[5].Caption, "Переход на летнее время: ");
    EXPECT_EQ(OptionFlagBits()[5].Mask, 0x04);
    EXPECT_EQ(WithFlag(0x00, master_bits::kMaster, true), 0x80);
    EXPECT_EQ(WithFlag(0xFF, option_bits::kSummerTime, false), 0xFB);
    EXPECT_TRUE(HasFlag(0x42, option_bits::kRadiationSignal) == false);
}

TEST_F(RegistersTest, FormatCodesAndListPositions)
{
    EXPECT_EQ(CountPos(kFieldMain, 5, false), 4); // "5 12-45"
    EXPECT_EQ(FormatItems(kFieldMain)[4], "5 12-45");
    EXPECT_EQ(CountPos(kFieldRadiation, 5, false), 2); // "5 _0.013"
    EXPECT_EQ(CountPos(kFieldMain, 1, false), -1);     // code 1 exists for no field
    EXPECT_EQ(CountPos(kFieldPressure, 2, false), -1);
    EXPECT_EQ(CountPos(kFieldHumidity, 3, true), 5);
    EXPECT_EQ(CountPos(kFieldDate, 4, true), -1);
    EXPECT_EQ(CountPos(9, 0, true), -1);
    for (int field = 0; field < kFieldFormatCount; ++field) {
        ASSERT_EQ(FormatCodes(field).size(), FormatItems(field).size());
        for (int p = 0; p < static_cast<int>(FormatCodes(field).size()); ++p) {
            int code = FormatCode(field, p);
            EXPECT_EQ(FormatPosition(field, code), p);
            EXPECT_EQ(FormatItems(field)[p].substr(0, 1), std::to_string(code));
        }
    }
}

TEST_F(RegistersTest, ReadBatchTakesEverySavedRegister)
{
    const auto& batch = ReadBatchRegisters();
    ASSERT_EQ(batch.size(), 71u);
    EXPECT_EQ(batch.front(), 0x25);
    EXPECT_EQ(batch.back(), 0xFF);
    for (uint8_t reg : {0x33, 0x35, 0x37, 0x38})
        EXPECT_NE(std::find(batch.begin(), batch.end(), reg), batch.end()) << int(reg);
    for (size_t i = 1; i < batch.size(); ++i)
        EXPECT_LT(batch[i - 1], batch[i]);
}

TEST_F(RegistersTest, SingleRegisterAnswersLandInTheirVariables)
{
    EXPECT_TRUE(StoreRegisterValue(0x4D, 0x80));
    EXPECT_EQ(ClockSettings.MasterFlags.load(), 0x80);

    ClockSettings.DimOnTime = 0x1230;
    EXPECT_TRUE(StoreRegisterValue(0x39, 0x07));
    EXPECT_EQ(ClockSettings.DimOnTime.load(), 0x0730);
    EXPECT_TRUE(StoreRegisterValue(0x3A, 0x15));
    EXPECT_EQ(ClockSettings.DimOnTime.load(), 0x0715);

    EXPECT_TRUE(StoreRegisterValue(0x51, 0xFF));
    EXPECT_TRUE(StoreRegisterValue(0x52, 0xC5));
    EXPECT_EQ(ClockSettings.DayCorrection.load(), -59);

    EXPECT_TRUE(StoreRegisterValue(0x2B, 37));
    EXPECT_EQ(ClockSettings.Expo[3].load(), 37);
    EXPECT_TRUE(StoreRegisterValue(0x35, 9));
    EXPECT_EQ(ClockSettings.Expo[8].load(), 9);
    EXPECT_TRUE(StoreRegisterValue(0xDF, 4));
    EXPECT_EQ(ClockSettings.FieldFormat[7].load(), 4);
    EXPECT_TRUE(StoreRegisterValue(0xFF, 12));
    EXPECT_EQ(ClockSettings.TextLen[31].load(), 12);
    EXPECT_TRUE(StoreRegisterValue(0x4E, 3));
    EXPECT_EQ(ClockSettings.LowerLevel.load(), 3);
}

TEST_F(RegistersTest, UnknownRegistersChangeNothing)
{
    for (int reg : {0x00, 0x24, 0x26, 0x36, 0x46, 0x4B, 0x4F, 0x53, 0xD7}) {
        EXPECT_FALSE(StoreRegisterValue(static_cast<uint8_t>(reg), 0x5A)) << reg;
    }
    EXPECT_EQ(ClockSettings.MasterFlags.load(), 0);
    EXPECT_EQ(ClockSettings.LowerLevel.load(), 0);
    EXPECT_EQ(ClockSettings.RegSE.load(), 0);
    for (auto& e : ClockSettings.Expo)
        EXPECT_EQ(e.load(), 0);
}

} // namespace
} // namespace chronavel

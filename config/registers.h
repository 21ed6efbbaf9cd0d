// The clock's configuration as the program holds it: the register numbers,
// the settings variables, the register image and its two window copies, and
// the conversions between register values and what the operator chooses.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel {

constexpr int kImageSize = 101; // indices 0..100; index 0 is never written
constexpr int kExpoCount = 9;
constexpr int kFieldFormatCount = 8;
constexpr int kTextLenCount = 32;
constexpr int kTimeZoneEntries = 51;
constexpr int kPercentEntries = 10;
constexpr int kReadBatchSize = 71;

// Register numbers.
constexpr uint8_t kRegExpo0 = 0x25; // Expo[i] is 0x25 + 2i
constexpr uint8_t kRegTimeZone = 0x37;
constexpr uint8_t kRegUpperLevel = 0x38;
constexpr uint8_t kRegDimOnHour = 0x39;
constexpr uint8_t kRegDimOffHour = 0x3B;
constexpr uint8_t kRegS6 = 0x3D;
constexpr uint8_t kRegAlarm1Hour = 0x3E;
constexpr uint8_t kRegAlarm2Hour = 0x40;
constexpr uint8_t kRegOptionFlags = 0x42;
constexpr uint8_t kRegVolume = 0x43;
constexpr uint8_t kRegDimLevel = 0x44;
constexpr uint8_t kRegNormLevel = 0x45;
constexpr uint8_t kRegClockAddr = 0x4C;
constexpr uint8_t kRegMasterFlags = 0x4D;
constexpr uint8_t kRegLowerLevel = 0x4E;
constexpr uint8_t kRegUnused4F = 0x4F;
constexpr uint8_t kRegSE = 0x50;
constexpr uint8_t kRegCorrectionHigh = 0x51;
constexpr uint8_t kRegCorrectionLow = 0x52;
constexpr uint8_t kRegFieldFormat0 = 0xD8;
constexpr uint8_t kRegTextLen0 = 0xE0;

// The settings variables. The exchange thread stores answers into them
// while the window thread reads and, on a save, overwrites them; every one
// is atomic so neither side ever sees a torn value.
struct ClockSettingsVars {
    std::array<std::atomic<uint8_t>, kExpoCount> Expo{};
    // Units digit of the temperature exposures, kept by the status-block
    // decoder for the emulated display only.
    std::array<std::atomic<uint8_t>, kExpoCount> ExpoUnits{};
    std::array<std::atomic<uint8_t>, kFieldFormatCount> FieldFormat{};
    std::array<std::atomic<uint8_t>, kTextLenCount> TextLen{};
    std::atomic<uint8_t> ClockAddr{0};
    std::atomic<uint8_t> MasterFlags{0};
    std::atomic<uint8_t> TimeZone{0};
    std::atomic<uint8_t> Volume{0};
    std::atomic<uint8_t> RegS6{0};
    std::atomic<uint8_t> OptionFlags{0};
    std::atomic<uint8_t> DimLevel{0};
    std::atomic<uint8_t> NormLevel{0};
    std::atomic<uint8_t> RegSE{0};
    std::atomic<uint8_t> UpperLevel{0};
    std::atomic<uint8_t> LowerLevel{0};
    std::atomic<uint16_t> DimOnTime{0}; // BCD pairs: hour high byte, minutes low byte
    std::atomic<uint16_t> DimOffTime{0};
    std::atomic<uint16_t> Alarm1Time{0};
    std::atomic<uint16_t> Alarm2Time{0};
    std::atomic<int16_t> DayCorrection{0};
};
extern ClockSettingsVars ClockSettings;

struct RegisterImages {
    // The last status block; written by the exchange thread.
    std::array<std::atomic<uint8_t>, kImageSize> RegImage{};
};
extern RegisterImages Registers;

constexpr std::array<uint8_t, kPercentEntries> PercentCodes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0};

// Everything back to zero, as at start (tests).
void ResetClockSettings();

// A plain copy of RegImage taken under DisplayTickLock, so a status block
// arriving meanwhile cannot tear it.
std::array<uint8_t, kImageSize> CopyRegImage();

// Stores a single-register answer into its variable: a byte variable takes
// the whole byte, the first register of a 16-bit pair the high byte and the
// second the low byte. False (nothing changed) for registers with no
// variable, 0x4F among them. The variable is the register table's
// (config/register_table.h).
bool StoreRegisterValue(uint8_t reg, uint8_t value);

// The read batch, every register of the register table ascending, 71:
// 0x25..0x35 (every second), 0x37..0x45, 0x4C..0x52, 0xD8..0xDF, 0xE0..0xFF.
const std::array<uint8_t, kReadBatchSize>& ReadBatchRegisters();

// --- Packed BCD.
// 0..99 to one packed-BCD byte; throws std::out_of_range outside 0..99.
uint8_t BcdByte(int v);
// A packed-BCD byte as 0..99, or -1 when a nibble is above 9.
int BcdValue(uint8_t b);
// The pair word of a time: BcdByte(hour) * 256 + BcdByte(minute).
uint16_t BcdPair(int hour, int minute);
// The time a pair word stands for; false unless both bytes are BCD, the hour
// at most 23 and the minutes at most 59.
bool DecodeBcdPair(uint16_t word, int& hour, int& minute);

// --- Temperature registers: 10 x format + exposure.
// format 0..5, exposure 0..9; throws std::out_of_range otherwise.
uint8_t TemperatureRegister(int format, int exposure);
inline int TemperatureFormat(uint8_t value)
{
    return value / 10;
}
inline int TemperatureExposure(uint8_t value)
{
    return value % 10;
}

// --- Time zones: entry p stands for (p - 24) / 2 hours.
// Code of entry 0..50; throws std::out_of_range otherwise.
uint8_t TimeZoneCode(int entry);
double TimeZoneHours(int entry);
// The entry carrying the code, or -1.
int TimeZoneEntry(uint8_t code);

// --- Percent codes: "10%" .. "100%" at positions 0..9.
// Throws std::out_of_range outside 0..9 (a caller's fault: positions come
// from the program's own lists).
uint8_t PercentCode(int position);
// The position carrying a clock's code; none when no position carries it.
std::optional<int> PercentPosition(uint8_t code);
// "10%" .. "100%".
std::string PercentText(int position);

// --- Switching levels: register value = level + 99 = list position.
// level -99..99; throws std::out_of_range otherwise (a caller's fault).
uint8_t LevelRegister(int level);
// The level of a clock's register value; none above 198.
std::optional<int> LevelOfRegister(uint8_t value);

// --- Daily correction: -59..59 as 16-bit two's complement, list position
// correction + 59.
uint8_t CorrectionHigh(int16_t correction);
uint8_t CorrectionLow(int16_t correction);
int16_t CorrectionFromBytes(uint8_t high, uint8_t low);

// --- Flag bits.
namespace master_bits {
constexpr uint8_t kMaster = 0x80; // "Ведущий"
constexpr uint8_t kRadiation = 0x40;
constexpr uint8_t kHumidity = 0x20;
constexpr uint8_t kPressure = 0x10;
constexpr uint8_t kTemperature3 = 0x08;
constexpr uint8_t kTemperature2 = 0x04;
constexpr uint8_t kTemperature1 = 0x02;
constexpr uint8_t kTimeDate = 0x01;
} // namespace master_bits

namespace option_bits {
constexpr uint8_t kSignal00 = 0x80;
constexpr uint8_t kSignal15 = 0x40;
constexpr uint8_t kSignal30 = 0x20;
constexpr uint8_t kSignal45 = 0x10;
constexpr uint8_t kRadiationSignal = 0x08;
constexpr uint8_t kSummerTime = 0x04;
constexpr uint8_t kSpeed = 0x02;
constexpr uint8_t kFullSlave = 0x01;
} // namespace option_bits

struct FlagBit {
    uint8_t Mask;
    const char* Caption;
};
// The eight bits of each flag register with their check-box captions, bit 7
// first.
const std::array<FlagBit, 8>& MasterFlagBits();
const std::array<FlagBit, 8>& OptionFlagBits();

inline bool HasFlag(uint8_t flags, uint8_t mask)
{
    return (flags & mask) != 0;
}
inline uint8_t WithFlag(uint8_t flags, uint8_t mask, bool on)
{
    return static_cast<uint8_t>(on ? (flags | mask) : (flags & ~mask));
}

// --- Display format codes per field.
enum FieldIndex : int {
    kFieldMain = 0,
    kFieldTemperature1 = 1,
    kFieldTemperature2 = 2,
    kFieldTemperature3 = 3,
    kFieldPressure = 4,
    kFieldHumidity = 5,
    kFieldRadiation = 6,
    kFieldDate = 7,
};

// The codes of a field's list, in list order (empty for an unknown field).
const std::vector<uint8_t>& FormatCodes(int field);
// The list items, code first ("0 нет", "2 1245_", ...).
const std::vector<std::string>& FormatItems(int field);
// List position of a code, or -1 when the field has no such code.
int FormatPosition(int field, int code);
// Code at a list position, or -1 when the position is outside the list.
int FormatCode(int field, int position);
// Both directions in one: to_code set, value is a position; clear, a code.
int CountPos(int field, int value, bool to_code);

} // namespace chronavel

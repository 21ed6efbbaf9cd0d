#include "config/registers.h"

#include "config/register_table.h"
#include "port/display_lock.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace chronavel {

ClockSettingsVars ClockSettings;
RegisterImages Registers;

namespace {

template <size_t N> void ZeroAll(std::array<std::atomic<uint8_t>, N>& a)
{
    for (auto& v : a)
        v.store(0);
}

// Replaces one byte of a 16-bit variable, keeping the other: the two halves
// arrive as separate single-register answers.
template <typename Word> void SetByte(std::atomic<Word>& word, bool high, uint8_t b)
{
    Word old = word.load();
    for (;;) {
        const auto u = static_cast<uint16_t>(old);
        const auto merged = high ? static_cast<uint16_t>((b << 8) | (u & 0xFF))
                                 : static_cast<uint16_t>((u & 0xFF00) | b);
        if (word.compare_exchange_weak(old, static_cast<Word>(merged)))
            return;
    }
}

} // namespace

void ResetClockSettings()
{
    for (const RegisterRow& r : RegisterTable()) {
        if (r.Byte)
            for (int i = 0; i < r.Count; ++i)
                r.Byte(i)->store(0);
        if (r.Word)
            r.Word()->store(0);
    }
    ZeroAll(ClockSettings.ExpoUnits);
    ClockSettings.DayCorrection.store(0);

    std::lock_guard<std::mutex> hold(DisplayTickLock);
    ZeroAll(Registers.RegImage);
}

std::array<uint8_t, kImageSize> CopyRegImage()
{
    std::array<uint8_t, kImageSize> copy{};
    std::lock_guard<std::mutex> hold(DisplayTickLock);
    for (int k = 0; k < kImageSize; ++k)
        copy[k] = Registers.RegImage[k].load();
    return copy;
}

bool StoreRegisterValue(uint8_t reg, uint8_t value)
{
    const RegisterRow* row = RowOf(reg);
    if (!row)
        return false;
    const int i = (reg - row->First) / row->Step;
    if (row->Byte) {
        row->Byte(i)->store(value);
        return true;
    }
    if (row->Word) {
        SetByte(*row->Word(), i == 0, value);
        return true;
    }
    if (row->Kind == RegisterKind::kCorrection) {
        SetByte(ClockSettings.DayCorrection, i == 0, value);
        return true;
    }
    return false;
}

const std::array<uint8_t, kReadBatchSize>& ReadBatchRegisters()
{
    // Every register of the table, ascending.
    static const std::array<uint8_t, kReadBatchSize> batch = [] {
        std::vector<uint8_t> regs;
        for (const RegisterRow& r : RegisterTable())
            for (int i = 0; i < r.Count; ++i)
                regs.push_back(r.Reg(i));
        std::sort(regs.begin(), regs.end());
        std::array<uint8_t, kReadBatchSize> b{};
        std::copy_n(regs.begin(), std::min(regs.size(), b.size()), b.begin());
        return b;
    }();
    return batch;
}

// --- Packed BCD.

uint8_t BcdByte(int v)
{
    if (v < 0 || v > 99)
        throw std::out_of_range("BCD value out of range 0..99: " + std::to_string(v));
    return static_cast<uint8_t>((v / 10) * 16 + v % 10);
}

int BcdValue(uint8_t b)
{
    int hi = b >> 4, lo = b & 0x0F;
    if (hi > 9 || lo > 9)
        return -1;
    return hi * 10 + lo;
}

uint16_t BcdPair(int hour, int minute)
{
    return static_cast<uint16_t>(BcdByte(hour) * 256 + BcdByte(minute));
}

bool DecodeBcdPair(uint16_t word, int& hour, int& minute)
{
    int h = BcdValue(static_cast<uint8_t>(word >> 8));
    int m = BcdValue(static_cast<uint8_t>(word & 0xFF));
    if (h < 0 || m < 0 || h > 23 || m > 59)
        return false;
    hour = h;
    minute = m;
    return true;
}

// --- Temperature registers.

uint8_t TemperatureRegister(int format, int exposure)
{
    if (format < 0 || format > 5 || exposure < 0 || exposure > 9)
        throw std::out_of_range("temperature format 0..5 and exposure 0..9 expected");
    return static_cast<uint8_t>(10 * format + exposure);
}

// --- Time zones.

uint8_t TimeZoneCode(int entry)
{
    if (entry < 0 || entry >= kTimeZoneEntries)
        throw std::out_of_range("time zone entry out of range 0..50: " + std::to_string(entry));
    int d = entry - 24;
    int half_hours = std::abs(d);
    int code = half_hours / 2;
    if (d < 0)
        code |= 0x40;
    if (half_hours % 2 != 0)
        code |= 0x80;
    return static_cast<uint8_t>(code);
}

double TimeZoneHours(int entry)
{
    return (entry - 24) / 2.0;
}

int TimeZoneEntry(uint8_t code)
{
    for (int p = 0; p < kTimeZoneEntries; ++p)
        if (TimeZoneCode(p) == code)
            return p;
    return -1;
}

// --- Percent codes.

uint8_t PercentCode(int position)
{
    if (position < 0 || position >= kPercentEntries)
        throw std::out_of_range("percent position out of range 0..9: " + std::to_string(position));
    return PercentCodes[position];
}

std::optional<int> PercentPosition(uint8_t code)
{
    for (int p = 0; p < kPercentEntries; ++p)
        if (PercentCodes[p] == code)
            return p;
    return std::nullopt;
}

std::string PercentText(int position)
{
    return std::to_string((position + 1) * 10) + "%";
}

// --- Switching levels.

uint8_t LevelRegister(int level)
{
    if (level < -99 || level > 99)
        throw std::out_of_range("level out of range -99..99: " + std::to_string(level));
    return static_cast<uint8_t>(level + 99);
}

std::optional<int> LevelOfRegister(uint8_t value)
{
    if (value > 198)
        return std::nullopt;
    return value - 99;
}

// --- Daily correction.

uint8_t CorrectionHigh(int16_t correction)
{
    return static_cast<uint8_t>(static_cast<uint16_t>(correction) >> 8);
}

uint8_t CorrectionLow(int16_t correction)
{
    return static_cast<uint8_t>(static_cast<uint16_t>(correction) & 0xFF);
}

int16_t CorrectionFromBytes(uint8_t high, uint8_t low)
{
    return static_cast<int16_t>(static_cast<uint16_t>((high << 8) | low));
}

// --- Flag bits.

const std::array<FlagBit, 8>& MasterFlagBits()
{
    static const std::array<FlagBit, 8> bits = {{
        {master_bits::kMaster, "Ведущий"},
        {master_bits::kRadiation, "Радиация"},
        {master_bits::kHumidity, "Влажность"},
        {master_bits::kPressure, "Давление"},
        {master_bits::kTemperature3, "Температура 3"},
        {master_bits::kTemperature2, "Температура 2"},
        {master_bits::kTemperature1, "Температура 1"},
        {master_bits::kTimeDate, "Время, дата"},
    }};
    return bits;
}

const std::array<FlagBit, 8>& OptionFlagBits()
{
    static const std::array<FlagBit, 8> bits = {{
        {option_bits::kSignal00, "Сигнал хх:00"},
        {option_bits::kSignal15, "Сигнал хх:15"},
        {option_bits::kSignal30, "Сигнал хх:30"},
        {option_bits::kSignal45, "Сигнал хх:45"},
        {option_bits::kRadiationSignal, "Сигнал датчика радиации"},
        {option_bits::kSummerTime, "Переход на летнее время: "},
        {option_bits::kSpeed, "115200/9600"},
        {option_bits::kFullSlave, "Полный \"slave\""},
    }};
    return bits;
}

// --- Display format codes.

namespace {

struct FormatList {
    std::vector<uint8_t> Codes;
    std::vector<std::string> Items;
};

const FormatList* FormatListOf(int field)
{
    static const FormatList main_field{{0, 2, 3, 4, 5, 6, 7, 8},
                                       {"0 нет", "2 1245_", "3 12.45.00 эксп. вр.", "4 12.45_",
                                        "5 12-45", "6 12.45.00 всегда", "7 12-45.00 эксп. вр.",
                                        "8 12.45.00 всегда"}};
    static const FormatList temperature{{0, 2, 3, 4, 5},
                                        {"0 нет", "2 12", "3 -12", "4 -12*", "5 -12*C"}};
    static const FormatList pressure{{0, 3, 4, 5}, {"0 нет", "3 762", "4 P762", "5 P_762"}};
    static const FormatList humidity{{0, 2, 4, 5}, {"0 нет", "2 99", "4 99%", "5 _99%"}};
    static const FormatList radiation{{0, 4, 5}, {"0 нет", "4 0.013", "5 _0.013"}};
    static const FormatList date{{0, 3, 4, 5}, {"0 нет", "3 дд.мм", "4 ддмм", "5 дд_мм"}};
    switch (field) {
    case kFieldMain:
        return &main_field;
    case kFieldTemperature1:
    case kFieldTemperature2:
    case kFieldTemperature3:
        return &temperature;
    case kFieldPressure:
        return &pressure;
    case kFieldHumidity:
        return &humidity;
    case kFieldRadiation:
        return &radiation;
    case kFieldDate:
        return &date;
    default:
        return nullptr;
    }
}

} // namespace

const std::vector<uint8_t>& FormatCodes(int field)
{
    static const std::vector<uint8_t> none;
    const FormatList* list = FormatListOf(field);
    return list ? list->Codes : none;
}

const std::vector<std::string>& FormatItems(int field)
{
    static const std::vector<std::string> none;
    const FormatList* list = FormatListOf(field);
    return list ? list->Items : none;
}

int FormatPosition(int field, int code)
{
    const auto& codes = FormatCodes(field);
    for (size_t p = 0; p < codes.size(); ++p)
        if (codes[p] == code)
            return static_cast<int>(p);
    return -1;
}

int FormatCode(int field, int position)
{
    const auto& codes = FormatCodes(field);
    if (position < 0 || static_cast<size_t>(position) >= codes.size())
        return -1;
    return codes[position];
}

int CountPos(int field, int value, bool to_code)
{
    return to_code ? FormatCode(field, value) : FormatPosition(field, value);
}

} // namespace chronavel

// One clock's registers as that clock itself answered them, kept per clock
// address: a read batch starts the clock's record afresh, and only that
// clock's single-register answers go into it (never another clock's, never
// a status or text block). The settings window and the save work from it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel {

// A value per register number, or none when it is not known.
class RegisterValues {
public:
    bool Has(uint8_t reg) const { return known_[reg]; }
    // The value, or 0 when none is known.
    uint8_t At(uint8_t reg) const { return values_[reg]; }
    std::optional<uint8_t> Get(uint8_t reg) const
    {
        return known_[reg] ? std::optional<uint8_t>(values_[reg]) : std::nullopt;
    }
    void Set(uint8_t reg, uint8_t value)
    {
        values_[reg] = value;
        known_[reg] = true;
    }
    void Forget(uint8_t reg)
    {
        values_[reg] = 0;
        known_[reg] = false;
    }
    // The registers with a value, ascending.
    std::vector<uint8_t> Known() const;
    bool operator==(const RegisterValues&) const = default;

private:
    std::array<uint8_t, 256> values_{};
    std::array<bool, 256> known_{};
};

// A read batch towards clock begins: its record starts empty, and from now
// on its single-register answers are recorded.
void BeginReadBatch(uint8_t clock);
// A single-register answer (or a confirmed write) of that clock; kept only
// for a clock whose record a read batch has begun.
void RecordRegisterAnswer(uint8_t clock, uint8_t reg, uint8_t value);
// What the clock answered since its last read batch began (empty when none).
RegisterValues AnsweredBy(uint8_t clock);
// The clock moved to another address: its record goes with it, 0x4C set to
// the new address.
void MoveAnswered(uint8_t from, uint8_t to);
// Forgets every record (tests, a fresh start).
void ResetAnswered();

// --- The settings by the names the tool's read-all listing uses.
// Byte settings ("ClockAddr", "Volume", ... , "DayCorrection" -59..59 and
// any 16-bit number), lists ("Expo", "FieldFormat", "TextLen") and times
// ("DimOnTime", ... as "HH:MM", the digits as they stand in the registers).
// Each returns "" when taken, else what is wrong.
std::string SetNamedNumber(RegisterValues& out, const std::string& name, long long value);
std::string SetNamedList(RegisterValues& out, const std::string& name,
                         const std::vector<long long>& values);
std::string SetNamedTime(RegisterValues& out, const std::string& name, const std::string& hhmm);

// The settings by those names (the named rows of config/register_table.h),
// each with its registers, in the order the read-all listing shows them.
enum class SettingKind {
    kByte,       // one register, 0..255
    kList,       // several registers, a number each
    kTime,       // two registers, "HH:MM" of their hexadecimal digits
    kCorrection, // 0x51 and 0x52, a signed 16-bit number
};
struct SettingInfo {
    std::string Name;
    SettingKind Kind = SettingKind::kByte;
    std::vector<uint8_t> Regs;
};
const std::vector<SettingInfo>& Settings();
// The setting a register belongs to, or nullptr.
const SettingInfo* SettingOf(uint8_t reg);

// A register=value line ("76=5", "0x4C=0x05": decimal or 0x-hex, blanks allowed). "" when taken.
std::string SetRegisterLine(RegisterValues& out, const std::string& line);

// "0x4C, 0x51": register numbers for the operator.
std::string RegisterList(const std::vector<uint8_t>& regs);

} // namespace chronavel

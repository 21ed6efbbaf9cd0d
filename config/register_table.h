// Every clock register the program knows, once: its number(s), the name
// read-all and the settings files give it, how its value reads, the
// settings variable an answer goes to, and how a save writes it. The
// decoder, the read-all listing, the settings files and the save plan all
// walk this table; adding a register starts with one row here.
#pragma once

#include "config/register_values.h"
#include "config/registers.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

namespace chronavel {

// How a register's value reads.
enum class RegisterKind {
    kPlain,       // a byte as it stands (address, free registers)
    kFlags,       // one bit per check box
    kPercent,     // "10%" .. "100%" code
    kTimeZone,    // time-zone code
    kLevel,       // switching level + 99
    kTimePair,    // BCD hour, then BCD minutes
    kCorrection,  // signed 16-bit, high byte first
    kExposure,    // exposure lists (temperatures: 10 x format + exposure)
    kFieldFormat, // display format codes, one per field
    kTextLength,  // stored text lengths
    kUnknown,     // read, no meaning known
};

// How a save writes a row's registers.
enum class SaveWrite {
    kNever,
    kImage,         // when changed, three times, limit 3
    kChanged,       // when changed, once, limit 5
    kAlways,        // always, once, limit 5, the clock's value unless changed
    kUpToFirstZero, // as kAlways, up to and including the first zero
};

struct RegisterRow {
    // The name in read-all and in settings files; nullptr for none.
    const char* Name;
    // Count registers at First, First + Step, ...; a pair's high byte first.
    uint8_t First;
    int Count;
    int Step;
    RegisterKind Kind;
    // The settings variable of register i of the row (byte rows and lists),
    // nullptr when an answer goes nowhere.
    std::atomic<uint8_t>* (*Byte)(int i);
    // The 16-bit variable of a time pair.
    std::atomic<uint16_t>* (*Word)();
    // The settings window's control of register i of the row (a pair: its
    // picker, at 0), by object name; nullptr when the window shows none.
    const char* const* Controls;
    SaveWrite Save;
    // Fixed writes go in this order (lower first); changed writes ascend.
    int SaveOrder;

    uint8_t Reg(int i) const { return static_cast<uint8_t>(First + Step * i); }
    bool Holds(uint8_t reg) const;
};

// The rows, in the order read-all lists the named ones.
std::span<const RegisterRow> RegisterTable();
// The row a register belongs to, or nullptr.
const RegisterRow* RowOf(uint8_t reg);

// What the settings variables hold, per register of every row that has a
// variable: the byte an answer of that register stored.
RegisterValues SettingsVariables();

// The registers the settings window shows, ascending.
std::vector<uint8_t> ShownRegisters();

} // namespace chronavel

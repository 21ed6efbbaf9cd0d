#include "config/register_values.h"

#include "config/register_table.h"
#include "config/registers.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

namespace chronavel {

std::vector<uint8_t> RegisterValues::Known() const
{
    std::vector<uint8_t> out;
    for (int r = 0; r < 256; ++r)
        if (known_[r])
            out.push_back(static_cast<uint8_t>(r));
    return out;
}

namespace {

// Written by the exchange thread's decoder, read by the window thread.
std::mutex answered_lock;
std::map<uint8_t, RegisterValues> answered;

// The named rows of one shape, in table order.
bool IsNamedByte(const RegisterRow& r)
{
    return r.Name && r.Count == 1;
}

bool IsNamedList(const RegisterRow& r)
{
    return r.Name && r.Count > 1 && r.Kind != RegisterKind::kTimePair &&
           r.Kind != RegisterKind::kCorrection;
}

bool IsNamedTime(const RegisterRow& r)
{
    return r.Name && r.Kind == RegisterKind::kTimePair;
}

std::string Hex(uint8_t v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

std::optional<long long> Number(const std::string& text)
{
    size_t i = 0, end = text.size();
    while (i < end && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    int base = 10;
    if (end - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == end || end - i > 8)
        return std::nullopt;
    long long v = 0;
    for (; i < end; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        int d = std::isdigit(c) ? c - '0' : std::isxdigit(c) ? std::toupper(c) - 'A' + 10 : 99;
        if (d >= base)
            return std::nullopt;
        v = v * base + d;
    }
    return v;
}

} // namespace

void BeginReadBatch(uint8_t clock)
{
    std::lock_guard<std::mutex> hold(answered_lock);
    answered[clock] = RegisterValues{};
}

void RecordRegisterAnswer(uint8_t clock, uint8_t reg, uint8_t value)
{
    std::lock_guard<std::mutex> hold(answered_lock);
    if (auto it = answered.find(clock); it != answered.end())
        it->second.Set(reg, value);
}

RegisterValues AnsweredBy(uint8_t clock)
{
    std::lock_guard<std::mutex> hold(answered_lock);
    auto it = answered.find(clock);
    return it == answered.end() ? RegisterValues{} : it->second;
}

void MoveAnswered(uint8_t from, uint8_t to)
{
    std::lock_guard<std::mutex> hold(answered_lock);
    RegisterValues moved;
    if (auto it = answered.find(from); it != answered.end()) {
        moved = it->second;
        answered.erase(it);
    }
    moved.Set(kRegClockAddr, to);
    answered[to] = moved;
}

void ResetAnswered()
{
    std::lock_guard<std::mutex> hold(answered_lock);
    answered.clear();
}

std::string SetNamedNumber(RegisterValues& out, const std::string& name, long long value)
{
    for (const RegisterRow& b : RegisterTable()) {
        if (b.Name && b.Kind == RegisterKind::kCorrection && name == b.Name) {
            if (value < -32768 || value > 32767)
                return name + ": " + std::to_string(value) + " is not a 16-bit number";
            const auto c = static_cast<int16_t>(value);
            out.Set(b.Reg(0), CorrectionHigh(c));
            out.Set(b.Reg(1), CorrectionLow(c));
            return {};
        }
        if (!IsNamedByte(b) || name != b.Name)
            continue;
        if (value < 0 || value > 255)
            return name + ": " + std::to_string(value) + " is not a byte (0..255)";
        out.Set(b.First, static_cast<uint8_t>(value));
        return {};
    }
    return "unknown setting \"" + name + "\"";
}

std::string SetNamedList(RegisterValues& out, const std::string& name,
                         const std::vector<long long>& values)
{
    for (const RegisterRow& l : RegisterTable()) {
        if (!IsNamedList(l) || name != l.Name)
            continue;
        if (values.size() != static_cast<size_t>(l.Count))
            return name + ": " + std::to_string(l.Count) + " numbers expected";
        for (int i = 0; i < l.Count; ++i) {
            if (values[i] < 0 || values[i] > 255)
                return name + "[" + std::to_string(i) + "]: not a byte (0..255)";
            out.Set(l.Reg(i), static_cast<uint8_t>(values[i]));
        }
        return {};
    }
    return "unknown setting \"" + name + "\"";
}

std::string SetNamedTime(RegisterValues& out, const std::string& name, const std::string& hhmm)
{
    for (const RegisterRow& t : RegisterTable()) {
        if (!IsNamedTime(t) || name != t.Name)
            continue;
        // The digits are the registers' bytes in hexadecimal ("25:60" too).
        const auto hi =
            hhmm.size() == 5 && hhmm[2] == ':' ? Number("0x" + hhmm.substr(0, 2)) : std::nullopt;
        const auto lo =
            hhmm.size() == 5 && hhmm[2] == ':' ? Number("0x" + hhmm.substr(3, 2)) : std::nullopt;
        if (!hi || !lo)
            return name + ": \"" + hhmm + "\" is not HH:MM";
        out.Set(t.Reg(0), static_cast<uint8_t>(*hi));
        out.Set(t.Reg(1), static_cast<uint8_t>(*lo));
        return {};
    }
    return "unknown setting \"" + name + "\"";
}

const std::vector<SettingInfo>& Settings()
{
    static const std::vector<SettingInfo> table = [] {
        std::vector<SettingInfo> t;
        for (const RegisterRow& r : RegisterTable()) {
            if (!r.Name)
                continue;
            SettingInfo s{r.Name, SettingKind::kByte, {}};
            if (IsNamedList(r))
                s.Kind = SettingKind::kList;
            else if (r.Kind == RegisterKind::kTimePair)
                s.Kind = SettingKind::kTime;
            else if (r.Kind == RegisterKind::kCorrection)
                s.Kind = SettingKind::kCorrection;
            for (int i = 0; i < r.Count; ++i)
                s.Regs.push_back(r.Reg(i));
            t.push_back(std::move(s));
        }
        return t;
    }();
    return table;
}

const SettingInfo* SettingOf(uint8_t reg)
{
    for (const SettingInfo& s : Settings())
        for (uint8_t r : s.Regs)
            if (r == reg)
                return &s;
    return nullptr;
}

std::string SetRegisterLine(RegisterValues& out, const std::string& line)
{
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
        return "\"" + line + "\" is not REG=VALUE";
    const auto reg = Number(line.substr(0, eq));
    const auto value = Number(line.substr(eq + 1));
    if (!reg || *reg > 255 || !value || *value > 255)
        return "\"" + line + "\": register and value must be 0..255 (decimal or 0x-hex)";
    out.Set(static_cast<uint8_t>(*reg), static_cast<uint8_t>(*value));
    return {};
}

std::string RegisterList(const std::vector<uint8_t>& regs)
{
    std::string out;
    for (uint8_t r : regs) {
        if (!out.empty())
            out += ", ";
        out += Hex(r);
    }
    return out;
}

} // namespace chronavel

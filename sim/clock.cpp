#include "sim/clock.h"

#include "config/register_values.h"
#include "config/registers.h"
#include "link/frames.h"
#include "sim/local_time.h"

#include <algorithm>
#include <cmath>

namespace chronavel::sim {

namespace {

uint8_t SegmentCode(char c)
{
    static const uint8_t digits[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    if (c >= '0' && c <= '9')
        return digits[c - '0'];
    switch (c) {
    case '-':
        return 0x40;
    case '_':
        return 0x08;
    case '.':
        return 0x80;
    default:
        return 0x00;
    }
}

// Whole degrees as the clock sends them: two's complement, and 0x80 for a
// reading just below zero, whose whole part would otherwise lose its sign.
uint8_t WholeDegrees(double t)
{
    const int whole = static_cast<int>(std::trunc(t));
    if (whole == 0 && t < 0)
        return 0x80;
    return static_cast<uint8_t>(whole & 0xFF);
}

uint8_t Hundredths(double t)
{
    const double frac = std::fabs(t) - std::floor(std::fabs(t));
    return static_cast<uint8_t>(std::min(99, static_cast<int>(std::lround(frac * 100))));
}

double Walk(std::mt19937_64& rng, double value, double base, double step, double lo, double hi)
{
    std::uniform_real_distribution<double> d(-step, step);
    value += d(rng) + (base - value) * 0.02; // wander, but drift home
    return std::clamp(value, lo, hi);
}

} // namespace

std::vector<uint8_t> SegmentCodes(const std::string& text)
{
    std::vector<uint8_t> codes;
    for (char c : text)
        codes.push_back(SegmentCode(c));
    return codes;
}

Clock::Clock(uint8_t addr, uint64_t seed, double drift_ppm, int64_t host_ms)
    : addr_(addr), rng_(seed ^ (0x9E3779B97F4A7C15ULL * (addr + 1ULL))), drift_(drift_ppm * 1e-6),
      base_clock_ms_(host_ms), base_host_ms_(host_ms)
{
    SetDefaults();
    defaults_ = regs_;
    texts_ = {SegmentCodes("12345"), SegmentCodes("-0-")};
    FitTexts();
}

void Clock::SetDefaults()
{
    // A fresh clock's settings by the names read-all gives them; every other
    // register the program knows starts at 0.
    RegisterValues d;
    for (uint8_t reg : ReadBatchRegisters())
        d.Set(reg, 0);
    // Exposures: time, date, year, temperature 1..3 (10 x format + exposure),
    // pressure, humidity, radiation.
    SetNamedList(d, "Expo", {5, 3, 2, 43, 43, 32, 3, 3, 2});
    SetNamedNumber(d, "TimeZone", 0x03);      // +3 h
    SetNamedNumber(d, "UpperLevel", 25 + 99); // upper switching level 25
    SetNamedTime(d, "DimOnTime", "22:00");    // reduced brightness 22:00 ..
    SetNamedTime(d, "DimOffTime", "07:00");   // .. 07:00
    SetNamedTime(d, "Alarm1Time", "06:30");
    SetNamedTime(d, "Alarm2Time", "12:00");
    SetNamedNumber(d, "OptionFlags", 0x84); // hourly signal, summer time
    SetNamedNumber(d, "Volume", 5);         // 50 %
    SetNamedNumber(d, "DimLevel", 3);       // reduced brightness 30 %
    SetNamedNumber(d, "NormLevel", 0);      // normal brightness 100 %
    SetNamedNumber(d, "ClockAddr", addr_);
    SetNamedNumber(d, "LowerLevel", 10 + 99); // lower switching level 10
    // Formats: main 12.45.00, temperatures -12*, P762, 99%, 0.013, dd.mm.
    SetNamedList(d, "FieldFormat", {3, 4, 4, 4, 4, 4, 4, 3});
    std::vector<long long> lengths(kTextLenCount, 0);
    lengths[0] = 5;
    lengths[1] = 3;
    SetNamedList(d, "TextLen", lengths);
    for (uint8_t reg : d.Known())
        regs_[reg] = d.At(reg);
}

bool Clock::SetReg(uint8_t reg, uint8_t value)
{
    const bool was_master = IsMaster();
    regs_[reg] = value;
    if (reg >= kRegTextLengths)
        FitTexts();
    return !was_master && IsMaster();
}

void Clock::FitTexts()
{
    // The stored texts follow their length registers up to the first zero;
    // a longer text is padded with blanks.
    size_t n = 0;
    while (n < 32 && regs_[kRegTextLengths + n] != 0)
        ++n;
    texts_.resize(n);
    for (size_t i = 0; i < n; ++i)
        texts_[i].resize(regs_[kRegTextLengths + i], 0x00);
}

int64_t Clock::TimeMs(int64_t host_ms) const
{
    const double elapsed = static_cast<double>(host_ms - base_host_ms_);
    return base_clock_ms_ + static_cast<int64_t>(std::llround(elapsed * (1.0 + drift_)));
}

void Clock::SetTimeMs(int64_t clock_ms, int64_t host_ms)
{
    base_clock_ms_ = clock_ms;
    base_host_ms_ = host_ms;
}

Action Clock::Handle(const RxFrame& f, int64_t host_ms)
{
    Action a;
    auto reply = [&](uint8_t p1, uint8_t p2) { a.reply = TxFrame{addr_, 0x00, f.cmd, p1, p2, {}}; };
    switch (f.cmd) {
    case kCmdReadRegister:
        if (!silent_regs_[f.p1])
            reply(f.p1, regs_[f.p1]);
        break;
    case kCmdWriteRegister:
        if (deaf_regs_[f.p1])
            break;
        reply(f.p1, f.p2);
        if (f.p1 == kRegClockAddr)
            a.new_addr = f.p2;
        a.became_master = SetReg(f.p1, f.p2);
        break;
    case kCmdSetTime: {
        if (f.data.size() != 7) {
            a.time_rejected = true;
            break;
        }
        ClockTime t;
        t.second = FromBcd(f.data[0]);
        t.minute = FromBcd(f.data[1]);
        t.hour = FromBcd(f.data[2]);
        t.day_of_week = f.data[3];
        t.day = FromBcd(f.data[4]);
        t.month = FromBcd(f.data[5]);
        t.year = FromBcd(f.data[6]);
        int64_t ms = 0;
        if (t.day_of_week < 2 || t.day_of_week > 8 || !FromClockTime(t, &ms)) {
            a.time_rejected = true;
            break;
        }
        a.time_set = true;
        a.carried_ms = ms;
        a.day_of_week_mismatch = WireDayOfWeek(ms) != t.day_of_week;
        SetTimeMs(ms, host_ms);
        reply(f.p1, f.p2);
        break;
    }
    case kCmdLinkCheck:
        reply(f.p1, f.p2);
        break;
    default:
        break; // commands this clock does not know go unanswered
    }
    return a;
}

void Clock::DriftReadings()
{
    const double base[3] = {21.5, -3.25, 15.75};
    for (int i = 0; i < 3; ++i)
        temp_[i] = Walk(rng_, temp_[i], base[i], 0.06, base[i] - 8, base[i] + 8);
    pressure_ = Walk(rng_, pressure_, 758, 0.2, 730, 790);
    humidity_ = Walk(rng_, humidity_, 46, 0.4, 20, 95);
    std::uniform_int_distribution<int> step(-1, 1);
    radiation_ = std::clamp(radiation_ + step(rng_), 8, 20);
}

std::vector<uint8_t> Clock::StatusBlock(int64_t host_ms) const
{
    // Built as the image (index k = data byte k - 1), then shifted.
    std::array<uint8_t, kStatusBlockSize + 1> img{};
    for (int k = 10; k <= 26; ++k)
        img[k] = regs_[0x25 + (k - 10)];
    for (int j = 0; j <= 14; ++j)
        img[27 + j] = regs_[0x37 + j];
    const ClockTime t = ToClockTime(TimeMs(host_ms));
    img[42] = ToBcd(t.second);
    for (int i = 0; i < 3; ++i) {
        img[43 + i] = WholeDegrees(temp_[i]);
        img[51 + i] = Hundredths(temp_[i]);
    }
    img[46] =
        static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(pressure_)) - 700, 0, 99));
    img[47] = static_cast<uint8_t>(std::lround(humidity_));
    img[48] = static_cast<uint8_t>(radiation_ / 100);
    img[49] = static_cast<uint8_t>(radiation_ / 10 % 10);
    img[50] = static_cast<uint8_t>(radiation_ % 10);
    img[55] = ToBcd(t.minute);
    img[56] = ToBcd(t.hour);
    img[57] = ToBcd(t.day);
    img[58] = ToBcd(t.month);
    img[59] = ToBcd(t.year);
    return std::vector<uint8_t>(img.begin() + 1, img.end());
}

std::vector<uint8_t> Clock::TextBlock() const
{
    std::vector<uint8_t> block;
    const size_t n = texts_.size();
    block.push_back(static_cast<uint8_t>(n));
    for (int i = 0; i < 8; ++i)
        block.push_back(regs_[kRegFormats + i]);
    for (const auto& text : texts_)
        block.push_back(static_cast<uint8_t>(text.size()));
    for (const auto& text : texts_)
        block.insert(block.end(), text.begin(), text.end());
    // A reply carries at most 255 data bytes; texts beyond that stay home.
    if (block.size() > 255)
        block.resize(255);
    return block;
}

} // namespace chronavel::sim

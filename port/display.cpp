#include "port/display.h"

#include "config/registers.h"
#include "link/hex.h"
#include "port/segment.h"

#include <cstdio>
#include <cstdlib>

namespace chronavel {

std::atomic<int32_t> DisplayTick{0};
std::mutex DisplayTickLock;

namespace {

// The texts are written on the exchange thread and read on the window
// thread; their own lock keeps the two apart whatever the host does.
std::mutex texts_lock;
DisplayTexts texts;

std::mutex sink_lock;
ClockDisplaySink sink;

const char* const kCatalogNames[kExtraFieldTexts] = {
    "Температура 1", "Температура 2", "Температура 3", "Давление", "Влажность", "Радиация", "Дата"};

const char kDegree[] = "°";

uint8_t Image(int k)
{
    return Registers.RegImage[k].load();
}

std::string Digits2(int v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.2d", v);
    return buf;
}

// The pieces of one status block, worked out once.
struct Pieces {
    std::string HH, MM, SS, DD, MO, YY;
    std::string T[4], TPlus[4], Tf[4]; // by temperature 1..3
    std::string P, H, R;
};

Pieces MakePieces()
{
    Pieces p;
    p.SS = HexDigits(Image(42));
    p.MM = HexDigits(Image(55));
    p.HH = HexDigits(Image(56));
    p.DD = HexDigits(Image(57));
    p.MO = HexDigits(Image(58));
    p.YY = HexDigits(Image(59));
    for (int t = 1; t <= 3; ++t) {
        int whole = DecodeSigned(Image(42 + t));
        p.T[t] = Digits2(whole);
        p.TPlus[t] = Digits2(std::abs(whole));
        p.Tf[t] = Digits2(Image(50 + t));
    }
    p.P = Digits2(Image(46));
    p.H = Digits2(Image(47));
    p.R = "0." + std::to_string(Image(48)) + std::to_string(Image(49)) + std::to_string(Image(50));
    return p;
}

void FormatMainField(const Pieces& p, int f, std::array<std::string, kMainFieldTexts>& m)
{
    if (f < 2 || f > 8)
        return;
    bool show_seconds = ClockSettings.Expo[0].load() != 0;
    bool spaced = f == 5 || f == 7 || f == 8; // the formats with blanks between the pieces
    switch (f) {
    case 2:
        m[0] = p.HH + "." + p.MM;
        break;
    case 3:
        m[0] = p.HH + "." + p.MM + "." + (show_seconds ? p.SS : "");
        break;
    case 4:
        m[0] = p.HH + "." + p.MM + " ";
        break;
    case 5:
        m[0] = p.HH + "-" + p.MM;
        break;
    case 6:
        m[0] = p.HH + "." + p.MM + "." + p.SS;
        break;
    case 7:
        m[0] = p.HH + "-" + p.MM + "." + (show_seconds ? p.SS : "");
        break;
    case 8:
        m[0] = " " + p.HH + "." + p.MM + "." + p.SS;
        break;
    }
    if (f == 5)
        m[1] = p.DD + " " + p.MO;
    else if (f == 7 || f == 8)
        m[1] = p.DD + " " + p.MO + " ";
    else
        m[1] = p.DD + p.MO;
    m[2] = (spaced ? " 20" : "20") + p.YY;
    m[6] = (spaced ? "P 7" : "P7") + p.P;
    m[7] = (spaced ? " " : "") + p.H + "%";
    m[8] = (spaced ? " " : "") + p.R;
}

// The emulated display reads the three temperature registers as the status
// block lays them out: the tens digit is the exposure, the units digit the
// display format. Expo keeps the whole byte, as the clock reported it.
bool IsTemperature(int i)
{
    return i >= 3 && i <= 5;
}

uint8_t DisplayExposure(int i)
{
    const uint8_t b = ClockSettings.Expo[i].load();
    return IsTemperature(i) ? static_cast<uint8_t>(b / 10) : b;
}

// ExpoUnits: the display's own units digits, worked out here only.
void UpdateExpoUnits()
{
    for (int i = 0; i < kExpoCount; ++i)
        ClockSettings.ExpoUnits[i].store(
            IsTemperature(i) ? static_cast<uint8_t>(ClockSettings.Expo[i].load() % 10) : 0);
}

void FormatMainTemperatures(const Pieces& p, int f, std::array<std::string, kMainFieldTexts>& m)
{
    for (int t = 1; t <= 3; ++t) {
        std::string& text = m[2 + t];
        switch (ClockSettings.ExpoUnits[2 + t].load()) {
        case 0:
            if (f == 2 || f == 3 || f == 4 || f == 6)
                text = " " + p.T[t] + kDegree;
            else if (f == 5 || f == 7 || f == 8)
                text = " " + p.T[t] + kDegree + "C";
            break;
        case 1:
        case 5:
            text = p.T[t] + kDegree;
            break;
        case 2:
            text = " " + p.T[t] + kDegree;
            break;
        case 3:
            text = " " + p.T[t] + "." + p.Tf[t] + kDegree;
            break;
        case 4:
            text = Utf8Prefix(p.T[t] + "." + p.Tf[t] + kDegree + "C", 6);
            break;
        default:
            break;
        }
    }
}

void FormatExtraFields(const Pieces& p, std::array<std::string, kExtraFieldTexts + 1>& x)
{
    auto format = [](int field) { return ClockSettings.FieldFormat[field].load(); };
    for (int t = 1; t <= 3; ++t) {
        switch (format(t)) {
        case 2:
            x[t] = p.TPlus[t];
            break;
        case 3:
            x[t] = p.T[t];
            break;
        case 4:
            x[t] = p.T[t] + kDegree;
            break;
        case 5:
            x[t] = p.T[t] + kDegree + "C";
            break;
        default:
            break;
        }
    }
    switch (format(kFieldPressure)) {
    case 3:
        x[4] = "7" + p.P;
        break;
    case 4:
        x[4] = "P7" + p.P;
        break;
    case 5:
        x[4] = "P 7" + p.P;
        break;
    default:
        break;
    }
    switch (format(kFieldHumidity)) {
    case 2:
        x[5] = p.H;
        break;
    case 4:
        x[5] = p.H + "%";
        break;
    case 5:
        x[5] = " " + p.H + "%";
        break;
    default:
        break;
    }
    switch (format(kFieldRadiation)) {
    case 4:
        x[6] = p.R;
        break;
    case 5:
        x[6] = " " + p.R;
        break;
    default:
        break;
    }
    switch (format(kFieldDate)) {
    case 3:
        x[7] = p.DD + "." + p.MO + " ";
        break;
    case 4:
        x[7] = p.DD + p.MO + " ";
        break;
    case 5:
        x[7] = p.DD + " " + p.MO + " ";
        break;
    default:
        break;
    }
}

} // namespace

DisplayTexts CurrentDisplayTexts()
{
    std::lock_guard<std::mutex> hold(texts_lock);
    return texts;
}

void FormatClockFields()
{
    UpdateExpoUnits();
    Pieces p = MakePieces();
    int f = ClockSettings.FieldFormat[kFieldMain].load();
    std::lock_guard<std::mutex> hold(texts_lock);
    FormatMainField(p, f, texts.MainFieldText);
    FormatMainTemperatures(p, f, texts.MainFieldText);
    FormatExtraFields(p, texts.ExtraFieldText);
}

int ChooseCurrentItem()
{
    int32_t cycle = 0;
    for (int i = 0; i < kExpoCount; ++i)
        cycle += DisplayExposure(i);
    int32_t tick;
    {
        std::lock_guard<std::mutex> hold(DisplayTickLock);
        if (cycle < DisplayTick.load())
            DisplayTick.store(1);
        tick = DisplayTick.load();
    }
    int32_t sum = 0;
    for (int k = 0; k < kExpoCount; ++k) {
        sum += DisplayExposure(k);
        if (sum >= tick)
            return k;
    }
    return 0;
}

void FillFieldTable()
{
    std::lock_guard<std::mutex> hold(texts_lock);
    for (int j = 0; j < kExtraFieldTexts; ++j) {
        texts.FieldCatalog[j].Name = Utf8Prefix(kCatalogNames[j], kFieldNameChars);
        texts.FieldCatalog[j].Value = Utf8Prefix(texts.ExtraFieldText[j + 1], kFieldValueChars);
    }
    texts.FieldTable.fill(FieldEntry{});
    // Catalog entries are already cut to the table's widths.
    int rows = 0;
    if (ClockSettings.FieldFormat[kFieldDate].load() != 0)
        texts.FieldTable[rows++] = texts.FieldCatalog[6];
    for (int j = 1; j <= 6; ++j) {
        if (ClockSettings.FieldFormat[j].load() != 0)
            texts.FieldTable[rows++] = texts.FieldCatalog[j - 1];
    }
    texts.FieldTableRows = rows;
}

void ShowClockFields()
{
    int k = ChooseCurrentItem();
    FillFieldTable();
    std::string shown;
    FieldRows table;
    int rows;
    {
        std::lock_guard<std::mutex> hold(texts_lock);
        texts.Shown = texts.MainFieldText[k];
        shown = texts.Shown;
        table = texts.FieldTable;
        rows = texts.FieldTableRows;
    }
    ClockDisplaySink show;
    {
        std::lock_guard<std::mutex> hold(sink_lock);
        show = sink;
    }
    if (show)
        show(shown, table, rows);
}

void SetClockDisplaySink(ClockDisplaySink s)
{
    std::lock_guard<std::mutex> hold(sink_lock);
    sink = std::move(s);
}

bool ClockDisplaySinkSet()
{
    std::lock_guard<std::mutex> hold(sink_lock);
    return sink != nullptr;
}

void ResetDisplayState()
{
    {
        std::lock_guard<std::mutex> hold(texts_lock);
        texts = DisplayTexts{};
    }
    {
        std::lock_guard<std::mutex> hold(DisplayTickLock);
        DisplayTick.store(0);
    }
    SetClockDisplaySink(nullptr);
}

size_t Utf8Length(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

std::string Utf8Prefix(const std::string& s, size_t n)
{
    size_t chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (chars == n)
                return s.substr(0, i);
            ++chars;
        }
    }
    return s;
}

} // namespace chronavel

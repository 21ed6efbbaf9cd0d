#include "config/write_settings.h"

#include "config/registers.h"
#include "link/frames.h"
#include "port/sync.h"

#include <cstdint>

namespace chronavel {

namespace {

constexpr int kImageWrites = 3;
constexpr int kImageLimit = 3;
constexpr int kExplicitLimit = 5;

// One register write; false once the clock has stopped answering.
bool Write(uint8_t target, uint8_t reg, uint8_t value, int limit)
{
    return SyncTransaction(target, kCmdWriteRegister, reg, value, limit, 0);
}

} // namespace

WriteResult WriteSettings(uint8_t target)
{
    if (target == kBroadcast)
        return WriteResult::kAllClocksRefused;
    if (NoAnswer.load() == 1)
        return WriteResult::kNoAnswer;
    auto& s = ClockSettings;
    auto& r = Registers;

    FillRegAddr();
    for (int k = 0; k < kImageSize; ++k) {
        // An index with no register behind it is never sent: it would land in
        // register 0.
        if (r.RegSnapshot[k] == r.RegEdited[k] || r.RegAddr[k] == 0)
            continue;
        for (int n = 0; n < kImageWrites; ++n)
            if (!Write(target, r.RegAddr[k], r.RegEdited[k], kImageLimit))
                return WriteResult::kNoAnswer;
    }

    const SideSettings& was = r.SideSnapshot;
    const struct {
        uint8_t Reg;
        uint8_t Now;
        uint8_t Was;
    } side[] = {{kRegDimLevel, s.DimLevel.load(), was.DimLevel},
                {kRegNormLevel, s.NormLevel.load(), was.NormLevel},
                {kRegLowerLevel, s.LowerLevel.load(), was.LowerLevel},
                {kRegSE, s.RegSE.load(), was.RegSE}};
    for (const auto& e : side)
        if (e.Now != e.Was && !Write(target, e.Reg, e.Now, kExplicitLimit))
            return WriteResult::kNoAnswer;

    for (int i = 0; i < kFieldFormatCount; ++i)
        if (!Write(target, static_cast<uint8_t>(kRegFieldFormat0 + i), s.FieldFormat[i].load(),
                   kExplicitLimit))
            return WriteResult::kNoAnswer;

    for (int i = 0; i < kTextLenCount; ++i) {
        const uint8_t len = s.TextLen[i].load();
        if (!Write(target, static_cast<uint8_t>(kRegTextLen0 + i), len, kExplicitLimit))
            return WriteResult::kNoAnswer;
        if (len == 0)
            break;
    }

    const int16_t correction = s.DayCorrection.load();
    if (!Write(target, kRegClockAddr, s.ClockAddr.load(), kExplicitLimit))
        return WriteResult::kNoAnswer;
    if (!Write(target, kRegCorrectionHigh, CorrectionHigh(correction), kExplicitLimit))
        return WriteResult::kNoAnswer;
    if (!Write(target, kRegCorrectionLow, CorrectionLow(correction), kExplicitLimit))
        return WriteResult::kNoAnswer;
    if (!Write(target, kRegMasterFlags, s.MasterFlags.load(), kExplicitLimit))
        return WriteResult::kNoAnswer;
    return WriteResult::kWritten;
}

} // namespace chronavel

// The register table drives every place a register goes: each row's
// registers reach their variables through the decoder, come out of read-all
// under the row's name, go back in through a restore unchanged, and are
// written by a save as the row says. One walk over every row, so a new row
// is tested the day it is added.
#include "app/core_state.h"
#include "config/register_table.h"
#include "config/settings_file.h"
#include "config/write_settings.h"
#include "tools/settings/read_all_output.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace chronavel::test {
namespace {

// A value of its own per register, never 0 (a zero text length ends the save).
uint8_t ValueFor(uint8_t reg)
{
    return static_cast<uint8_t>((reg * 7) % 250 + 1);
}

TEST(RegisterTable, EveryRowGoesThroughDecoderReadAllRestoreAndSave)
{
    ResetCoreState();
    std::set<uint8_t> variables, written, thrice;
    for (const RegisterRow& r : RegisterTable()) {
        const bool has_variable = r.Byte || r.Word || r.Kind == RegisterKind::kCorrection;
        for (int i = 0; i < r.Count; ++i) {
            EXPECT_EQ(StoreRegisterValue(r.Reg(i), ValueFor(r.Reg(i))), has_variable)
                << int(r.Reg(i));
            if (has_variable)
                variables.insert(r.Reg(i));
            if (r.Save != SaveWrite::kNever)
                written.insert(r.Reg(i));
            if (r.Save == SaveWrite::kImage)
                thrice.insert(r.Reg(i));
        }
        // A named row is one a settings file can carry: it needs a variable.
        if (r.Name) {
            EXPECT_TRUE(has_variable) << r.Name;
        }
    }

    // The decoder put each value into the row's variable.
    const RegisterValues held = SettingsVariables();
    const auto known = held.Known();
    EXPECT_EQ(std::set<uint8_t>(known.begin(), known.end()), variables);
    for (uint8_t reg : variables)
        EXPECT_EQ(held.At(reg), ValueFor(reg)) << int(reg);

    // read-all names the rows in table order, and its output restores them.
    const nlohmann::json j = ctl::SettingsJson();
    const auto table = ctl::SettingsTable();
    size_t n = 0;
    for (const RegisterRow& r : RegisterTable()) {
        if (!r.Name)
            continue;
        EXPECT_TRUE(j.contains(r.Name)) << r.Name;
        ASSERT_LT(n, table.size());
        EXPECT_EQ(table[n++].rfind(r.Name, 0), 0u) << r.Name;
    }
    EXPECT_EQ(n, table.size());
    EXPECT_EQ(n, j.size());
    RegisterValues restored;
    ASSERT_EQ(SettingsFromJsonText(j.dump(), restored), "");
    EXPECT_EQ(restored, held);

    // A save to a clock that answered nothing writes every saved row, the
    // image ones three times, and the address last.
    const SavePlan plan = PlanSave(RegisterValues{}, restored);
    EXPECT_TRUE(plan.Missing.empty());
    std::set<uint8_t> planned;
    for (const RegisterWrite& w : plan.Writes) {
        EXPECT_TRUE(planned.insert(w.Reg).second) << int(w.Reg);
        EXPECT_EQ(w.Value, ValueFor(w.Reg));
        EXPECT_EQ(w.Times, thrice.count(w.Reg) ? 3 : 1) << int(w.Reg);
    }
    EXPECT_EQ(planned, written);
    ASSERT_FALSE(plan.Writes.empty());
    EXPECT_EQ(plan.Writes.back().Reg, kRegClockAddr);

    // The read batch reads every register of the table.
    const auto& batch = ReadBatchRegisters();
    for (const RegisterRow& r : RegisterTable())
        for (int i = 0; i < r.Count; ++i)
            EXPECT_NE(std::find(batch.begin(), batch.end(), r.Reg(i)), batch.end());
    ResetCoreState();
}

} // namespace
} // namespace chronavel::test

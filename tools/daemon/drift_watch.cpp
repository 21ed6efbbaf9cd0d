#include "tools/daemon/drift_watch.h"

#include "app/master_search.h"
#include "config/registers.h"
#include "tools/line/line.h"

#include <algorithm>

namespace chronavel::ctl {

namespace {
// A register read is a transaction of up to this many askings.
constexpr int kReadLimit = 3;
} // namespace

void DriftWatch::Use(ConfigFile file, int period_seconds, TaskTime now)
{
    for (auto& [addr, values] : file.Clocks) {
        values.Forget(kRegClockAddr); // the key is where the clock is reached
        if (!values.Known().empty())
            wanted_[addr] = values;
    }
    const auto clocks = static_cast<long>(std::max<size_t>(1, wanted_.size()));
    slot_ = std::min<TaskClock::duration>(std::chrono::seconds(period_seconds),
                                          std::chrono::seconds(3600 / clocks));
    next_ = now;
}

void DriftWatch::Forget(uint8_t addr)
{
    wanted_.erase(addr);
    results_.erase(addr);
    if (addr_ == addr)
        regs_.clear();
}

TaskSlot DriftWatch::Slot(int speed) const
{
    if (wanted_.empty())
        return {};
    return {regs_.empty() ? next_ : TaskTime{}, ProbeBound(speed, SyncPatience{}) * kReadLimit};
}

std::optional<DriftWatch::Checked> DriftWatch::ReadOne(const Line& line, TaskTime now)
{
    if (wanted_.empty())
        return std::nullopt;
    if (regs_.empty()) {
        auto it = wanted_.upper_bound(addr_);
        if (it == wanted_.end())
            it = wanted_.begin();
        addr_ = it->first;
        regs_ = it->second.Known();
        read_ = {};
        next_ = now + slot_;
    }
    const uint8_t reg = regs_.back();
    const RegisterValues got = line.ReadRegisters(addr_, {reg}, kReadLimit);
    if (!got.Has(reg)) {
        regs_.clear(); // silent or busy: nothing is concluded
        return std::nullopt;
    }
    read_.Set(reg, got.At(reg));
    regs_.pop_back();
    if (!regs_.empty())
        return std::nullopt;
    Checked c{addr_, {}};
    for (const SettingDifference& d : CompareSettings(read_, wanted_[addr_]))
        c.Differing.push_back(d.Name + " " + d.Clock + ", в файле " + d.File);
    results_[addr_] = c.Differing;
    return c;
}

} // namespace chronavel::ctl

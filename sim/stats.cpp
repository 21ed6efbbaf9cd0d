#include "sim/stats.h"

#include "sim/sim.h"

#include <algorithm>
#include <cmath>

namespace chronavel::sim {

std::optional<BroadcastAnswer> ParseBroadcastAnswer(const std::string& text)
{
    if (text == "lowest")
        return BroadcastAnswer::kLowest;
    if (text == "all")
        return BroadcastAnswer::kAll;
    if (text == "none")
        return BroadcastAnswer::kNone;
    return std::nullopt;
}

TimeErrorStats Summarize(const std::vector<double>& errors_ms)
{
    TimeErrorStats s;
    s.count = errors_ms.size();
    if (errors_ms.empty())
        return s;
    std::vector<double> sorted = errors_ms;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    s.median_ms = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    std::vector<double> mags;
    for (double e : errors_ms)
        mags.push_back(std::fabs(e));
    std::sort(mags.begin(), mags.end());
    // Nearest rank: the smallest magnitude that 99 % of the errors do not exceed.
    const size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n)));
    s.p99_ms = mags[std::max<size_t>(rank, 1) - 1];
    s.max_ms = *std::max_element(errors_ms.begin(), errors_ms.end(),
                                 [](double a, double b) { return std::fabs(a) < std::fabs(b); });
    return s;
}

} // namespace chronavel::sim

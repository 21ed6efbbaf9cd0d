// Summaries shared by the library and the program.
#pragma once

#include "sim/sim.h"

#include <vector>

namespace chronavel::sim {

// Median of the signed errors (the bias), p99 and max of their magnitudes.
TimeErrorStats Summarize(const std::vector<double>& errors_ms);

} // namespace chronavel::sim

// The master search over the simulated line at 9600 Bd: a silent line (all
// 254 addresses probed in vain) and a master at address 200.
#include "app/core_state.h"
#include "app/master_search.h"
#include "port/port.h"
#include "sim/sim.h"

#include <benchmark/benchmark.h>
#include <optional>
#include <string>

namespace {

using namespace chronavel;

void Search(benchmark::State& state, std::optional<uint8_t> master, uint8_t expect)
{
    ResetCoreState();
    sim::Options o;
    o.name = "search-bench";
    o.publish_link = false;
    o.speed = 9600;
    o.clocks = {1};
    if (master) {
        o.clocks.push_back(*master);
        o.master = master;
    }
    sim::Simulator line(o);
    std::string error;
    if (!line.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    platform::SerialPtr port = OpenPort(line.DevicePath(), 9600);
    if (!port) {
        state.SkipWithError("cannot open the simulated line");
        return;
    }
    PortHandle.Set(port);
    for (auto _ : state) {
        const uint8_t found = SearchMaster(9600);
        if (found != expect)
            state.SkipWithError("wrong search result");
    }
    ClosePort();
    ResetCoreState();
}

void BM_SearchSilentLine(benchmark::State& state)
{
    Search(state, std::nullopt, 0);
}
BENCHMARK(BM_SearchSilentLine)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

void BM_SearchMasterAt200(benchmark::State& state)
{
    Search(state, uint8_t{200}, 200);
}
BENCHMARK(BM_SearchMasterAt200)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();

// The request engine against simulated clocks: how close a read-all batch
// comes to the time its bytes need on the wire, and what an idle exchange
// thread costs in processor time.
//
//   build/<dir>/bench/engine_bench
#include "app/core_state.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "port/port.h"
#include "sim/sim.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace chronavel {
namespace {

void BM_ReadAllBatch(benchmark::State& state)
{
    ResetCoreState();
    const int speed = static_cast<int>(state.range(0));
    sim::Options o;
    o.name = "engine_bench";
    o.publish_link = false;
    o.speed = speed;
    o.clocks = {1};
    o.seed = 1;
    sim::Simulator sim(o);
    std::string error;
    if (!sim.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    platform::SerialPtr port = OpenPort(sim.DevicePath(), speed);
    if (!port) {
        state.SkipWithError("Error opening port");
        return;
    }
    PortHandle.Set(port);
    StartExchangeThread();

    const auto& regs = ReadBatchRegisters();
    size_t replies = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (uint8_t r : regs)
            PutRequest(StandardRequest(1, kCmdReadRegister, r, 0));
        replies += regs.size();
        if (!sim.WaitForReplies(replies, 120000)) {
            state.SkipWithError("replies missing");
            break;
        }
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    StopExchangeThread(std::chrono::seconds(10));
    ClosePort();
    ResetCoreState();

    // 9 bytes out and 9 back per read, 10 bits a byte.
    const double wire_s = static_cast<double>(regs.size()) * 18 * 10 / speed;
    const double batches = static_cast<double>(state.iterations());
    state.counters["wire_ms"] = wire_s * 1000;
    state.counters["wall_ms"] = wall.count() * 1000 / batches;
    state.counters["ratio"] = wall.count() / (wire_s * batches);
    state.counters["resent"] =
        static_cast<double>(sim.FramesReceived(kCmdReadRegister)) - static_cast<double>(replies);
}
BENCHMARK(BM_ReadAllBatch)
    ->Arg(9600)
    ->Arg(115200)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

double ThreadCpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A pseudo-terminal nobody writes to: a line with no clock on it.
void BM_IdleExchangeThread(benchmark::State& state)
{
    ResetCoreState();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const std::string slave = ptsname(master);
    platform::SerialPtr port = OpenPort(slave, 9600);
    if (!port) {
        close(master);
        state.SkipWithError("Error opening port");
        return;
    }
    PortHandle.Set(port);

    std::atomic<clockid_t> cpu_clock{};
    auto t = TNewThread::Create([&] {
        clockid_t c{};
        pthread_getcpuclockid(pthread_self(), &c);
        cpu_clock.store(c);
    });
    ExchangeThread.Set(t);
    t->PostToThread(1234); // returns once the thread is ready
    const double seconds = static_cast<double>(state.range(0));
    double cpu = 0;
    for (auto _ : state) {
        const double before = ThreadCpuSeconds(cpu_clock.load());
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        cpu += ThreadCpuSeconds(cpu_clock.load()) - before;
    }
    StopExchangeThread(std::chrono::seconds(5));
    ClosePort();
    ResetCoreState();
    close(master);
    state.counters["cpu_ms"] = cpu * 1000 / static_cast<double>(state.iterations());
    state.counters["cpu_percent"] = 100 * cpu / (seconds * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_IdleExchangeThread)->Arg(30)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
} // namespace chronavel

BENCHMARK_MAIN();

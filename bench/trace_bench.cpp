// What the frame trace costs a frame writer: with nobody listening (the
// exchange loop's normal state), and with a listener that formats the line
// and queues it as the sent-data log does.
//
//   build/<dir>/bench/trace_bench
#include "link/frame_trace.h"
#include "link/frames.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace chronavel {
namespace {

// A port that takes every write at once.
class NullPort : public platform::SerialDevice {
public:
    int Read(uint8_t*, size_t) override { return 0; }
    bool Write(const uint8_t* buf, size_t n) override
    {
        benchmark::DoNotOptimize(buf);
        benchmark::DoNotOptimize(n);
        return true;
    }
    bool Purge() override { return true; }
    bool ClearErrors(uint32_t& word) override
    {
        word = 0;
        return true;
    }
    bool SetSpeed(int) override { return true; }
    void SetReadTimeoutPerByte(int) override {}
    int ReadTimeoutPerByte() const override { return 80; }
};

void BM_TraceHookOff(benchmark::State& state)
{
    const auto f = BuildShortFrame(1, kCmdReadRegister, 0x4D, 0);
    for (auto _ : state)
        TraceFrame(FrameDirection::Sent, 1, kCmdReadRegister, f.data(), f.size());
}
BENCHMARK(BM_TraceHookOff);

void BM_WriteShortFrame(benchmark::State& state)
{
    NullPort port;
    int id = 0;
    auto queue = std::make_shared<FrameLineQueue>(5000);
    if (state.range(0) != 0)
        id = AddFrameObserver([queue](const FrameEvent& e) {
            if (queue->Push(FormatFrameLine(e)))
                benchmark::ClobberMemory();
        });
    int n = 0;
    for (auto _ : state) {
        WriteShortFrame(port, 1, kCmdReadRegister, 0x4D, 0);
        if (++n % 4096 == 0)
            queue->TakeAll();
    }
    if (id != 0)
        RemoveFrameObserver(id);
}
BENCHMARK(BM_WriteShortFrame)->Arg(0)->Arg(1)->ArgName("listening");

} // namespace
} // namespace chronavel

BENCHMARK_MAIN();

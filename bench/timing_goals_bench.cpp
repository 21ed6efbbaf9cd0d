// The exchange's timing goals, measured against simulated clocks on a
// pseudo-terminal: how far the clocks are set from the PC's time, how close
// a read-all batch comes to the time its bytes and the clock's turnaround
// need, and what an idle exchange thread costs. Each figure is printed
// beside its goal; the exit status is 1 when any goal is missed.
//
//   build/<dir>/bench/timing_goals_bench [--frames N] [--idle-seconds S]
//                                        [--skip-time] [--skip-batch] [--skip-idle]
//                                        [--skip-master] [--master-syncs N]
#include "app/core_state.h"
#include "app/time_sync.h"
#include "config/registers.h"
#include "link/exchange.h"
#include "link/frame_trace.h"
#include "link/frames.h"
#include "link/host.h"
#include "link/request.h"
#include "port/port.h"
#include "sim/sim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <random>
#include <stdlib.h>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace chronavel {
namespace {

constexpr int kTurnaroundMs = 5; // the simulator's default

bool all_met = true;

void Report(const std::string& what, double value, const char* unit, double goal)
{
    const bool ok = value <= goal;
    all_met = all_met && ok;
    std::printf("%-72s %8.3f %-2s goal <= %-5g %s\n", what.c_str(), value, unit, goal,
                ok ? "met" : "MISSED");
    std::fflush(stdout);
}

struct Line {
    std::unique_ptr<sim::Simulator> sim;
    bool ok = false;
};

Line OpenLine(int speed)
{
    ResetCoreState();
    Line l;
    sim::Options o;
    o.name = "timing_bench";
    o.publish_link = false;
    o.speed = speed;
    o.turnaround_ms = kTurnaroundMs;
    o.clocks = {1};
    o.seed = 1;
    l.sim = std::make_unique<sim::Simulator>(o);
    std::string error;
    if (!l.sim->Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return l;
    }
    platform::SerialPtr port = OpenPort(l.sim->DevicePath(), speed);
    if (!port) {
        std::fprintf(stderr, "Error opening port\n");
        return l;
    }
    PortHandle.Set(port);
    StartExchangeThread();
    l.ok = true;
    return l;
}

void CloseLine()
{
    StopExchangeThread(std::chrono::seconds(10));
    ClosePort();
    ResetCoreState();
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

// Time-setting frames one after another, each on its own second boundary.
void TimeSetError(int speed, uint8_t addr, int frames)
{
    Line l = OpenLine(speed);
    const std::string name = std::string(addr == kBroadcast ? "broadcast" : "unicast") + ", " +
                             std::to_string(speed) + " Bd, " + std::to_string(frames) + " frames";
    if (!l.ok) {
        Report("time-set error, " + name + ": NO LINE", 1e9, "ms", 1);
        return;
    }
    for (int i = 0; i < frames; ++i) {
        Sinkhr_date(addr);
        if (!l.sim->WaitForFrames(kCmdSetTime, static_cast<size_t>(i) + 1, 5000)) {
            std::fprintf(stderr, "frame %d never arrived\n", i + 1);
            break;
        }
    }
    // The last reply taken off the line before the next run.
    l.sim->WaitForReplies(static_cast<size_t>(frames), 5000);
    const std::vector<double> errors = l.sim->TimeErrorsMs();
    CloseLine();
    std::vector<double> mag;
    for (double e : errors)
        mag.push_back(std::fabs(e));
    const std::vector<double> signed_errors = errors;
    Report("time-set error, " + name + ": median |error|", Percentile(mag, 50), "ms", 1);
    Report("time-set error, " + name + ": 99th percentile |error|", Percentile(mag, 99), "ms", 2);
    std::printf("    (%zu errors; signed median %.3f ms, largest |error| %.3f ms)\n", errors.size(),
                Percentile(signed_errors, 50), Percentile(mag, 100));
    if (errors.size() != static_cast<size_t>(frames))
        Report("time-set error, " + name + ": frames missing", 1, "", 0);
}

// The windows program's side of the hand-overs: a window thread that runs
// what the exchange thread hands it (the display update of a status block, a
// message) and takes as long as a repaint for each, while the exchange
// thread waits, as Synchronize does.
class SlowWindowHost : public Host {
public:
    explicit SlowWindowHost(std::chrono::milliseconds repaint)
        : repaint_(repaint), thread_([this] { Run(); })
    {
    }
    ~SlowWindowHost() override
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void Synchronize(const std::function<void()>& fn) override
    {
        std::unique_lock<std::mutex> hold(lock_);
        const uint64_t mine = ++posted_;
        calls_.push_back(fn);
        wake_.notify_all();
        done_.wait(hold, [&] { return finished_ >= mine || stop_; });
    }
    void ShowMessage(const std::string&) override {}
    bool ShowWarning(const std::string&) override { return false; }
    uint64_t Calls() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return finished_;
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [&] { return stop_ || !calls_.empty(); });
            if (stop_)
                return;
            std::function<void()> fn = std::move(calls_.front());
            calls_.pop_front();
            hold.unlock();
            std::this_thread::sleep_for(repaint_);
            fn();
            hold.lock();
            ++finished_;
            done_.notify_all();
        }
    }

    std::chrono::milliseconds repaint_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::function<void()>> calls_; // guarded by lock_
    uint64_t posted_ = 0;                     // guarded by lock_
    uint64_t finished_ = 0;                   // guarded by lock_
    bool stop_ = false;                       // guarded by lock_
    std::thread thread_;
};

// On-demand synchronisations of a clock while a master beside it streams a
// status block every 0.3 s and a text block every 0.9 s, with the windows
// program's hand-overs in the loop (display updates that take a repaint's
// time, the sent-data log listening).
void TimeSetBesideMaster(int speed, int syncs)
{
    ResetCoreState();
    sim::Options o;
    o.name = "timing_bench_master";
    o.publish_link = false;
    o.speed = speed;
    o.turnaround_ms = kTurnaroundMs;
    o.clocks = {1, 3};
    o.master = 3;
    o.status_interval_ms = 300;
    o.text_interval_ms = 900;
    o.seed = 1;
    sim::Simulator simulator(o);
    std::string error;
    const std::string name = "time-set error beside a streaming master, windows hand-overs, " +
                             std::to_string(speed) + " Bd, " + std::to_string(syncs) + " syncs";
    if (!simulator.Start(&error)) {
        Report(name + ": NO LINE", 1e9, "ms", 1);
        return;
    }
    SlowWindowHost host(std::chrono::milliseconds(16));
    SetHost(&host);
    std::mutex log_lock;
    std::deque<std::string> log; // as the sent-data log keeps it
    const int listener = AddFrameObserver([&](const FrameEvent& e) {
        std::string line = FormatFrameLine(e);
        std::lock_guard<std::mutex> hold(log_lock);
        log.push_back(std::move(line));
        if (log.size() > 5000)
            log.pop_front();
    });
    platform::SerialPtr port = OpenPort(simulator.DevicePath(), speed);
    if (!port) {
        RemoveFrameObserver(listener);
        SetHost(nullptr);
        Report(name + ": Error opening port", 1e9, "ms", 1);
        return;
    }
    PortHandle.Set(port);
    StartExchangeThread();
    // The operator's choices come at any moment against the master's blocks.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pause_ms(1100, 1900);
    for (int i = 0; i < syncs; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(rng)));
        Sinkhr_date(1);
        if (!simulator.WaitForFrames(kCmdSetTime, static_cast<size_t>(i) + 1, 5000)) {
            std::fprintf(stderr, "frame %d never arrived\n", i + 1);
            break;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<double> errors = simulator.TimeErrorsMs();
    const size_t blocks = simulator.StatusBlocksSent();
    const uint64_t handed = host.Calls();
    StopExchangeThread(std::chrono::seconds(10));
    ClosePort();
    RemoveFrameObserver(listener);
    SetHost(nullptr);
    ResetCoreState();
    std::vector<double> mag;
    for (double e : errors)
        mag.push_back(std::fabs(e));
    std::sort(mag.begin(), mag.end());
    std::printf("    (%zu errors, |error| ms:", errors.size());
    for (double e : errors)
        std::printf(" %.3f", e);
    std::printf("; %zu status blocks, %llu hand-overs)\n", blocks,
                static_cast<unsigned long long>(handed));
    Report(name + ": median |error|", Percentile(mag, 50), "ms", 1);
    Report(name + ": all but one |error|", mag.size() >= 2 ? mag[mag.size() - 2] : 1e9, "ms", 3);
    if (errors.size() != static_cast<size_t>(syncs))
        Report(name + ": frames missing", 1, "", 0);
}

// The read-all batch against what its bytes and the clock's turnaround need:
// 9 bytes out, 9 back (the waking byte and the 8-byte reply), 10 bits a byte.
void Batch(int speed, double goal, int batches)
{
    Line l = OpenLine(speed);
    const std::string name = "71-register read batch, " + std::to_string(speed) + " Bd";
    if (!l.ok) {
        Report(name + ": NO LINE", 1e9, "x", goal);
        return;
    }
    const auto& regs = ReadBatchRegisters();
    size_t replies = 0;
    std::vector<double> ratios;
    const double need_s =
        static_cast<double>(regs.size()) * (18.0 * 10 / speed + kTurnaroundMs / 1000.0);
    for (int b = 0; b < batches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (uint8_t r : regs)
            PutRequest(StandardRequest(1, kCmdReadRegister, r, 0));
        replies += regs.size();
        if (!l.sim->WaitForReplies(replies, 120000)) {
            std::fprintf(stderr, "replies missing\n");
            break;
        }
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        ratios.push_back(wall.count() / need_s);
    }
    const double resent =
        static_cast<double>(l.sim->FramesReceived(kCmdReadRegister)) - static_cast<double>(replies);
    CloseLine();
    std::printf("    (%d batches, wire plus turnaround %.1f ms a batch, ratios", batches,
                need_s * 1000);
    for (double r : ratios)
        std::printf(" %.3f", r);
    std::printf("; %.0f resent)\n", resent);
    Report(name + ": time against wire plus turnaround (median)", Percentile(ratios, 50), "x",
           goal);
}

double ThreadCpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A pseudo-terminal nobody writes to: a line with no clock on it.
void Idle(int seconds)
{
    ResetCoreState();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        Report("idle exchange thread: NO PSEUDO-TERMINAL", 1e9, "%", 0.12);
        return;
    }
    platform::SerialPtr port = OpenPort(ptsname(master), 9600);
    if (!port) {
        close(master);
        Report("idle exchange thread: Error opening port", 1e9, "%", 0.12);
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
    const double before = ThreadCpuSeconds(cpu_clock.load());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = ThreadCpuSeconds(cpu_clock.load()) - before;
    StopExchangeThread(std::chrono::seconds(5));
    ClosePort();
    ResetCoreState();
    close(master);
    std::printf("    (%.1f ms of processor time in %d s)\n", cpu * 1000, seconds);
    Report("idle exchange thread, processor time over " + std::to_string(seconds) + " s",
           100 * cpu / seconds, "%", 0.12);
}

} // namespace
} // namespace chronavel

int main(int argc, char** argv)
{
    using namespace chronavel;
    int frames = 200;
    int idle_seconds = 30;
    int master_syncs = 15;
    bool time = true, batch = true, idle = true, master = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc)
            frames = std::max(1, std::atoi(argv[++i]));
        else if (a == "--idle-seconds" && i + 1 < argc)
            idle_seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--skip-time")
            time = false;
        else if (a == "--skip-batch")
            batch = false;
        else if (a == "--skip-idle")
            idle = false;
        else if (a == "--skip-master")
            master = false;
        else if (a == "--master-syncs" && i + 1 < argc)
            master_syncs = std::max(2, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: %s [--frames N] [--idle-seconds S] [--skip-time] "
                         "[--skip-batch] [--skip-idle] [--skip-master] [--master-syncs N]\n",
                         argv[0]);
            return 2;
        }
    }
    if (batch) {
        Batch(9600, 1.15, 3);
        Batch(115200, 1.5, 3);
    }
    if (time) {
        for (int speed : {9600, 115200})
            for (uint8_t addr : {uint8_t{1}, kBroadcast})
                TimeSetError(speed, addr, frames);
    }
    if (master)
        TimeSetBesideMaster(9600, master_syncs);
    if (idle)
        Idle(idle_seconds);
    std::printf("%s\n", all_met ? "all goals met" : "GOALS MISSED");
    return all_met ? 0 : 1;
}

// chronavel-sim: clocks on a pseudo-terminal for trying the program and for
// its tests, published as a port in the virtual-port directory.
#include "config/register_values.h"
#include "config/settings_file.h"
#include "sim/number.h"
#include "sim/sim.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

namespace {

std::atomic<int> g_stop_signal{0};
std::atomic<bool> g_status_request{false};

extern "C" void OnStop(int sig)
{
    g_stop_signal = sig;
}

extern "C" void OnStatus(int)
{
    g_status_request = true;
}

void Install(int sig, void (*handler)(int))
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

// The addresses listed in the silence file (decimal or 0x-hex, separated by
// blanks or lines); anything else in it is ignored. None when it is absent.
std::set<int> ReadSilenceFile(const std::string& path)
{
    std::set<int> out;
    std::ifstream in(path);
    for (std::string word; in >> word;)
        if (const auto a = chronavel::sim::ParseNumber(word); a && *a <= 254)
            out.insert(*a);
    return out;
}

// "ADDR:REST" with ADDR decimal or 0x-hex, 0..254.
bool SplitAddr(const std::string& item, int& addr, std::string& rest)
{
    const size_t colon = item.find(':');
    if (colon == std::string::npos)
        return false;
    const auto a = chronavel::sim::ParseNumber(item.substr(0, colon));
    if (!a || *a > 254)
        return false;
    addr = *a;
    rest = item.substr(colon + 1);
    return !rest.empty();
}

} // namespace

int main(int argc, char** argv)
{
    using chronavel::sim::Options;
    Options opt;
    std::vector<int> clocks;
    std::vector<int> silent_clocks;
    int master = -1;
    std::string broadcast = "lowest";
    bool status = false;
    std::string silence_file;
    chronavel::sim::Faults& f = opt.faults;

    CLI::App app{"Simulated clocks on a pseudo-terminal, published as a serial port."};
    app.set_version_flag("--version", std::string("chronavel-sim ") + CHRONAVEL_VERSION,
                         "print the version and exit");
    app.add_option("--name", opt.name, "port name in the virtual-port directory")
        ->capture_default_str();
    app.add_option("--speed", opt.speed, "line speed, bit/s (10 bits a byte)")
        ->capture_default_str()
        ->check(CLI::Range(50, 4000000));
    app.add_option("--turnaround", opt.turnaround_ms, "ms from a frame's end to the reply")
        ->capture_default_str()
        ->check(CLI::Range(0, 10000));
    // Read as decimal or 0x-hex before CLI11 converts it (it takes "010" for
    // eight).
    const auto number = [](std::string text) {
        const auto n = chronavel::sim::ParseNumber(text);
        return n ? std::to_string(*n) : text;
    };
    app.add_option("--clock", clocks, "a clock at this address, 0..254 (repeatable; default 1)")
        ->transform(number)
        ->check(CLI::Range(0, 254));
    app.add_option("--master", master, "this clock starts as master (sends status blocks)")
        ->transform(number)
        ->check(CLI::Range(0, 254));
    app.add_option("--broadcast-answer", broadcast,
                   "who answers a frame to 0xFF: lowest = the lowest address answers and the "
                   "others act silently; all = every clock answers in turn; none = all act, none "
                   "answers")
        ->capture_default_str()
        ->check(CLI::IsMember({"lowest", "all", "none"}));
    app.add_option("--seed", opt.seed, "seed for every random choice (0 = pick one; printed)");
    app.add_option("--log", opt.log_path, "write one JSON line per frame and time-set error");
    app.add_flag("--status", status, "print a JSON summary on exit and on SIGUSR1");
    app.add_option("--drift-ppm", opt.drift_ppm, "how fast the clocks run against the host");
    app.add_option("--status-interval", opt.status_interval_ms, "master's status block period, ms")
        ->capture_default_str()
        ->check(CLI::Range(10, 3600000));
    app.add_option("--text-interval", opt.text_interval_ms, "master's text block period, ms")
        ->capture_default_str()
        ->check(CLI::Range(10, 3600000));
    app.add_flag("--strict-speed", opt.strict_speed,
                 "frames sent at another speed than --speed are heard as garbage");
    app.add_flag("--echo", opt.echo,
                 "the line hands every byte the program sends back to it (an echoing adapter)");
    app.add_option("--echo-delay", opt.echo_delay_ms,
                   "with --echo: the echo comes back this many ms after the byte was sent")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--babble", opt.babble,
                 "something on the line sends random bytes with no valid header, without end");
    app.add_flag("--silent", f.silent, "fault: the clocks act but never answer");
    app.add_option("--silent-clock", silent_clocks, "fault: this clock acts but never answers")
        ->check(CLI::Range(0, 254));
    app.add_option("--silence-file", silence_file,
                   "the clocks listed in this file (addresses, blank-separated) act but never "
                   "answer while they are listed; the file is read again every 100 ms");
    std::vector<std::string> register_files;
    std::vector<std::string> silent_registers;
    app.add_option("--registers", register_files,
                   "ADDR:FILE: the settings of clock ADDR, as `chronavelctl read-all --json` "
                   "prints them or as register=value lines (repeatable; its address stays)");
    app.add_option("--silent-register", silent_registers,
                   "ADDR:REG: clock ADDR leaves reads of register REG unanswered (repeatable)");
    app.add_option("--drop-every", f.drop_every_nth, "fault: leave out every Nth reply")
        ->check(CLI::Range(0, 1000000));
    app.add_option("--drop-fraction", f.drop_fraction, "fault: leave out this fraction of replies")
        ->check(CLI::Range(0.0, 1.0));
    app.add_flag("--corrupt-check", f.corrupt_check, "fault: replies carry a wrong check byte");
    app.add_option("--noise", f.noise_bytes, "fault: this many random bytes before each reply")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--stray-e0", f.stray_e0, "fault: a lone 0xE0 before each reply");
    app.add_option("--slow-gap", f.slow_gap_ms, "fault: ms between the bytes of a reply")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--wrong-addr", f.wrong_addr, "fault: replies carry another address");
    app.add_flag("--wrong-cmd", f.wrong_cmd, "fault: replies carry another command");
    app.add_flag("--bad-data-check", f.bad_data_check, "fault: data blocks carry a wrong check");
    app.add_option("--late", f.late_ms, "fault: extra ms before each reply")
        ->check(CLI::Range(0, 600000));
    CLI11_PARSE(app, argc, argv);

    opt.clocks.clear();
    for (int c : clocks)
        opt.clocks.push_back(static_cast<uint8_t>(c));
    if (master >= 0)
        opt.master = static_cast<uint8_t>(master);
    if (opt.clocks.empty())
        opt.clocks.push_back(opt.master.value_or(1));
    opt.broadcast_answer = *chronavel::sim::ParseBroadcastAnswer(broadcast);

    Install(SIGINT, OnStop);
    Install(SIGTERM, OnStop);
    Install(SIGHUP, OnStop);
    Install(SIGUSR1, OnStatus);

    chronavel::sim::Simulator sim(opt);
    for (int c : silent_clocks) {
        chronavel::sim::Faults quiet = opt.faults;
        quiet.silent = true;
        sim.SetFaults(static_cast<uint8_t>(c), quiet);
    }
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "chronavel-sim: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& item : register_files) {
        int addr = 0;
        std::string path;
        chronavel::RegisterValues values;
        error.clear();
        if (!SplitAddr(item, addr, path) ||
            !(error = chronavel::LoadSettingsFile(path, values, "not a JSON object")).empty()) {
            std::fprintf(stderr, "chronavel-sim: --registers %s: %s\n", item.c_str(),
                         error.empty() ? "ADDR:FILE expected" : error.c_str());
            return 2;
        }
        for (uint8_t reg : values.Known()) {
            uint8_t v = values.At(reg);
            // A master stays a master whatever the file says.
            if (reg == 0x4D && opt.master && *opt.master == addr)
                v |= 0x80;
            sim.SetRegister(static_cast<uint8_t>(addr), reg, v);
        }
    }
    for (const std::string& item : silent_registers) {
        int addr = 0;
        std::string reg_text;
        chronavel::RegisterValues reg;
        if (!SplitAddr(item, addr, reg_text) ||
            !chronavel::SetRegisterLine(reg, reg_text + "=0").empty()) {
            std::fprintf(stderr, "chronavel-sim: --silent-register %s: ADDR:REG expected\n",
                         item.c_str());
            return 2;
        }
        sim.SetSilentRegister(static_cast<uint8_t>(addr), reg.Known().front(), true);
    }
    std::printf("link %s\ndevice %s\nseed %llu\n", sim.LinkPath().c_str(), sim.DevicePath().c_str(),
                static_cast<unsigned long long>(sim.Seed()));
    std::fflush(stdout);

    // Silencing and reviving clocks while the line runs: each clock's faults
    // are those it started with, plus silent while the file lists it.
    std::set<int> silenced;
    int silence_tick = 0;
    while (g_stop_signal == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!silence_file.empty() && ++silence_tick % 2 == 0) {
            const std::set<int> now = ReadSilenceFile(silence_file);
            if (now != silenced) {
                for (uint8_t c : opt.clocks) {
                    chronavel::sim::Faults clock_faults = opt.faults;
                    for (int q : silent_clocks)
                        clock_faults.silent = clock_faults.silent || q == c;
                    clock_faults.silent = clock_faults.silent || now.contains(c);
                    sim.SetFaults(c, clock_faults);
                }
                silenced = now;
            }
        }
        if (g_status_request.exchange(false)) {
            std::printf("%s\n", sim.StatusJson().c_str());
            std::fflush(stdout);
        }
    }
    sim.Stop();
    if (status)
        std::printf("%s\n", sim.StatusJson().c_str());
    return 0;
}

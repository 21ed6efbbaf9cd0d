#include "link/frames.h"
#include "sim/clock.h"
#include "sim/event_log.h"
#include "sim/frame_parser.h"
#include "sim/local_time.h"
#include "sim/pty_line.h"
#include "sim/sim.h"
#include "sim/stats.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>

namespace chronavel::sim {

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// A clock's receiver forgets a partial frame after this much silence.
constexpr auto kRxGapReset = milliseconds(200);

struct Transmission {
    std::vector<uint8_t> bytes;
    std::vector<Steady::time_point> due; // when each byte is fully on the line
    bool is_reply = false;               // an answer (not a master's block)
    uint8_t cmd = 0;
};

struct Slot {
    explicit Slot(Clock c) : clock(std::move(c)) {}
    Clock clock;
    std::optional<Faults> faults;
    size_t answers = 0; // for drop_every_nth
    Steady::time_point next_status{};
    Steady::time_point next_text{};
};

uint8_t WrongCommand(uint8_t cmd)
{
    // Keep whether a data block follows, so only the command is wrong.
    uint8_t w = static_cast<uint8_t>(cmd + 1);
    while (HasDataBlock(w) != HasDataBlock(cmd))
        w = static_cast<uint8_t>(w + 1);
    return w;
}

} // namespace

struct Simulator::Impl {
    explicit Impl(Options o) : opt(std::move(o)) {}

    Options opt;
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    std::thread thread;
    bool running = false;
    bool stop = false;
    int wake[2] = {-1, -1};

    // Line commands run on the line thread, which owns the descriptors.
    enum class LineCmd { kNone, kClose, kReopen };
    LineCmd line_cmd = LineCmd::kNone;
    bool line_ok = false;
    std::string line_error;

    PtyLine line;
    std::string device_seen; // the last line's paths, for the summary after Stop
    std::string link_seen;
    FrameParser parser;
    std::vector<Slot> slots;
    std::map<uint8_t, Faults> early_faults; // set before Start made the clocks
    Faults line_faults;
    std::mt19937_64 rng;
    uint64_t seed = 0;
    EventLog log;

    Steady::duration byte_time{};
    Steady::time_point rx_free{};
    Steady::time_point last_rx{};
    Steady::time_point tx_free{};
    std::deque<Transmission> txq;
    size_t tx_pos = 0;
    // The program's own bytes coming back (echo), each when it is heard.
    std::deque<std::pair<uint8_t, Steady::time_point>> echo_q;
    Steady::time_point next_babble{};
    size_t babble_bytes = 0;
    Steady::time_point next_drift{};

    std::array<size_t, 256> frames{};
    std::array<size_t, 256> replies_by_cmd{};
    size_t frames_total = 0;
    size_t bad_frames = 0;
    size_t replies = 0;
    size_t replies_dropped = 0;
    size_t status_blocks = 0;
    size_t text_blocks = 0;
    size_t time_rejected = 0;
    size_t garbled_bytes = 0; // heard at a wrong speed
    bool speed_noted = false;
    size_t dow_mismatches = 0;
    std::vector<double> time_errors;

    // --- helpers (all called with mu held) ---

    Slot* Find(uint8_t addr)
    {
        for (auto& s : slots)
            if (s.clock.Addr() == addr)
                return &s;
        return nullptr;
    }
    const Slot* Find(uint8_t addr) const { return const_cast<Impl*>(this)->Find(addr); }

    const Faults& FaultsOf(const Slot& s) const { return s.faults ? *s.faults : line_faults; }

    void Wake() const
    {
        if (wake[1] >= 0) {
            const char c = 1;
            [[maybe_unused]] ssize_t n = write(wake[1], &c, 1);
        }
    }

    std::vector<uint8_t> Encode(const TxFrame& f, const Faults& fl)
    {
        std::vector<uint8_t> b;
        std::uniform_int_distribution<int> any(0, 255);
        for (int i = 0; i < fl.noise_bytes; ++i) {
            uint8_t x = static_cast<uint8_t>(any(rng));
            b.push_back(x == kSync ? 0x55 : x);
        }
        if (fl.stray_e0)
            b.push_back(kSync);
        b.push_back(0xFF); // the byte that wakes the receiver
        const size_t head = b.size();
        const uint8_t addr = fl.wrong_addr ? static_cast<uint8_t>(f.addr + 1) : f.addr;
        const uint8_t cmd = fl.wrong_cmd ? WrongCommand(f.cmd) : f.cmd;
        const uint8_t p2 = HasDataBlock(cmd) ? static_cast<uint8_t>(f.data.size()) : f.p2;
        b.insert(b.end(), {kSync, addr, f.addr2, cmd, f.p1, p2, 0, 0});
        const uint16_t sum = SumBytes(b.data() + head, 6);
        b[head + 6] = CheckByte1(sum);
        b[head + 7] = static_cast<uint8_t>(CheckByte2(sum) ^ (fl.corrupt_check ? 0xFF : 0x00));
        if (HasDataBlock(cmd)) {
            b.insert(b.end(), f.data.begin(), f.data.end());
            const uint8_t check = static_cast<uint8_t>(SumBytes(f.data.data(), f.data.size()));
            b.push_back(static_cast<uint8_t>(check ^ (fl.bad_data_check ? 0xFF : 0x00)));
        }
        return b;
    }

    // Queues a frame from a clock for the line, no earlier than `earliest`.
    void Send(const TxFrame& f, const Faults& fl, Steady::time_point earliest, bool is_reply)
    {
        Transmission t;
        t.bytes = Encode(f, fl);
        t.is_reply = is_reply;
        t.cmd = f.cmd;
        auto at = std::max(earliest + milliseconds(fl.late_ms), tx_free);
        const auto start = at;
        for (size_t i = 0; i < t.bytes.size(); ++i) {
            if (i > 0)
                at += milliseconds(fl.slow_gap_ms);
            at += byte_time;
            t.due.push_back(at);
        }
        tx_free = at;
        LoggedFrame lf;
        lf.local_us = LocalUsAt(start);
        lf.dir = "tx";
        lf.addr = f.addr;
        lf.addr2 = f.addr2;
        lf.cmd = f.cmd;
        lf.p1 = f.p1;
        lf.p2 = HasDataBlock(f.cmd) ? static_cast<uint8_t>(f.data.size()) : f.p2;
        lf.has_data = HasDataBlock(f.cmd);
        lf.data = f.data;
        lf.check_ok = !fl.corrupt_check && !(lf.has_data && fl.bad_data_check);
        if (fl.wrong_addr || fl.wrong_cmd || fl.noise_bytes || fl.stray_e0 || fl.slow_gap_ms ||
            fl.late_ms || fl.corrupt_check || fl.bad_data_check)
            lf.note = "faults applied";
        log.Frame(lf);
        txq.push_back(std::move(t));
    }

    void Answer(Slot& s, const TxFrame& reply, Steady::time_point arrival)
    {
        const Faults& fl = FaultsOf(s);
        if (fl.silent)
            return;
        ++s.answers;
        bool drop =
            fl.drop_every_nth > 0 && s.answers % static_cast<size_t>(fl.drop_every_nth) == 0;
        if (fl.drop_fraction > 0) {
            std::uniform_real_distribution<double> u(0.0, 1.0);
            drop = drop || u(rng) < fl.drop_fraction;
        }
        if (drop) {
            ++replies_dropped;
            LoggedFrame lf;
            lf.local_us = LocalUsAt(arrival);
            lf.dir = "tx";
            lf.addr = reply.addr;
            lf.cmd = reply.cmd;
            lf.p1 = reply.p1;
            lf.p2 = reply.p2;
            lf.note = "dropped";
            log.Frame(lf);
            return;
        }
        Send(reply, fl, arrival + milliseconds(opt.turnaround_ms), true);
    }

    void OnFrame(const RxFrame& f, Steady::time_point arrival)
    {
        const int64_t arrival_us = LocalUsAt(arrival);
        LoggedFrame lf;
        lf.local_us = arrival_us;
        lf.addr = f.addr;
        lf.cmd = f.cmd;
        lf.p1 = f.p1;
        lf.p2 = f.p2;
        lf.has_data = f.has_data;
        lf.data = f.data;
        lf.check_ok = f.check_ok;
        if (!f.check_ok) {
            ++bad_frames;
            log.Frame(lf);
            cv.notify_all();
            return;
        }
        ++frames_total;
        ++frames[f.cmd];

        std::vector<Slot*> targets;
        for (auto& s : slots)
            if (f.addr == kBroadcast || s.clock.Addr() == f.addr)
                targets.push_back(&s);
        std::sort(targets.begin(), targets.end(),
                  [](Slot* a, Slot* b) { return a->clock.Addr() < b->clock.Addr(); });
        if (targets.empty())
            lf.note = "no clock at this address";

        const int64_t host_ms = arrival_us / 1000;
        bool time_recorded = false;
        bool first = true;
        std::vector<std::pair<Slot*, TxFrame>> answers;
        for (Slot* s : targets) {
            Action a = s->clock.Handle(f, host_ms);
            if (a.time_rejected) {
                ++time_rejected;
                lf.note = "time refused: bad length or field";
            }
            if (a.day_of_week_mismatch && !time_recorded)
                ++dow_mismatches;
            if (a.time_set && !time_recorded) {
                time_recorded = true;
                const double err =
                    static_cast<double>(a.carried_ms) - static_cast<double>(arrival_us) / 1000.0;
                time_errors.push_back(err);
                log.TimeSet(arrival_us, f.addr, FormatLocal(a.carried_ms * 1000), err);
            }
            if (a.new_addr && *a.new_addr != s->clock.Addr()) {
                // Two clocks on one address, or a clock on the broadcast
                // address, would make the line useless: refuse the move.
                if (*a.new_addr == kBroadcast || Find(*a.new_addr))
                    s->clock.SetReg(kRegClockAddr, s->clock.Addr());
                else
                    s->clock.SetAddr(*a.new_addr);
            }
            if (a.became_master) {
                s->next_text = arrival;
                s->next_status = arrival;
            }
            const bool answers_broadcast =
                opt.broadcast_answer == BroadcastAnswer::kAll ||
                (opt.broadcast_answer == BroadcastAnswer::kLowest && first);
            if (a.reply && (f.addr != kBroadcast || answers_broadcast))
                answers.emplace_back(s, *a.reply);
            first = false;
        }
        log.Frame(lf);
        for (auto& [slot, reply] : answers)
            Answer(*slot, reply, arrival);
        cv.notify_all();
    }

    void OnBytes(const uint8_t* buf, size_t n, Steady::time_point now)
    {
        if (opt.strict_speed) {
            const int heard = line.ProgramSpeed();
            if (heard != opt.speed) {
                garbled_bytes += n;
                if (!speed_noted) {
                    log.Note(LocalUsAt(now), "speed_mismatch",
                             "program side at " + std::to_string(heard) + " bit/s");
                    speed_noted = true;
                }
                parser.Reset();
                return;
            }
        }
        if (!parser.Idle() && now - last_rx > kRxGapReset)
            parser.Reset();
        std::vector<RxFrame> out;
        for (size_t i = 0; i < n; ++i) {
            rx_free = std::max(rx_free, now) + byte_time;
            if (opt.echo)
                echo_q.emplace_back(buf[i], rx_free + milliseconds(opt.echo_delay_ms));
            out.clear();
            parser.Feed(buf[i], out);
            for (const auto& f : out)
                OnFrame(f, rx_free);
        }
        last_rx = rx_free;
    }

    void MasterTicks(Steady::time_point now)
    {
        if (now >= next_drift) {
            for (auto& s : slots)
                s.clock.DriftReadings();
            next_drift = now + std::chrono::seconds(1);
        }
        for (auto& s : slots) {
            if (!s.clock.IsMaster() || FaultsOf(s).silent)
                continue;
            if (now >= s.next_text) {
                Send(TxFrame{s.clock.Addr(), 0, kReplyText, 0, 0, s.clock.TextBlock()}, FaultsOf(s),
                     now, false);
                s.next_text = now + milliseconds(opt.text_interval_ms);
            }
            if (now >= s.next_status) {
                Send(TxFrame{s.clock.Addr(), 0, kReplyStatus, 0, 0,
                             s.clock.StatusBlock(LocalMsAt(now))},
                     FaultsOf(s), now, false);
                s.next_status = now + milliseconds(opt.status_interval_ms);
            }
        }
    }

    void PumpEchoAndBabble(Steady::time_point now)
    {
        std::vector<uint8_t> out;
        while (!echo_q.empty() && echo_q.front().second <= now) {
            out.push_back(echo_q.front().first);
            echo_q.pop_front();
        }
        if (opt.babble) {
            // A stall of the line thread does not turn into a burst longer
            // than the pty takes.
            if (next_babble + milliseconds(100) < now)
                next_babble = now - milliseconds(100);
            std::uniform_int_distribution<int> any(0, 255);
            while (next_babble <= now) {
                const uint8_t x = static_cast<uint8_t>(any(rng));
                out.push_back(x == kSync ? 0x55 : x);
                next_babble += byte_time;
                ++babble_bytes;
            }
        }
        if (!out.empty() && line.IsOpen()) {
            [[maybe_unused]] ssize_t w = write(line.MasterFd(), out.data(), out.size());
        }
    }

    void PumpOutput(Steady::time_point now)
    {
        PumpEchoAndBabble(now);
        while (!txq.empty()) {
            Transmission& t = txq.front();
            size_t end = tx_pos;
            while (end < t.bytes.size() && t.due[end] <= now)
                ++end;
            if (end > tx_pos && line.IsOpen()) {
                // A full buffer (nobody reading) loses bytes, as a line would.
                [[maybe_unused]] ssize_t w =
                    write(line.MasterFd(), t.bytes.data() + tx_pos, end - tx_pos);
            }
            tx_pos = end;
            if (tx_pos < t.bytes.size())
                return;
            if (t.is_reply) {
                ++replies;
                ++replies_by_cmd[t.cmd];
            } else if (t.cmd == kReplyStatus) {
                ++status_blocks;
            } else if (t.cmd == kReplyText) {
                ++text_blocks;
            }
            txq.pop_front();
            tx_pos = 0;
            cv.notify_all();
        }
    }

    Steady::time_point NextDeadline(Steady::time_point now) const
    {
        auto next = now + milliseconds(100);
        if (!txq.empty())
            next = std::min(next, std::max(txq.front().due[tx_pos], now + microseconds(500)));
        if (!echo_q.empty())
            next = std::min(next, std::max(echo_q.front().second, now + microseconds(500)));
        if (opt.babble)
            next = std::min(next, std::max(next_babble, now + milliseconds(2)));
        for (const auto& s : slots)
            if (s.clock.IsMaster())
                next = std::min(next, std::max(std::min(s.next_status, s.next_text), now));
        return next;
    }

    void RunLineCommand()
    {
        if (line_cmd == LineCmd::kNone)
            return;
        const std::string name = opt.publish_link ? opt.name : std::string();
        line.Close();
        txq.clear();
        tx_pos = 0;
        echo_q.clear();
        parser.Reset();
        if (line_cmd == LineCmd::kReopen) {
            line_ok = line.Open(name, &line_error);
            device_seen = line.Device();
            link_seen = line.Link();
        } else
            line_ok = true;
        log.Note(LocalUsAt(Steady::now()),
                 line_cmd == LineCmd::kReopen ? "line_reopened" : "line_closed", line.Device());
        line_cmd = LineCmd::kNone;
        cv.notify_all();
    }

    void Loop()
    {
        std::unique_lock lk(mu);
        uint8_t buf[4096];
        while (!stop) {
            RunLineCommand();
            auto now = Steady::now();
            MasterTicks(now);
            PumpOutput(now);
            const auto wait = NextDeadline(now) - now;
            const int fd = line.MasterFd();
            lk.unlock();
            pollfd fds[2] = {{wake[0], POLLIN, 0}, {fd, POLLIN, 0}};
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            ppoll(fds, fd >= 0 ? 2 : 1, &ts, nullptr);
            // Stamped before the lock, which a waiting test may hold for a
            // moment: the arrival time is what the time-set error measures.
            const auto woke = Steady::now();
            lk.lock();
            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (read(wake[0], drain, sizeof drain) > 0) {
                }
            }
            if (fd >= 0 && fd == line.MasterFd() && fds[1].revents) {
                auto t = woke;
                ssize_t n;
                bool any = false;
                while ((n = read(fd, buf, sizeof buf)) > 0) {
                    OnBytes(buf, static_cast<size_t>(n), t);
                    t = Steady::now(); // later reads hold later bytes
                    any = true;
                }
                if (!any && (fds[1].revents & (POLLHUP | POLLERR))) {
                    // Not expected while the line holds its own slave open;
                    // keep a hang-up from turning this loop into a spin.
                    lk.unlock();
                    std::this_thread::sleep_for(milliseconds(10));
                    lk.lock();
                }
            }
        }
    }

    bool LineCommand(LineCmd c, std::string* error)
    {
        std::unique_lock lk(mu);
        if (!running) {
            line_cmd = c;
            RunLineCommand();
        } else {
            line_cmd = c;
            Wake();
            cv.wait(lk, [&] { return line_cmd == LineCmd::kNone; });
        }
        if (!line_ok && error)
            *error = line_error;
        return line_ok;
    }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator()
{
    Stop();
}

bool Simulator::Start(std::string* error)
{
    std::string dummy;
    if (!error)
        error = &dummy;
    Impl& m = *impl_;
    std::unique_lock lk(m.mu);
    if (m.running)
        return true;
    const Options& o = m.opt;
    if (o.speed < 50 || o.speed > 4000000) {
        *error = "line speed out of range: " + std::to_string(o.speed);
        return false;
    }
    if (o.turnaround_ms < 0 || o.status_interval_ms < 10 || o.text_interval_ms < 10) {
        *error = "turnaround or block intervals out of range";
        return false;
    }
    if (o.publish_link && (o.name.empty() || o.name.find('/') != std::string::npos ||
                           o.name == "." || o.name == "..")) {
        *error = "bad port name \"" + o.name + "\"";
        return false;
    }
    std::vector<uint8_t> addrs = o.clocks;
    std::sort(addrs.begin(), addrs.end());
    if (std::adjacent_find(addrs.begin(), addrs.end()) != addrs.end()) {
        *error = "two clocks on one address";
        return false;
    }
    if (std::find(addrs.begin(), addrs.end(), kBroadcast) != addrs.end()) {
        *error = "0xFF is the broadcast address; no clock can have it";
        return false;
    }
    if (o.master && std::find(addrs.begin(), addrs.end(), *o.master) == addrs.end()) {
        *error = "the master must be one of the clocks";
        return false;
    }
    m.seed = o.seed ? o.seed
                    : std::random_device{}() * 0x100000001ULL ^
                          static_cast<uint64_t>(Steady::now().time_since_epoch().count());
    if (m.seed == 0)
        m.seed = 1;
    m.rng.seed(m.seed);
    m.line_faults = o.faults;
    m.byte_time =
        std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(10.0 / o.speed));
    if (!o.log_path.empty() && !m.log.IsOpen() && !m.log.Open(o.log_path, error))
        return false;
    const auto now = Steady::now();
    if (m.slots.empty()) {
        const int64_t host_ms = LocalMsAt(now);
        for (uint8_t a : addrs) {
            m.slots.emplace_back(Clock(a, m.seed, o.drift_ppm, host_ms));
            if (auto it = m.early_faults.find(a); it != m.early_faults.end())
                m.slots.back().faults = it->second;
            if (o.master && *o.master == a)
                m.slots.back().clock.SetReg(kRegMasterFlags, kMasterBit);
        }
    }
    if (!m.line.Open(o.publish_link ? o.name : std::string(), error))
        return false;
    m.device_seen = m.line.Device();
    m.link_seen = m.line.Link();
    if (pipe2(m.wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        *error = "cannot create a pipe";
        m.line.Close();
        return false;
    }
    m.stop = false;
    m.running = true;
    m.rx_free = m.last_rx = m.tx_free = now;
    m.next_drift = now + std::chrono::seconds(1);
    for (auto& s : m.slots)
        s.next_status = s.next_text = now;
    m.thread = std::thread([&m] { m.Loop(); });
    return true;
}

void Simulator::Stop()
{
    Impl& m = *impl_;
    std::thread t;
    {
        std::lock_guard lk(m.mu);
        if (!m.running) {
            m.line.Close();
            return;
        }
        m.stop = true;
        m.Wake();
        t = std::move(m.thread);
    }
    t.join();
    std::lock_guard lk(m.mu);
    m.running = false;
    m.line.Close();
    close(m.wake[0]);
    close(m.wake[1]);
    m.wake[0] = m.wake[1] = -1;
    m.cv.notify_all();
}

bool Simulator::Running() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->running;
}

uint64_t Simulator::Seed() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->seed;
}

std::string Simulator::DevicePath() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->line.Device();
}

std::string Simulator::LinkPath() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->line.Link();
}

uint8_t Simulator::Register(uint8_t addr, uint8_t reg) const
{
    std::lock_guard lk(impl_->mu);
    const Slot* s = impl_->Find(addr);
    return s ? s->clock.Reg(reg) : 0;
}

void Simulator::SetRegister(uint8_t addr, uint8_t reg, uint8_t value)
{
    std::lock_guard lk(impl_->mu);
    Slot* s = impl_->Find(addr);
    if (!s || reg == kRegClockAddr)
        return;
    if (s->clock.SetReg(reg, value)) {
        s->next_status = s->next_text = Steady::now();
        impl_->Wake();
    }
}

void Simulator::SetSilentRegister(uint8_t addr, uint8_t reg, bool silent)
{
    std::lock_guard lk(impl_->mu);
    if (Slot* s = impl_->Find(addr))
        s->clock.SetSilentReg(reg, silent);
}

void Simulator::SetDeafRegister(uint8_t addr, uint8_t reg, bool deaf)
{
    std::lock_guard lk(impl_->mu);
    if (Slot* s = impl_->Find(addr))
        s->clock.SetDeafReg(reg, deaf);
}

bool Simulator::IsMaster(uint8_t addr) const
{
    std::lock_guard lk(impl_->mu);
    const Slot* s = impl_->Find(addr);
    return s && s->clock.IsMaster();
}

ClockTime Simulator::Time(uint8_t addr) const
{
    std::lock_guard lk(impl_->mu);
    const Slot* s = impl_->Find(addr);
    const int64_t host = LocalMs(std::chrono::system_clock::now());
    return ToClockTime(s ? s->clock.TimeMs(host) : host);
}

void Simulator::SetFaults(uint8_t addr, const Faults& faults)
{
    std::lock_guard lk(impl_->mu);
    if (addr == kBroadcast) {
        impl_->line_faults = faults;
    } else if (Slot* s = impl_->Find(addr)) {
        s->faults = faults;
    } else if (impl_->slots.empty()) {
        impl_->early_faults[addr] = faults;
    }
}

void Simulator::ClearFaults()
{
    std::lock_guard lk(impl_->mu);
    impl_->line_faults = Faults{};
    impl_->early_faults.clear();
    for (auto& s : impl_->slots)
        s.faults.reset();
}

void Simulator::CloseLine()
{
    impl_->LineCommand(Impl::LineCmd::kClose, nullptr);
}

bool Simulator::ReopenLine(std::string* error)
{
    return impl_->LineCommand(Impl::LineCmd::kReopen, error);
}

size_t Simulator::FramesReceived(uint8_t cmd) const
{
    std::lock_guard lk(impl_->mu);
    return impl_->frames[cmd];
}

size_t Simulator::FramesReceivedTotal() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->frames_total;
}

size_t Simulator::BadFrames() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->bad_frames;
}

size_t Simulator::RepliesSent() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->replies;
}

size_t Simulator::RepliesSent(uint8_t cmd) const
{
    std::lock_guard lk(impl_->mu);
    return impl_->replies_by_cmd[cmd];
}

size_t Simulator::StatusBlocksSent() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->status_blocks;
}

size_t Simulator::TextBlocksSent() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->text_blocks;
}

bool Simulator::WaitForFrames(uint8_t cmd, size_t count, int timeout_ms) const
{
    std::unique_lock lk(impl_->mu);
    return impl_->cv.wait_for(lk, milliseconds(timeout_ms),
                              [&] { return impl_->frames[cmd] >= count; });
}

bool Simulator::WaitForReplies(size_t count, int timeout_ms) const
{
    std::unique_lock lk(impl_->mu);
    return impl_->cv.wait_for(lk, milliseconds(timeout_ms), [&] {
        return impl_->replies >= count &&
               std::none_of(impl_->txq.begin(), impl_->txq.end(),
                            [](const Transmission& t) { return t.is_reply; });
    });
}

std::vector<double> Simulator::TimeErrorsMs() const
{
    std::lock_guard lk(impl_->mu);
    return impl_->time_errors;
}

TimeErrorStats Simulator::TimeErrors() const
{
    std::lock_guard lk(impl_->mu);
    return Summarize(impl_->time_errors);
}

std::vector<uint8_t> Simulator::StatusBlock(uint8_t addr) const
{
    std::lock_guard lk(impl_->mu);
    const Slot* s = impl_->Find(addr);
    return s ? s->clock.StatusBlock(LocalMs(std::chrono::system_clock::now()))
             : std::vector<uint8_t>{};
}

std::vector<uint8_t> Simulator::TextBlock(uint8_t addr) const
{
    std::lock_guard lk(impl_->mu);
    const Slot* s = impl_->Find(addr);
    return s ? s->clock.TextBlock() : std::vector<uint8_t>{};
}

std::string Simulator::StatusJson() const
{
    std::lock_guard lk(impl_->mu);
    const Impl& m = *impl_;
    nlohmann::json j;
    j["seed"] = m.seed;
    j["device"] = m.device_seen;
    j["link"] = m.link_seen;
    nlohmann::json frames = nlohmann::json::object();
    for (int c = 0; c < 256; ++c)
        if (m.frames[c])
            frames[Hex2(static_cast<uint8_t>(c))] = m.frames[c];
    j["frames_received"] = frames;
    j["frames_total"] = m.frames_total;
    j["bad_frames"] = m.bad_frames;
    j["replies_sent"] = m.replies;
    j["replies_dropped"] = m.replies_dropped;
    j["status_blocks_sent"] = m.status_blocks;
    j["text_blocks_sent"] = m.text_blocks;
    j["time_sets_refused"] = m.time_rejected;
    j["garbled_bytes"] = m.garbled_bytes;
    j["day_of_week_mismatches"] = m.dow_mismatches;
    const TimeErrorStats st = Summarize(m.time_errors);
    j["time_set_errors"] = {{"count", st.count},
                            {"median_ms", st.median_ms},
                            {"p99_ms", st.p99_ms},
                            {"max_ms", st.max_ms}};
    nlohmann::json changed = nlohmann::json::object();
    for (const auto& s : m.slots) {
        nlohmann::json regs = nlohmann::json::object();
        for (int r = 0; r < 256; ++r) {
            const auto reg = static_cast<uint8_t>(r);
            if (s.clock.Reg(reg) != s.clock.DefaultReg(reg))
                regs[Hex2(reg)] = Hex2(s.clock.Reg(reg));
        }
        if (!regs.empty())
            changed[std::to_string(s.clock.Addr())] = regs;
    }
    j["registers_changed"] = changed;
    return j.dump();
}

} // namespace chronavel::sim

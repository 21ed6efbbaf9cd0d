// Virtual clock line: clocks on a pseudo-terminal, answering the program's
// frames as real clocks would, with the wire's timing and faults on demand.
// Used in-process by tests and benchmarks, and by the chronavel-sim program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::sim {

// Misbehaviour of the line or of one clock. Everything random is drawn from
// the simulator's seeded generator, so a run can be replayed.
struct Faults {
    bool silent = false;         // the clock acts on frames but never answers
    int drop_every_nth = 0;      // leave out every Nth reply (0 = never)
    double drop_fraction = 0.0;  // leave out this fraction of replies, at random
    bool corrupt_check = false;  // replies carry a wrong second check byte
    int noise_bytes = 0;         // random bytes (no 0xE0) sent before each reply
    bool stray_e0 = false;       // a lone 0xE0 sent before each reply
    int slow_gap_ms = 0;         // pause between the bytes of a reply
    bool wrong_addr = false;     // replies carry the clock's address + 1
    bool wrong_cmd = false;      // replies carry the next command with the same data-block rule
    bool bad_data_check = false; // data blocks carry a wrong check byte
    int late_ms = 0;             // extra delay before each reply
};

enum class BroadcastAnswer {
    kLowest, // the lowest address answers, the others act silently
    kAll,    // every clock answers, one after another
    kNone,   // all act, none answers
};

struct Options {
    std::string name = "sim0"; // symlink name in the virtual-port directory
    int speed = 9600;          // line speed in bit/s; 10 bits a byte
    int turnaround_ms = 5;     // from a frame's last byte to the reply's first
    std::vector<uint8_t> clocks = {1};
    std::optional<uint8_t> master; // this clock starts as master
    BroadcastAnswer broadcast_answer = BroadcastAnswer::kLowest;
    uint64_t seed = 0;             // 0: pick one from the clock (see Seed())
    std::string log_path;          // JSON lines, one per frame and time-set error
    bool publish_link = true;      // false: no symlink, DevicePath() only
    int status_interval_ms = 1000; // master's status block period
    int text_interval_ms = 10000;  // master's text block period
    double drift_ppm = 0.0;        // how fast the clocks run against the host
    Faults faults;                 // line-wide faults from the start
    // When the program's side of the pty is set to another speed than
    // `speed`, the clocks hear only garbage (as on a real line) and ignore it.
    bool strict_speed = false;
    // The line hands every byte the program writes back to it, as a two-wire
    // adapter that hears its own transmission does.
    bool echo = false;
    // How much later than its own wire time the echo comes back (an adapter
    // that holds it, or a reader held up elsewhere).
    int echo_delay_ms = 0;
    // Something on the line never stops sending: random bytes with no valid
    // header (no 0xE0 among them), back to back at the line speed.
    bool babble = false;
};

// Parses "lowest", "all", "none"; nullopt for anything else.
std::optional<BroadcastAnswer> ParseBroadcastAnswer(const std::string& text);

struct TimeErrorStats {
    size_t count = 0;
    double median_ms = 0; // of the signed errors: the bias
    double p99_ms = 0;    // of the magnitudes (nearest rank)
    double max_ms = 0;    // largest by magnitude, with its sign
};

// A clock's time of day and date as plain numbers (not BCD).
struct ClockTime {
    int second = 0, minute = 0, hour = 0;
    int day_of_week = 2;              // 2 = Monday .. 8 = Sunday, as on the wire
    int day = 1, month = 1, year = 0; // year within the century
};

class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator(); // stops, closes the line, removes the link
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminal, publishes the link and starts the line
    // thread. False with a message when any of that fails.
    bool Start(std::string* error);
    void Stop();
    bool Running() const;

    uint64_t Seed() const;
    std::string DevicePath() const; // the program's side of the pty
    std::string LinkPath() const;   // the published symlink ("" when none)

    // Registers of one clock (nothing happens for an unknown address).
    uint8_t Register(uint8_t addr, uint8_t reg) const;
    void SetRegister(uint8_t addr, uint8_t reg, uint8_t value);
    // The clock leaves reads of reg unanswered while silent is set (after
    // Start, like SetRegister).
    void SetSilentRegister(uint8_t addr, uint8_t reg, bool silent);
    // The clock neither takes nor answers writes of reg while deaf is set.
    void SetDeafRegister(uint8_t addr, uint8_t reg, bool deaf);
    bool IsMaster(uint8_t addr) const;
    ClockTime Time(uint8_t addr) const;

    // Faults of one clock; 0xFF sets the line-wide faults, which apply to
    // every clock that has none of its own. May be called before Start.
    void SetFaults(uint8_t addr, const Faults& faults);
    void ClearFaults();

    // Ends the line abruptly, as an unplugged USB adapter: the pty closes
    // and the link disappears. ReopenLine makes a fresh pty under the same
    // link name, so a program can reconnect.
    void CloseLine();
    bool ReopenLine(std::string* error = nullptr);

    // What happened, as counted since Start.
    size_t FramesReceived(uint8_t cmd) const; // valid frames with that command
    size_t FramesReceivedTotal() const;
    size_t BadFrames() const; // frames dropped for a bad check
    size_t RepliesSent() const;
    size_t RepliesSent(uint8_t cmd) const;
    size_t StatusBlocksSent() const;
    size_t TextBlocksSent() const;

    // Waits until FramesReceived(cmd) reaches count; false on time-out.
    bool WaitForFrames(uint8_t cmd, size_t count, int timeout_ms) const;
    // Waits until RepliesSent() reaches count and the line is idle.
    bool WaitForReplies(size_t count, int timeout_ms) const;

    // Time-set errors: time carried minus host local time at the frame's
    // modelled arrival, in ms, in order of arrival.
    std::vector<double> TimeErrorsMs() const;
    TimeErrorStats TimeErrors() const;

    // The 100 data bytes a master would send now, and the text block.
    std::vector<uint8_t> StatusBlock(uint8_t addr) const;
    std::vector<uint8_t> TextBlock(uint8_t addr) const;

    // The summary printed by --status.
    std::string StatusJson() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace chronavel::sim

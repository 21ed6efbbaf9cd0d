#include "link/frame_trace.h"

#include "link/hex.h"
#include "platform/local_time.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <utility>

namespace chronavel {

namespace {

// The listeners' count, read without the lock on every frame.
std::atomic<int> frame_observer_count{0};

struct Observers {
    // Held while listeners run, so removing one waits for a call in progress.
    std::mutex Lock;
    std::vector<std::pair<int, FrameObserver>> List; // guarded by Lock
    int NextId = 1;                                  // guarded by Lock
};

// Never destroyed: a thread that still traces while the process exits must
// not find it gone.
Observers& TheObservers()
{
    static Observers* o = new Observers;
    return *o;
}

} // namespace

bool FrameTraceOn()
{
    return frame_observer_count.load(std::memory_order_relaxed) != 0;
}

int AddFrameObserver(FrameObserver observer)
{
    Observers& o = TheObservers();
    std::lock_guard<std::mutex> hold(o.Lock);
    const int id = o.NextId++;
    o.List.emplace_back(id, std::move(observer));
    frame_observer_count.store(static_cast<int>(o.List.size()));
    return id;
}

void RemoveFrameObserver(int id)
{
    Observers& o = TheObservers();
    std::lock_guard<std::mutex> hold(o.Lock);
    std::erase_if(o.List, [id](const auto& entry) { return entry.first == id; });
    frame_observer_count.store(static_cast<int>(o.List.size()));
}

void RemoveAllFrameObservers()
{
    Observers& o = TheObservers();
    std::lock_guard<std::mutex> hold(o.Lock);
    o.List.clear();
    frame_observer_count.store(0);
}

namespace detail {

void NotifyFrame(FrameDirection direction, uint8_t addr, uint8_t cmd, const uint8_t* bytes,
                 size_t count, bool ok, size_t announced)
{
    FrameEvent e;
    e.When = std::chrono::system_clock::now();
    e.Direction = direction;
    e.Addr = addr;
    e.Cmd = cmd;
    e.Bytes = bytes;
    e.Count = bytes ? count : 0;
    e.Ok = ok;
    e.Announced = announced;
    Observers& o = TheObservers();
    std::lock_guard<std::mutex> hold(o.Lock);
    for (const auto& entry : o.List) {
        try {
            entry.second(e);
        } catch (...) {
            // A listener's failure must not break the exchange that traced.
        }
    }
}

} // namespace detail

std::string FormatFrameLine(const FrameEvent& e)
{
    using namespace std::chrono;
    const auto since_epoch = e.When.time_since_epoch();
    const auto secs = duration_cast<seconds>(since_epoch);
    auto ms = duration_cast<milliseconds>(since_epoch - secs).count();
    std::time_t t = static_cast<std::time_t>(secs.count());
    if (ms < 0) { // before the epoch: borrow a second
        ms += 1000;
        --t;
    }
    const std::tm local = platform::LocalCalendar(t);
    char head[64];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d %s addr $%02X cmd $%02X", local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(ms),
                  e.Direction == FrameDirection::Sent ? "TX" : "RX", e.Addr, e.Cmd);
    std::string line(head);
    line.reserve(line.size() + 32 + 3 * e.Count);
    if (e.Direction == FrameDirection::DataBlock) {
        line += " data " + std::to_string(e.Announced);
        line += e.Ok ? ", check ok" : ", check failed";
        if (e.Count != e.Announced + 1)
            line += " (" + std::to_string(e.Count) + " bytes arrived)";
    } else if (e.Direction == FrameDirection::Sent && !e.Ok) {
        line += " write failed";
    }
    line += ':';
    for (size_t i = 0; i < e.Count; ++i) {
        line += ' ';
        AppendHexDigits(line, e.Bytes[i]);
    }
    return line;
}

bool FrameLineQueue::Push(std::string line)
{
    std::lock_guard<std::mutex> hold(lock_);
    const bool was_empty = lines_.empty();
    lines_.push_back(std::move(line));
    while (lines_.size() > cap_) {
        lines_.pop_front();
        ++dropped_;
    }
    return was_empty;
}

std::vector<std::string> FrameLineQueue::TakeAll()
{
    std::deque<std::string> taken;
    {
        std::lock_guard<std::mutex> hold(lock_);
        taken.swap(lines_);
    }
    return std::vector<std::string>(std::make_move_iterator(taken.begin()),
                                    std::make_move_iterator(taken.end()));
}

size_t FrameLineQueue::Dropped() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return dropped_;
}

} // namespace chronavel

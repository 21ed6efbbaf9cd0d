#include "tools/supervision/alarms.h"

#include "link/hex.h"
#include "platform/utf8_path.h"
#include "tools/text/text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>
#include <system_error>

namespace chronavel::ctl {

namespace {

constexpr AlarmKind kKinds[] = {AlarmKind::kClockSilent,   AlarmKind::kMasterLost,
                                AlarmKind::kMasterChanged, AlarmKind::kPortLost,
                                AlarmKind::kSyncFailing,   AlarmKind::kPcClockUnsynchronised,
                                AlarmKind::kSettingsDrift};

} // namespace

const char* AlarmName(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::kClockSilent:
        return "clock_silent";
    case AlarmKind::kMasterLost:
        return "master_lost";
    case AlarmKind::kMasterChanged:
        return "master_changed";
    case AlarmKind::kPortLost:
        return "port_lost";
    case AlarmKind::kSyncFailing:
        return "sync_failing";
    case AlarmKind::kPcClockUnsynchronised:
        return "pc_clock_unsynchronised";
    case AlarmKind::kSettingsDrift:
        return "settings_drift";
    }
    return "unknown";
}

std::optional<AlarmKind> AlarmFromName(const std::string& name)
{
    for (AlarmKind k : kKinds)
        if (name == AlarmName(k))
            return k;
    return std::nullopt;
}

void Alarms::Set(const AlarmId& id, bool on, const std::string& text, std::time_t now,
                 std::vector<AlarmEvent>& events, const std::string& why)
{
    const auto it = active_.find(id);
    if (on == (it != active_.end()))
        return;
    AlarmEvent e{id, on, text, now, now};
    if (on) {
        active_[id] = e;
    } else {
        e.Text = it->second.Text + (why.empty() ? "" : " (" + why + ")");
        e.Since = it->second.At;
        active_.erase(it);
    }
    history_.push_back(e);
    while (history_.size() > kAlarmHistory)
        history_.pop_front();
    events.push_back(e);
}

std::vector<AlarmEvent> Alarms::Judge(const LineFacts& f, std::time_t now)
{
    std::vector<AlarmEvent> events;
    const std::string on = " на линии " + port_;
    Set({AlarmKind::kPortLost, {}}, !f.PortOpen,
        "Порт " + port_ + " недоступен: часы не получают время", now, events);
    Set({AlarmKind::kPcClockUnsynchronised, {}},
        f.Source == platform::ClockSyncState::kUnsynchronised,
        "Часы ПК потеряли источник точного времени: часы на линии " + port_ +
            " получают время без проверки",
        now, events);
    std::optional<std::time_t> since = f.LastAnsweredSync;
    if (f.LastHeldBackSync && (!since || *f.LastHeldBackSync > *since))
        since = f.LastHeldBackSync;
    const bool failing = since && now - *since > 2 * f.CycleSeconds;
    Set({AlarmKind::kSyncFailing, {}}, failing,
        "Часы" + on + " больше двух периодов не подтверждают установку времени", now, events);

    // Master changes hold for a while, then clear on their own.
    for (const auto& [id, e] : std::map(active_))
        if (id.Kind == AlarmKind::kMasterChanged && now - e.At >= kMasterChangedHold)
            Set(id, false, {}, now, events);

    if (!f.Clocks)
        return events; // no census yet: nothing to say about the clocks
    std::vector<uint8_t> known = seen_;
    std::optional<uint8_t> master;
    for (const auto& [addr, rec] : *f.Clocks) {
        known.push_back(addr);
        if (rec.Answering && rec.Master && !master)
            master = addr;
    }
    for (uint8_t addr : known) {
        const auto rec = f.Clocks->find(addr);
        const bool answering = rec != f.Clocks->end() && rec->second.Answering;
        Set({AlarmKind::kClockSilent, addr}, !answering,
            "Часы " + ClockName(addr) + on + " не отвечают", now, events);
    }
    if (master) {
        for (const auto& [id, e] : std::map(active_))
            if (id.Kind == AlarmKind::kMasterLost ||
                (id.Kind == AlarmKind::kMasterChanged && id.Addr != master))
                Set(id, false, {}, now, events);
        if (master_ && *master_ != *master)
            Set({AlarmKind::kMasterChanged, *master}, true,
                "Ведущими" + on + " стали часы " + ClockName(*master) + " (были " +
                    ClockName(*master_) + ")",
                now, events);
        master_ = master;
    } else if (master_) {
        Set({AlarmKind::kMasterLost, *master_}, true,
            "Ведущие часы " + ClockName(*master_) + on + " пропали: на линии нет ведущих часов",
            now, events);
    }
    return events;
}

std::vector<AlarmEvent> Alarms::Drift(uint8_t addr, const std::vector<std::string>& differing,
                                      std::time_t now)
{
    std::string names;
    for (const std::string& n : differing)
        names += (names.empty() ? "" : ", ") + n;
    std::vector<AlarmEvent> events;
    Set({AlarmKind::kSettingsDrift, addr}, !differing.empty(),
        "Настройки часов " + ClockName(addr) + " на линии " + port_ +
            " отличаются от файла настроек: " + names,
        now, events);
    return events;
}

std::vector<AlarmEvent> Alarms::Forget(uint8_t addr, const std::string& why, std::time_t now)
{
    std::vector<AlarmEvent> events;
    for (const auto& [id, e] : std::map(active_))
        if (id.Addr == addr)
            Set(id, false, {}, now, events, why);
    std::erase(seen_, addr);
    if (master_ == addr)
        master_.reset();
    return events;
}

void Alarms::Restore(const std::vector<AlarmEvent>& history)
{
    for (const AlarmEvent& e : history) {
        if (e.Raised)
            active_[e.Id] = e;
        else
            active_.erase(e.Id);
        history_.push_back(e);
    }
    while (history_.size() > kAlarmHistory)
        history_.pop_front();
    for (const auto& [id, e] : active_) {
        if (id.Kind == AlarmKind::kClockSilent && id.Addr)
            seen_.push_back(*id.Addr);
        if (id.Kind == AlarmKind::kMasterLost && id.Addr)
            master_ = id.Addr;
    }
}

nlohmann::json Alarms::EventJson(const AlarmEvent& e) const
{
    nlohmann::json j = {
        {"alarm", AlarmName(e.Id.Kind)},
        {"state", e.Raised ? "raised" : "cleared"},
        {"port", port_},
        {"address", e.Id.Addr ? nlohmann::json(Hex2(*e.Id.Addr)) : nlohmann::json(nullptr)},
        {"text", e.Text},
        {"time", UtcText(e.At)},
    };
    if (!e.Raised) {
        j["since"] = UtcText(e.Since);
        j["duration_seconds"] = e.At - e.Since;
    }
    return j;
}

nlohmann::json Alarms::Json() const
{
    nlohmann::json active = nlohmann::json::array();
    for (const auto& [id, e] : active_) {
        nlohmann::json j = EventJson(e);
        j.erase("state");
        j["since"] = j["time"];
        j.erase("time");
        active.push_back(std::move(j));
    }
    nlohmann::json history = nlohmann::json::array();
    for (const AlarmEvent& e : history_)
        history.push_back(EventJson(e));
    return {{"active", active}, {"history", history}};
}

std::string AlarmLine(const std::string& port, const AlarmEvent& e)
{
    nlohmann::json j = {
        {"alarm", AlarmName(e.Id.Kind)},
        {"state", e.Raised ? "raised" : "cleared"},
        {"port", port},
        {"address", e.Id.Addr ? nlohmann::json(*e.Id.Addr) : nlohmann::json(nullptr)},
        {"text", e.Text},
        {"time", UtcText(e.At)},
        {"t", e.At},
        {"since_t", e.Since},
    };
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

// A whole number of the history, or nothing: a fraction, a text or a
// number out of range is a damaged line, never converted.
std::optional<long long> WholeNumber(const nlohmann::json& j, long long lowest, long long highest)
{
    if (j.is_number_unsigned())
        return j.get<unsigned long long>() <= static_cast<unsigned long long>(highest)
                   ? std::optional<long long>(static_cast<long long>(j.get<unsigned long long>()))
                   : std::nullopt;
    if (!j.is_number_integer())
        return std::nullopt;
    const long long v = j.get<long long>();
    return v >= lowest && v <= highest ? std::optional<long long>(v) : std::nullopt;
}

// Every history line starts so (the keys are written in order); inside a
// text a quote is escaped, so this is always the start of a line as written.
constexpr std::string_view kLineStart = "{\"address\":";

} // namespace

std::optional<AlarmEvent> ParseAlarmLine(const std::string& line)
{
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object())
        return std::nullopt;
    const auto alarm = j.find("alarm");
    const auto state = j.find("state");
    const auto address = j.find("address");
    const auto text = j.find("text");
    const auto at = j.find("t");
    const auto since = j.find("since_t");
    for (const auto& it : {alarm, state, address, text, at, since})
        if (it == j.end())
            return std::nullopt;
    if (!alarm->is_string() || !state->is_string() || !text->is_string())
        return std::nullopt;
    const auto kind = AlarmFromName(alarm->get<std::string>());
    const std::string st = state->get<std::string>();
    if (!kind || (st != "raised" && st != "cleared"))
        return std::nullopt;
    AlarmEvent e;
    e.Id.Kind = *kind;
    if (!address->is_null()) {
        const auto addr = WholeNumber(*address, 0, 255);
        if (!addr)
            return std::nullopt;
        e.Id.Addr = static_cast<uint8_t>(*addr);
    }
    // Times as std::time_t holds them, from a 64-bit one down to the
    // epoch: nothing negative is ever written.
    constexpr long long kLatest = std::numeric_limits<std::time_t>::max();
    const auto t = WholeNumber(*at, 0, kLatest);
    const auto since_t = WholeNumber(*since, 0, kLatest);
    if (!t || !since_t)
        return std::nullopt;
    e.Raised = st == "raised";
    e.Text = text->get<std::string>();
    e.At = static_cast<std::time_t>(*t);
    e.Since = static_cast<std::time_t>(*since_t);
    return e;
}

std::vector<AlarmEvent> AlarmLog::Load(size_t count) const
{
    std::vector<AlarmEvent> events;
    for (const std::string& name : {path_ + ".1", path_}) {
        std::ifstream in(platform::PathFromUtf8(name));
        for (std::string line; std::getline(in, line);) {
            // A line cut short by a crash has the next event written on
            // after it: that one is read, the cut one skipped.
            for (size_t at = 0; at != std::string::npos;) {
                const size_t next = line.find(kLineStart, at + 1);
                if (auto e = ParseAlarmLine(line.substr(at, next - at)))
                    events.push_back(std::move(*e));
                at = next;
            }
        }
    }
    if (events.size() > count)
        events.erase(events.begin(), events.end() - static_cast<std::ptrdiff_t>(count));
    return events;
}

std::string AlarmLog::Append(const std::string& port, const AlarmEvent& e)
{
    std::error_code ec;
    const std::filesystem::path file = platform::PathFromUtf8(path_);
    if (std::filesystem::file_size(file, ec) >= limit_ && !ec) {
        std::filesystem::rename(file, platform::PathFromUtf8(path_ + ".1"), ec);
        if (ec)
            return path_ + ": " + ec.message();
    }
    // A line a crash cut short is ended first, so this one stays whole.
    bool ended = true;
    if (std::ifstream last(file, std::ios::binary); last && last.seekg(-1, std::ios::end)) {
        char c = '\n';
        ended = !last.get(c) || c == '\n';
    }
    std::ofstream out(file, std::ios::app);
    if (!ended)
        out << '\n';
    out << AlarmLine(port, e) << '\n';
    out.flush();
    return out ? std::string() : path_ + ": cannot be written";
}

std::string AlarmLogText(const AlarmEvent& e)
{
    std::string text = std::string(e.Raised ? "alarm raised " : "alarm cleared ") +
                       AlarmName(e.Id.Kind) + (e.Id.Addr ? " " + Hex2(*e.Id.Addr) : "") + ": " +
                       e.Text;
    if (!e.Raised)
        text += " (after " + std::to_string(e.At - e.Since) + " s)";
    return text;
}

} // namespace chronavel::ctl

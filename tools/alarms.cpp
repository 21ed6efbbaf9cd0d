#include "tools/alarms.h"

#include "tools/args.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
    const bool failing = f.LastAnsweredSync && now - *f.LastAnsweredSync > 2 * f.CycleSeconds;
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

std::optional<AlarmEvent> ParseAlarmLine(const std::string& line)
{
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object())
        return std::nullopt;
    try {
        const auto kind = AlarmFromName(j.at("alarm").get<std::string>());
        const std::string state = j.at("state").get<std::string>();
        if (!kind || (state != "raised" && state != "cleared"))
            return std::nullopt;
        AlarmEvent e;
        e.Id.Kind = *kind;
        if (const auto& a = j.at("address"); !a.is_null()) {
            const int addr = a.get<int>();
            if (addr < 0 || addr > 255)
                return std::nullopt;
            e.Id.Addr = static_cast<uint8_t>(addr);
        }
        e.Raised = state == "raised";
        e.Text = j.at("text").get<std::string>();
        e.At = j.at("t").get<std::time_t>();
        e.Since = j.at("since_t").get<std::time_t>();
        return e;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt; // a line of another shape: skipped
    }
}

std::vector<AlarmEvent> AlarmLog::Load(size_t count) const
{
    std::vector<AlarmEvent> events;
    for (const std::string& name : {path_ + ".1", path_}) {
        std::ifstream in(name);
        for (std::string line; std::getline(in, line);)
            if (auto e = ParseAlarmLine(line))
                events.push_back(std::move(*e));
    }
    if (events.size() > count)
        events.erase(events.begin(), events.end() - static_cast<std::ptrdiff_t>(count));
    return events;
}

std::string AlarmLog::Append(const std::string& port, const AlarmEvent& e)
{
    std::error_code ec;
    if (std::filesystem::file_size(path_, ec) >= limit_ && !ec) {
        std::filesystem::rename(path_, path_ + ".1", ec);
        if (ec)
            return path_ + ": " + ec.message();
    }
    std::ofstream out(path_, std::ios::app);
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

#include "sim/event_log.h"

#include "sim/local_time.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace chronavel::sim {

bool EventLog::Open(const std::string& path, std::string* error)
{
    out_.open(path, std::ios::out | std::ios::trunc);
    if (!out_) {
        if (error)
            *error = "cannot write the log file " + path;
        return false;
    }
    return true;
}

void EventLog::Frame(const LoggedFrame& f)
{
    if (!out_.is_open())
        return;
    nlohmann::json j = {
        {"t", FormatLocal(f.local_us)}, {"dir", f.dir}, {"addr", f.addr}, {"addr2", f.addr2},
        {"cmd", Hex2(f.cmd)},           {"p1", f.p1},   {"p2", f.p2},     {"check_ok", f.check_ok}};
    if (f.has_data)
        j["data"] = HexDigits(f.data);
    if (f.note)
        j["note"] = f.note;
    out_ << j.dump() << '\n';
    out_.flush();
}

void EventLog::TimeSet(int64_t local_us, uint8_t addr, const std::string& carried, double error_ms)
{
    if (!out_.is_open())
        return;
    nlohmann::json j = {{"t", FormatLocal(local_us)},
                        {"event", "time_set"},
                        {"addr", addr},
                        {"carried", carried},
                        {"error_ms", error_ms}};
    out_ << j.dump() << '\n';
    out_.flush();
}

void EventLog::Note(int64_t local_us, const std::string& event, const std::string& detail)
{
    if (!out_.is_open())
        return;
    nlohmann::json j = {{"t", FormatLocal(local_us)}, {"event", event}, {"detail", detail}};
    out_ << j.dump() << '\n';
    out_.flush();
}

} // namespace chronavel::sim

#include "tools/supervision/supervision.h"

#include "link/hex.h"
#include "platform/local_time.h"
#include "tools/text/text.h"

#include <ctime>

namespace chronavel::ctl {

namespace {

std::string ClockList(const std::vector<CensusEntry>& found)
{
    std::string out;
    for (const CensusEntry& c : found)
        out += (out.empty() ? "" : ", ") + Hex2(c.Addr) + (c.Master ? " (master)" : "");
    return out;
}

std::string Duration(std::time_t seconds)
{
    const long s = static_cast<long>(seconds < 0 ? 0 : seconds);
    if (s < 120)
        return std::to_string(s) + " s";
    if (s < 7200)
        return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

nlohmann::json TimeOrNull(const std::optional<std::time_t>& t)
{
    return t ? nlohmann::json(UtcText(*t)) : nlohmann::json(nullptr);
}

} // namespace

std::vector<std::string> Supervision::TakeCensus(const std::vector<CensusEntry>& found,
                                                 std::time_t now)
{
    std::vector<std::string> lines;
    if (first_) {
        lines.push_back("census: " + std::to_string(found.size()) + " clock" +
                        (found.size() == 1 ? "" : "s") + " answering" +
                        (found.empty() ? "" : ": " + ClockList(found)));
    }
    const bool first = first_;
    first_ = false;
    for (const CensusEntry& c : found) {
        std::vector<std::string> news = Answered(c.Addr, c.Master, now);
        if (!first) // the first census's summary says it all
            lines.insert(lines.end(), news.begin(), news.end());
    }
    return lines;
}

std::vector<std::string> Supervision::Answered(uint8_t addr, bool master, std::time_t now)
{
    std::vector<std::string> lines;
    auto [it, added] = clocks_.try_emplace(addr);
    ClockRecord& rec = it->second;
    if (added && !first_)
        lines.push_back("clock " + Hex2(addr) + (master ? " (master)" : "") +
                        " answers; it is new on the line");
    else if (!added && !rec.Answering)
        lines.push_back("clock " + Hex2(addr) + " answers again" +
                        (rec.LastAnswer ? " after " + Duration(now - *rec.LastAnswer) + " silent"
                                        : std::string()));
    if (!added && rec.Master != master)
        lines.push_back("clock " + Hex2(addr) +
                        (master ? " is master now" : " is no longer master"));
    rec.Master = master;
    rec.Answering = true;
    rec.LastAnswer = now;
    return lines;
}

std::string Supervision::Stopped(uint8_t addr)
{
    ClockRecord& rec = clocks_[addr];
    rec.Answering = false;
    return "clock " + Hex2(addr) + " has stopped answering (last answer " +
           (rec.LastAnswer ? UtcText(*rec.LastAnswer) : std::string("never")) + ")";
}

void Supervision::Remember(uint8_t addr, bool master, bool answering)
{
    auto [it, added] = clocks_.try_emplace(addr);
    if (!added) {
        it->second.Answering = it->second.Answering && answering;
        return;
    }
    it->second.Master = master;
    it->second.Answering = answering;
}

void Supervision::Synced(uint8_t addr, bool answered, std::time_t now)
{
    for (auto& [a, rec] : clocks_) {
        if (addr == 0xFF ? rec.Answering : (a == addr && answered))
            rec.LastSync = now;
    }
    if (addr != 0xFF && answered && !clocks_.contains(addr)) {
        ClockRecord& rec = clocks_[addr];
        rec.Answering = true;
        rec.LastAnswer = now;
        rec.LastSync = now;
    } else if (addr != 0xFF && answered) {
        clocks_[addr].LastAnswer = now;
    }
}

int Supervision::Answering() const
{
    int n = 0;
    for (const auto& [addr, rec] : clocks_)
        n += rec.Answering ? 1 : 0;
    return n;
}

std::vector<uint8_t> Supervision::Known() const
{
    std::vector<uint8_t> out;
    for (const auto& [addr, rec] : clocks_)
        out.push_back(addr);
    return out;
}

std::vector<uint8_t> Supervision::Silent() const
{
    std::vector<uint8_t> out;
    for (const auto& [addr, rec] : clocks_)
        if (!rec.Answering)
            out.push_back(addr);
    return out;
}

nlohmann::json Supervision::Json(const std::string& port, std::time_t now) const
{
    auto list = nlohmann::json::array();
    for (const auto& [addr, rec] : clocks_)
        list.push_back({{"addr", addr},
                        {"master", rec.Master},
                        {"answering", rec.Answering},
                        {"last_answer", TimeOrNull(rec.LastAnswer)},
                        {"last_sync", TimeOrNull(rec.LastSync)}});
    return {
        {"port", port}, {"updated", UtcText(now)}, {"answering", Answering()}, {"clocks", list}};
}

} // namespace chronavel::ctl

#include "tools/web/http_status.h"

#include "app/time_source.h"
#include "link/hex.h"
#include "platform/local_time.h"
#include "tools/text/text.h"
#include "version.h"

#include <cstdio>
#include <utility>

namespace chronavel::ctl {

std::optional<HttpAddress> ParseHttpAddress(const std::string& text)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return std::nullopt; // an IPv6 address needs its brackets
    }
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int p = std::stoi(port);
    if (p > 65535)
        return std::nullopt;
    for (char c : host)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']')
            return std::nullopt;
    return HttpAddress{host, p};
}

void StatusBoard::Set(std::shared_ptr<const StatusSnapshot> snapshot)
{
    std::lock_guard<std::mutex> hold(lock_);
    snapshot_.swap(snapshot);
    // The old snapshot, if the last holder, is freed here after the lock.
}

std::shared_ptr<const StatusSnapshot> StatusBoard::Get() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return snapshot_;
}

namespace {

// A label value: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& v)
{
    std::string out;
    for (char c : v) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string Number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

class Exposition {
public:
    void Family(const char* name, const char* type, const char* help)
    {
        text_ +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void Sample(const std::string& name, const std::string& labels, double value)
    {
        text_ += name + (labels.empty() ? "" : "{" + labels + "}") + " " + Number(value) + "\n";
    }
    std::string Take() { return std::move(text_); }

private:
    std::string text_;
};

std::string Html(const std::string& v)
{
    std::string out;
    for (char c : v) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string LocalText(std::time_t t)
{
    const std::tm tm = platform::LocalCalendar(t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
    return buf;
}

std::string TimeOrDash(const std::optional<std::time_t>& t)
{
    return t ? LocalText(*t) : "—";
}

std::string PeriodText(int seconds)
{
    if (seconds % 86400 == 0)
        return std::to_string(seconds / 86400) + " сут";
    if (seconds % 3600 == 0)
        return std::to_string(seconds / 3600) + " ч";
    if (seconds % 60 == 0)
        return std::to_string(seconds / 60) + " мин";
    return std::to_string(seconds) + " с";
}

std::string SourceText(const platform::ClockSync& s)
{
    std::string text;
    switch (s.State) {
    case platform::ClockSyncState::kSynchronised:
        text = "синхронизированы";
        break;
    case platform::ClockSyncState::kUnsynchronised:
        text = "не синхронизированы";
        break;
    case platform::ClockSyncState::kUnknown:
        text = "состояние неизвестно";
        break;
    }
    if (s.MaxErrorUs && s.State != platform::ClockSyncState::kUnknown) {
        // The windows program's wording: "16 с", "12 мс", never a decimal
        // point a Russian reader takes for thousands.
        text += ", погрешность до " + ErrorBoundText(*s.MaxErrorUs, true);
    }
    return text;
}

// "конец кадра +0,2 мс от начала секунды": the decimal comma a Russian
// reader expects.
std::string FrameEndText(const std::optional<double>& seconds)
{
    if (!seconds)
        return "—";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.1f", *seconds * 1000);
    std::string ms = buf;
    if (const size_t dot = ms.find('.'); dot != std::string::npos)
        ms[dot] = ',';
    return "конец кадра " + ms + " мс от начала секунды";
}

// "часов: 3, каждые часы раз в 30 с; занято линии 2,1 %".
std::string WatchText(const WatchSummary& w)
{
    char share[32];
    std::snprintf(share, sizeof share, "%.1f", w.LineShare * 100);
    std::string pct = share;
    if (const size_t dot = pct.find('.'); dot != std::string::npos)
        pct[dot] = ',';
    return "часов: " + std::to_string(w.ClocksKnown) + ", каждые опрашиваются раз в " +
           std::to_string(static_cast<long>(w.PollCycleSeconds + 0.5)) + " с; занято линии " + pct +
           " %";
}

// The settings file line of the page, when the clocks are compared with one.
std::string DriftText(const StatusSnapshot& s)
{
    if (!s.DriftWatched)
        return "";
    std::string differing;
    for (const auto& [addr, names] : s.Drift) {
        if (names.empty())
            continue;
        std::string list;
        for (const std::string& n : names)
            list += (list.empty() ? "" : "; ") + n;
        differing += std::string(differing.empty() ? "" : ", ") + Hex2(addr) + " (" + list + ")";
    }
    const std::string text = !differing.empty() ? "отличаются от файла: " + Html(differing)
                             : s.Drift.empty() ? "ещё не сверялись с файлом"
                                               : "совпадают с файлом";
    return "<dt>Настройки часов</dt><dd class=\"" +
           std::string(differing.empty() ? "ok-text" : "warn") + "\">" + text + "</dd>\n";
}

} // namespace

std::string MetricsText(const StatusSnapshot& s, std::time_t now)
{
    Exposition e;
    const std::string port = "port=\"" + LabelValue(s.Port) + "\"";
    auto clock_labels = [&](uint8_t addr) { return port + ",address=\"" + Hex2(addr) + "\""; };

    e.Family("chronavel_clock_up", "gauge",
             "1 when the clock answers its polls; 0 once it missed three in a row.");
    for (const auto& [addr, rec] : s.Clocks)
        e.Sample("chronavel_clock_up", clock_labels(addr), rec.Answering ? 1 : 0);
    e.Family("chronavel_clock_master", "gauge", "1 when the clock is the line's master clock.");
    for (const auto& [addr, rec] : s.Clocks)
        e.Sample("chronavel_clock_master", clock_labels(addr), rec.Master ? 1 : 0);
    e.Family("chronavel_clock_last_answer_timestamp_seconds", "gauge",
             "When the clock last answered, as a Unix time.");
    for (const auto& [addr, rec] : s.Clocks)
        if (rec.LastAnswer)
            e.Sample("chronavel_clock_last_answer_timestamp_seconds", clock_labels(addr),
                     static_cast<double>(*rec.LastAnswer));
    e.Family("chronavel_clock_last_sync_timestamp_seconds", "gauge",
             "When the clock was last set, as a Unix time.");
    for (const auto& [addr, rec] : s.Clocks)
        if (rec.LastSync)
            e.Sample("chronavel_clock_last_sync_timestamp_seconds", clock_labels(addr),
                     static_cast<double>(*rec.LastSync));
    e.Family("chronavel_clock_silent_seconds", "gauge",
             "How long a clock that stopped answering has been silent; 0 while it answers.");
    for (const auto& [addr, rec] : s.Clocks) {
        const double silent =
            rec.Answering || !rec.LastAnswer ? 0.0 : static_cast<double>(now - *rec.LastAnswer);
        e.Sample("chronavel_clock_silent_seconds", clock_labels(addr), silent < 0 ? 0 : silent);
    }

    e.Family("chronavel_syncs_total", "counter",
             "Synchronisations since the daemon started, by result.");
    e.Sample("chronavel_syncs_total", port + ",result=\"answered\"",
             static_cast<double>(s.Syncs.Answered));
    e.Sample("chronavel_syncs_total", port + ",result=\"unanswered\"",
             static_cast<double>(s.Syncs.Unanswered));
    e.Sample("chronavel_syncs_total", port + ",result=\"skipped\"",
             static_cast<double>(s.Syncs.Skipped));
    e.Family("chronavel_port_open", "gauge", "1 while the serial port is open.");
    e.Sample("chronavel_port_open", port, s.PortOpen ? 1 : 0);
    e.Family("chronavel_http_listen_failures_total", "counter",
             "Attempts of this web face to listen on its address that failed (it is tried again "
             "every 30 s while the clocks are kept in time).");
    e.Sample("chronavel_http_listen_failures_total", "", s.HttpListenFailures);
    e.Family("chronavel_census_running", "gauge", "1 while a census of the line is being taken.");
    e.Sample("chronavel_census_running", port, s.CensusAt ? 1 : 0);
    e.Family("chronavel_census_duration_seconds", "gauge", "How long the last census took.");
    if (s.CensusSeconds)
        e.Sample("chronavel_census_duration_seconds", port, *s.CensusSeconds);
    e.Family("chronavel_census_last_timestamp_seconds", "gauge",
             "When the last full census of the line ended, as a Unix time.");
    if (s.Watch.LastCensus)
        e.Sample("chronavel_census_last_timestamp_seconds", port,
                 static_cast<double>(*s.Watch.LastCensus));
    e.Family("chronavel_clocks_known", "gauge", "Clocks the daemon knows on the line and polls.");
    e.Sample("chronavel_clocks_known", port, s.Watch.ClocksKnown);
    e.Family("chronavel_poll_cycle_seconds", "gauge", "How often each known clock is polled.");
    e.Sample("chronavel_poll_cycle_seconds", port, s.Watch.PollCycleSeconds);
    e.Family("chronavel_clock_missed_polls_total", "counter",
             "Polls of the clock that went unanswered (each one asked again before a clock is "
             "called silent).");
    for (const auto& [addr, missed] : s.Watch.MissedPolls)
        e.Sample("chronavel_clock_missed_polls_total", clock_labels(addr),
                 static_cast<double>(missed));
    e.Family("chronavel_sweep_address", "gauge", "The address the sweep for new clocks asks next.");
    e.Sample("chronavel_sweep_address", port, s.Watch.SweepAddress);
    e.Family("chronavel_supervision_line_share", "gauge",
             "Share of the line's time the supervision (polls, sweep, census, settings reads) "
             "took over the last five minutes, 0..1.");
    e.Sample("chronavel_supervision_line_share", port, s.Watch.LineShare);

    e.Family("chronavel_pc_clock_synchronised", "gauge",
             "1 when the PC's clock is synchronised to a time reference, 0 when not; absent "
             "when the system cannot say.");
    if (s.Source.State != platform::ClockSyncState::kUnknown)
        e.Sample("chronavel_pc_clock_synchronised", "",
                 s.Source.State == platform::ClockSyncState::kSynchronised ? 1 : 0);
    e.Family("chronavel_pc_clock_max_error_seconds", "gauge",
             "The system's bound on the PC clock's error.");
    if (s.Source.MaxErrorUs && s.Source.State != platform::ClockSyncState::kUnknown)
        e.Sample("chronavel_pc_clock_max_error_seconds", "",
                 static_cast<double>(*s.Source.MaxErrorUs) / 1e6);

    const auto alarm_labels = [&](const AlarmId& id) {
        return port + ",alarm=\"" + AlarmName(id.Kind) + "\",address=\"" +
               (id.Addr ? Hex2(*id.Addr) : "") + "\"";
    };
    e.Family("chronavel_alarm_active", "gauge",
             "1 for each alarm raised and not yet cleared (address empty where none applies).");
    for (const auto& [id, raised] : s.ActiveAlarms)
        e.Sample("chronavel_alarm_active", alarm_labels(id), 1);
    e.Family("chronavel_alarm_last_change_timestamp_seconds", "gauge",
             "When an active alarm was raised, as a Unix time.");
    for (const auto& [id, raised] : s.ActiveAlarms)
        e.Sample("chronavel_alarm_last_change_timestamp_seconds", alarm_labels(id),
                 static_cast<double>(raised.At));
    e.Family("chronavel_clock_settings_drift", "gauge",
             "1 when the clock's settings differ from the settings file, 0 when they match; "
             "absent until compared.");
    for (const auto& [addr, differing] : s.Drift)
        e.Sample("chronavel_clock_settings_drift", clock_labels(addr), differing.empty() ? 0 : 1);
    e.Family("chronavel_time_frame_end_offset_seconds", "histogram",
             "How far after the second it carries each time frame's last byte left the port.");
    const FrameEndStats& f = s.FrameEnds;
    for (size_t i = 0; i < f.kBounds.size(); ++i) {
        char le[16];
        std::snprintf(le, sizeof le, "%g", f.kBounds[i]);
        e.Sample("chronavel_time_frame_end_offset_seconds_bucket", port + ",le=\"" + le + "\"",
                 static_cast<double>(f.Below[i]));
    }
    e.Sample("chronavel_time_frame_end_offset_seconds_bucket", port + ",le=\"+Inf\"",
             static_cast<double>(f.Count));
    e.Sample("chronavel_time_frame_end_offset_seconds_sum", port, f.SumSeconds);
    e.Sample("chronavel_time_frame_end_offset_seconds_count", port, static_cast<double>(f.Count));
    e.Family("chronavel_build_info", "gauge", "The daemon's version, as a label; always 1.");
    e.Sample("chronavel_build_info", "version=\"" CHRONAVEL_VERSION "\"", 1);
    return e.Take();
}

std::string StatusPage(const StatusSnapshot& s, std::time_t now)
{
    std::string rows;
    for (const auto& [addr, rec] : s.Clocks) {
        const std::string silent =
            rec.Answering ? "—" : (rec.LastAnswer ? LocalText(*rec.LastAnswer) : "—");
        rows += std::string("<tr class=\"") + (rec.Answering ? "ok" : "bad") + "\"><td>" +
                Hex2(addr) + "</td><td>" + (rec.Master ? "да" : "нет") + "</td><td>" +
                (rec.Answering ? "да" : "нет") + "</td><td>" + TimeOrDash(rec.LastAnswer) +
                "</td><td>" + TimeOrDash(rec.LastSync) + "</td><td>" + silent + "</td></tr>\n";
    }
    if (rows.empty())
        rows = "<tr><td colspan=\"6\">Часы ещё не отвечали</td></tr>\n";
    // Active alarms first, in red, where an operator looks.
    std::string alarms;
    for (const auto& [id, raised] : s.ActiveAlarms)
        alarms += "<li>" + Html(raised.Text) + " (с " + LocalText(raised.At) + ")</li>\n";
    if (!alarms.empty())
        alarms = "<div class=\"alarms\"><h2>Тревоги</h2>\n<ul>\n" + alarms + "</ul>\n</div>\n";
    const bool source_ok = s.Source.State == platform::ClockSyncState::kSynchronised;
    return R"(<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta http-equiv="refresh" content="5">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Chronavel — )" +
           Html(s.Port) + R"(</title>
<style>
body { font-family: sans-serif; margin: 1.5em; background: #f6f6f4; color: #222; }
h1 { font-size: 1.4em; margin: 0 0 0.8em; }
dl { display: grid; grid-template-columns: max-content auto; gap: 0.3em 1.2em; margin: 0 0 1.2em; }
dt { color: #666; }
dd { margin: 0; font-weight: bold; }
table { border-collapse: collapse; background: #fff; }
th, td { border: 1px solid #ccc; padding: 0.35em 0.8em; text-align: left; white-space: nowrap; }
th { background: #eee; }
tr.bad td { background: #fbe3e3; }
.warn { color: #b00; }
.ok-text { color: #070; }
.alarms { background: #fbe3e3; border: 2px solid #b00; color: #b00; padding: 0.3em 1em; margin: 0 0 1.2em; }
.alarms h2 { font-size: 1.1em; margin: 0.4em 0; }
footer { margin-top: 1em; color: #888; font-size: 0.85em; }
</style>
</head>
<body>
<h1>Синхронизация часов на порту )" +
           Html(s.Port) + "</h1>\n" + alarms + R"(<dl>
<dt>Порт</dt><dd>)" +
           Html(s.Port) + (s.PortOpen ? " (открыт)" : " (закрыт)") + R"(</dd>
<dt>Период синхронизации</dt><dd>)" +
           PeriodText(s.PeriodSeconds) + R"(</dd>
<dt>Следующая синхронизация</dt><dd>)" +
           TimeOrDash(s.NextSync) + R"(</dd>
<dt>Опрос линии</dt><dd>)" +
           (s.CensusAt ? "идёт, адрес " + std::to_string(*s.CensusAt) + " из 254"
            : s.Watch.LastCensus ? "последний " + LocalText(*s.Watch.LastCensus)
                                 : std::string("ещё не проводился")) +
           R"(</dd>
<dt>Наблюдение</dt><dd>)" +
           WatchText(s.Watch) + R"(</dd>
<dt>Последняя синхронизация</dt><dd>)" +
           FrameEndText(s.FrameEnds.LastSeconds) + R"(</dd>
)" + DriftText(s) +
           R"(<dt>Часы ПК</dt><dd class=")" + (source_ok ? "ok-text" : "warn") + "\">" +
           SourceText(s.Source) + R"(</dd>
</dl>
<table>
<tr><th>Адрес</th><th>Ведущие</th><th>Отвечают</th><th>Последний ответ</th><th>Последняя синхронизация</th><th>Молчат с</th></tr>
)" + rows +
           R"(</table>
<footer>Обновлено )" +
           LocalText(now) + R"(; страница обновляется каждые 5 с.</footer>
</body>
</html>
)";
}

} // namespace chronavel::ctl

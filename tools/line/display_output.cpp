#include "tools/line/display_output.h"

#include "tools/line/tool_host.h"
#include "tools/line/tracker.h"

#include <chrono>

namespace chronavel::ctl {

nlohmann::json DisplayJson(const DisplayTexts& texts)
{
    nlohmann::json j;
    j["main_field"] = nlohmann::json::array();
    for (const auto& t : texts.MainFieldText)
        j["main_field"].push_back(t);
    j["extra_fields"] = nlohmann::json::array();
    for (int i = 1; i <= kExtraFieldTexts; ++i)
        j["extra_fields"].push_back(texts.ExtraFieldText[static_cast<size_t>(i)]);
    j["shown"] = texts.Shown;
    j["grid"] = nlohmann::json::array();
    for (int r = 0; r < texts.FieldTableRows && r < kFieldTableRows; ++r) {
        const FieldEntry& e = texts.FieldTable[static_cast<size_t>(r)];
        j["grid"].push_back({e.Name, e.Value});
    }
    return j;
}

std::string DisplayLine(const DisplayTexts& texts)
{
    std::string line = texts.Shown;
    for (int r = 0; r < texts.FieldTableRows && r < kFieldTableRows; ++r) {
        const FieldEntry& e = texts.FieldTable[static_cast<size_t>(r)];
        line += " | " + e.Name + " " + e.Value;
    }
    return line;
}

DisplayWatch::DisplayWatch(std::function<void(const DisplayTexts&)> shown)
    : shown_(std::move(shown))
{
    SetClockDisplaySink([this](const std::string&, const FieldRows&, int) {
        if (TextBlocksSeen() == 0) {
            if (!waiting_said_.exchange(true))
                Say("waiting for the master's text block (the display formats)");
            return;
        }
        shown_(CurrentDisplayTexts());
    });
    ticker_ = std::thread([this] {
        auto next = std::chrono::steady_clock::now();
        while (!stop_.load()) {
            next += std::chrono::seconds(1);
            while (!stop_.load() && std::chrono::steady_clock::now() < next)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            DisplayTick.fetch_add(1);
        }
    });
}

DisplayWatch::~DisplayWatch()
{
    SetClockDisplaySink(nullptr);
    stop_.store(true);
    ticker_.join();
}

} // namespace chronavel::ctl

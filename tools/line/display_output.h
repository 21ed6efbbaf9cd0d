// The master's emulated display as the tool prints it, one line or one JSON
// object per status block, and the one-second display counter that the main
// window's timer keeps in the program.
#pragma once

#include "port/display.h"

#include <atomic>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace chronavel::ctl {

// {"main_field": [9], "extra_fields": [7], "shown": text, "grid": [[name, value]...]}
nlohmann::json DisplayJson(const DisplayTexts& texts);

// "14.05.09 | Дата 0612 | Температура 1 23°"
std::string DisplayLine(const DisplayTexts& texts);

// Installs a display sink that calls shown() with the texts after every
// status block (on the exchange thread), and counts DisplayTick up once a
// second for as long as it lives. Until the first text block has brought the
// display formats, the texts would be empty: those blocks are left out. The
// decoder must be the tracker's (InstallTracker).
class DisplayWatch {
public:
    explicit DisplayWatch(std::function<void(const DisplayTexts&)> shown);
    ~DisplayWatch();
    DisplayWatch(const DisplayWatch&) = delete;
    DisplayWatch& operator=(const DisplayWatch&) = delete;

private:
    std::function<void(const DisplayTexts&)> shown_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> waiting_said_{false};
    std::thread ticker_;
};

} // namespace chronavel::ctl

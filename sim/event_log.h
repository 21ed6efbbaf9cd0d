// --log FILE: one JSON object per line for every frame in either direction
// and for every time-set error.
#pragma once

#include "link/hex.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace chronavel::sim {

struct LoggedFrame {
    int64_t local_us = 0;
    const char* dir = "rx"; // "rx": from the program, "tx": from a clock
    uint8_t addr = 0;
    uint8_t addr2 = 0;
    uint8_t cmd = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    bool has_data = false;
    std::vector<uint8_t> data;
    bool check_ok = true;
    const char* note = nullptr; // fault applied, or why a frame was refused
};

class EventLog {
public:
    bool Open(const std::string& path, std::string* error);
    bool IsOpen() const { return out_.is_open(); }
    void Frame(const LoggedFrame& f);
    void TimeSet(int64_t local_us, uint8_t addr, const std::string& carried, double error_ms);
    void Note(int64_t local_us, const std::string& event, const std::string& detail);

private:
    std::ofstream out_;
};

} // namespace chronavel::sim

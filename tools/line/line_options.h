// Which line and clock a subcommand speaks to.
#pragma once

#include <cstdint>
#include <string>

namespace chronavel::ctl {

struct LineOptions {
    std::string Port;
    int Speed = 9600;
    uint8_t Addr = 0xFF;
};

} // namespace chronavel::ctl

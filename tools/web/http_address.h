// Where the daemon's web face listens.
#pragma once

#include <optional>
#include <string>

namespace chronavel::ctl {

// "127.0.0.1:8470", "[::1]:8470", "localhost:8470"; port 0 asks the
// system for a free one.
struct HttpAddress {
    std::string Host;
    int Port = 0;
    bool operator==(const HttpAddress&) const = default;
};
std::optional<HttpAddress> ParseHttpAddress(const std::string& text);

} // namespace chronavel::ctl

// What a running daemon is asked by `chronavelctl ask`: a census now, or a
// clock forgotten for good. Each request is a small file beside the daemon's
// state file (STATE.request-N, written whole), taken and removed at the
// daemon's next look; the asker waits for it to go. A file rather than a
// socket: it works alike on every system and under the service's rights,
// and the state file already names the daemon.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chronavel::ctl {

struct DaemonRequest {
    enum class Kind { kCensus, kForget };
    Kind What = Kind::kCensus;
    uint8_t Addr = 0; // kForget's clock
    bool operator==(const DaemonRequest&) const = default;
};

// "census" or "forget 0x05" (and back); nullopt, with why, for anything else.
std::optional<DaemonRequest> ParseRequest(const std::string& text, std::string* why);
std::string RequestText(const DaemonRequest& r);

// Writes a request for the daemon keeping state_file; its path, or "" with
// error set.
std::string PutRequest(const std::string& state_file, const DaemonRequest& r, std::string* error);

// The requests waiting for the daemon keeping state_file, in the order they
// were made, each file removed as it is read; a file that is not a request
// is removed too, and said in errors.
std::vector<DaemonRequest> TakeRequests(const std::string& state_file,
                                        std::vector<std::string>* errors);

} // namespace chronavel::ctl

// The port layer's failures: an English text for the operator, and a kind
// that callers test (never the text).
#pragma once

#include <string>

namespace chronavel {

enum class PortErrorKind {
    kCannotOpen,      // "Error opening port": missing, in use, no access
    kSettingsRefused, // "Error setting port state"
    kReadFailed,      // "Error reading port", the device still there
    kDeviceGone,      // the device vanished (adapter pulled, line closed)
};

// A failed port read, returned to the caller: its kind and the operator's
// text ("Error reading port").
struct ReadFailure {
    PortErrorKind Kind = PortErrorKind::kReadFailed;
    std::string Text;
    bool operator==(const ReadFailure&) const = default;
};

} // namespace chronavel

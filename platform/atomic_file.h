// Replacing a whole file in one step: the text goes to a temporary file
// beside it, on disk, then renamed over it, so a reader sees the old file or
// the new one, never half of one, even after a power cut.
#pragma once

#include <string>

namespace chronavel::platform {

// An error text on failure, empty on success. The temporary file does not
// outlive a failure. A file replaced keeps its permissions.
std::string WriteFileAtomically(const std::string& path, const std::string& text);

} // namespace chronavel::platform

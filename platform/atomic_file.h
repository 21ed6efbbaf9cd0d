// Replacing a whole file in one step: the text goes to a temporary file
// beside it, on disk, then renamed over it, so a reader sees the old file or
// the new one, never half of one, even after a power cut.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace chronavel::platform {

// An error text on failure, empty on success. The temporary file does not
// outlive a failure. A file replaced keeps its permissions; a new one gets
// those the umask leaves. A symbolic link at path is refused (renaming over
// it would put a plain file in its place and leave its target stale).
std::string WriteFileAtomically(const std::string& path, const std::string& text);

// Removes the temporaries of WriteFileAtomically for path that a writer
// killed between their creation and the rename left behind: files of
// exactly that name pattern, not links, last written longer than min_age
// ago (a writer at work has just made its own). The paths removed.
std::vector<std::string> RemoveStaleTemporaries(const std::string& path,
                                                std::chrono::seconds min_age);

} // namespace chronavel::platform

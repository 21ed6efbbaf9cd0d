// One holder at a time for a file shared between processes: a lock on a
// file beside it, held while the object lives and let go by the system
// when the process ends, however it ends.
#pragma once

#include <memory>
#include <string>

namespace chronavel::platform {

class FileLock {
public:
    // The lock on path + ".lock", created if need be; nullptr with a
    // message in error when another process holds it (held set, when
    // given) or it cannot be had (the folder not writable, say).
    static std::unique_ptr<FileLock> Take(const std::string& path, std::string* error,
                                          bool* held = nullptr);
    virtual ~FileLock() = default;
};

} // namespace chronavel::platform

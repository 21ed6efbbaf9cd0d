// A program run beside the caller, never waited for: started without a
// shell, with a few variables added to the caller's environment, polled for
// its end, killed when it has taken too long.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace chronavel::platform {

class ChildProcess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // argv[0] is looked up on PATH when it has no directory. Nullptr, with a
    // message in error, when it cannot be started.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                               const Environment& added, std::string* error);
    virtual ~ChildProcess() = default;

    // The exit status once it has ended (reaped); nullopt while it runs. A
    // program ended by a signal gives 128 + the signal.
    virtual std::optional<int> Poll() = 0;
    // Ends it and everything it started, at once.
    virtual void Kill() = 0;
};

} // namespace chronavel::platform

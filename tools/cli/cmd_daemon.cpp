// chronavelctl daemon: one daemon per state file, the --settings file
// loaded, then the loop (tools/daemon/daemon_loop.h).
#include "platform/atomic_file.h"
#include "platform/file_lock.h"
#include "platform/utf8_path.h"
#include "tools/cli/commands.h"
#include "tools/daemon/daemon_loop.h"
#include "tools/line/line.h"
#include "tools/line/tool_host.h"
#include "tools/line/tracker.h"
#include "tools/settings/config_file.h"
#include "tools/text/text.h"
#include "tools/web/http_status.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

namespace chronavel::ctl {

int RunDaemon(const LineOptions& options, const DaemonOptions& daemon)
{
    // One daemon per state file: a second would overwrite the first's
    // state with its own, and both would think they keep the line.
    std::unique_ptr<platform::FileLock> state_lock;
    if (!daemon.StateFile.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(platform::PathFromUtf8(daemon.StateFile), ec)) {
            Say("state file: " + ValidUtf8(daemon.StateFile) +
                " is a symbolic link, which the daemon would replace with a plain file; give the "
                "path of the file itself");
            return kExitUsage;
        }
        std::string error;
        bool held = false;
        state_lock = platform::FileLock::Take(daemon.StateFile, &error, &held);
        if (!state_lock) {
            // Only a lock another process holds means a second daemon; a
            // folder the daemon may not write (the service unit lets it
            // write only its state folder) is said as such.
            Say("state file: " + ValidUtf8(error) +
                (held ? "; another chronavelctl daemon keeps that state, not starting a second"
                      : "; the daemon needs a folder it may write for the state file and its "
                        "lock (under the service unit: /var/lib/chronavel)"));
            return kExitUsage;
        }
        // Holding the lock, no one else writes that state: a temporary
        // beside it is what a killed daemon left.
        for (const std::string& left :
             platform::RemoveStaleTemporaries(daemon.StateFile, std::chrono::seconds(0)))
            Say("state file: removed " + ValidUtf8(left) + ", left by a write that was cut off");
    }
    std::optional<ConfigFile> settings;
    if (!daemon.SettingsFile.empty()) {
        settings.emplace();
        if (const std::string why = LoadConfigFile(daemon.SettingsFile, *settings); !why.empty()) {
            Say("chronavelctl: --settings: " + ValidUtf8(why));
            return kExitUsage;
        }
    }
    ToolHost host;
    InstallSignalHandlers();
    Line line(options, host);
    InstallTracker(options.Addr);
    DaemonLoop loop(options, daemon, line, std::move(settings));
    return loop.Run();
}

} // namespace chronavel::ctl

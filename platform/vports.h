// Virtual serial ports: pseudo-terminals that the simulator and the tests
// publish as symlinks in one directory, so the port list shows them.
#pragma once

#include <string>

namespace chronavel::platform {

// $XDG_RUNTIME_DIR/chronavel/ports, or /tmp/chronavel-<uid>/ports when
// XDG_RUNTIME_DIR is unset. CHRONAVEL_PORTS_DIR overrides both (tests).
std::string VirtualPortDir();

// True when path is a directory (not a symlink) owned by this user that
// neither group nor others can write: nobody else can plant a port in it.
// Otherwise false, with the reason in problem (empty when it does not exist).
bool PrivateDirectory(const std::string& path, std::string* problem = nullptr);

// True when the virtual-port directory exists and may be trusted: it, and
// for the /tmp fallback also its parent, are private directories. A
// directory another user could have made or written is never used.
bool VirtualPortDirUsable(std::string* problem = nullptr);

// Creates the directory when missing (the /tmp fallback 0700, level by
// level) and checks it as above; false with the reason on failure.
bool EnsureVirtualPortDir(std::string* problem = nullptr);

} // namespace chronavel::platform

// Virtual serial ports: pseudo-terminals that the simulator and the tests
// publish as symlinks in one directory, so the port list shows them.
#pragma once

#include <string>

namespace chronavel::platform {

// $XDG_RUNTIME_DIR/chronavel/ports, or /tmp/chronavel-<uid>/ports when
// XDG_RUNTIME_DIR is unset. CHRONAVEL_PORTS_DIR overrides both (tests).
std::string VirtualPortDir();

// Creates the directory (and its parents) when missing; false on failure.
bool EnsureVirtualPortDir();

}  // namespace chronavel::platform

// What a command-line program needs of its console: the stop keys and
// whether a progress line can be redrawn.
#pragma once

#include <string>
#include <vector>

namespace chronavel::platform {

// Runs handler(signal number) on Ctrl+C (SIGINT) and on a request to end
// (SIGTERM where the system sends one). The handler may only set atomics.
void OnStopSignals(void (*handler)(int));

// Runs handler on a request to look again (SIGHUP where the system has
// one; nothing elsewhere, where the program is asked through files). The
// handler may only set atomics.
void OnReloadSignal(void (*handler)(int));

// True when standard error is a terminal (a console window on Windows).
bool StderrIsTerminal();

// Makes the console show the program's UTF-8 text as it is (Windows
// consoles start in the OEM code page); nothing to do elsewhere.
void UseUtf8Console();

// The program's arguments as UTF-8. Windows hands main() its argv in the
// ANSI code page, which cannot hold a name outside it: there they are
// read again from the wide command line. Elsewhere argv as it is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

} // namespace chronavel::platform

#include "platform/api_win32.h"
#include "platform/console.h"
#include "platform/utf16_win32.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <io.h>
#include <shellapi.h>

namespace chronavel::platform {

namespace {

std::atomic<void (*)(int)> stop_handler{nullptr};

// The C runtime turns Ctrl+C and Ctrl+Break into SIGINT and puts the
// default action back before each call: the handler is installed again.
extern "C" void OnSignal(int sig)
{
    std::signal(sig, &OnSignal);
    if (auto handler = stop_handler.load())
        handler(sig);
}

} // namespace

void OnStopSignals(void (*handler)(int))
{
    stop_handler.store(handler);
    std::signal(SIGINT, &OnSignal);
    std::signal(SIGBREAK, &OnSignal);
    std::signal(SIGTERM, &OnSignal);
}

void OnReloadSignal(void (*)(int)) {}

bool StderrIsTerminal()
{
    // A service or a windows program has no standard error at all (-2),
    // and the runtime ends the process on _isatty of that.
    const int fd = _fileno(stderr);
    return fd >= 0 && _isatty(fd) != 0;
}

void UseUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    // Split as the C runtime splits the narrow one, so both agree.
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::string> args;
    if (wide && n == argc) {
        for (int i = 0; i < n; ++i)
            args.push_back(Utf8FromWide(wide[i]));
    } else {
        args.assign(argv, argv + argc);
    }
    if (wide)
        LocalFree(wide);
    return args;
}

} // namespace chronavel::platform

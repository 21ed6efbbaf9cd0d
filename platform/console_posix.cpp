#include "platform/console.h"

#include <csignal>
#include <unistd.h>

namespace chronavel::platform {

void OnStopSignals(void (*handler)(int))
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void OnReloadSignal(void (*handler)(int))
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGHUP, &sa, nullptr);
}

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void UseUtf8Console() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

} // namespace chronavel::platform

// chronavelctl hash-password: a bcrypt hash for the web configuration's
// basic_auth_users, of a password typed at the terminal (twice, unseen) or
// given as the first line of standard input.
#include "tools/cli/commands.h"
#include "tools/web/web_config.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace chronavel::ctl {

namespace {

#ifndef _WIN32
// One line from the terminal with its echo off; false when the input ends.
bool ReadUnseen(const char* prompt, std::string& line)
{
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    termios before{};
    const bool tty = tcgetattr(STDIN_FILENO, &before) == 0;
    if (tty) {
        termios quiet = before;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
        std::fputs("\n", stderr);
    }
    return got;
}
#endif

} // namespace

int RunHashPassword()
{
#ifdef _WIN32
    std::fputs("chronavelctl: hash-password: this build of chronavelctl has no bcrypt; make the "
               "hash on a Linux machine\n",
               stderr);
    return kExitUsage;
#else
    std::string password;
    if (isatty(STDIN_FILENO)) {
        std::string again;
        if (!ReadUnseen("Password: ", password) || !ReadUnseen("Again: ", again))
            return kExitUsage;
        if (password != again) {
            std::fputs("chronavelctl: hash-password: the two passwords differ\n", stderr);
            return kExitUsage;
        }
    } else {
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
    }
    if (password.empty()) {
        std::fputs("chronavelctl: hash-password: an empty password\n", stderr);
        return kExitUsage;
    }
    std::string error;
    const std::string hash = BcryptHash(password, &error);
    if (hash.empty()) {
        std::fprintf(stderr, "chronavelctl: hash-password: %s\n", error.c_str());
        return kExitInternal;
    }
    std::printf("%s\n", hash.c_str());
    return kExitOk;
#endif
}

Verb AddHashPassword(CLI::App& app)
{
    auto* sub = app.add_subcommand(
        "hash-password", "Print a bcrypt hash of a password (typed twice, or the first line of "
                         "standard input) for basic_auth_users in --web-config");
    return {.Sub = sub, .Run = [](DaemonMode) { return RunHashPassword(); }};
}

} // namespace chronavel::ctl

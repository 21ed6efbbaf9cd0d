#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace chronavel::platform {

namespace {

class PosixChild : public ChildProcess {
public:
    explicit PosixChild(pid_t pid) : pid_(pid) {}
    ~PosixChild() override
    {
        // Never left a zombie: one still running is ended.
        if (!status_) {
            Kill();
            waitpid(pid_, nullptr, 0);
        }
    }

    std::optional<int> Poll() override
    {
        if (status_)
            return status_;
        int st = 0;
        const pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_)
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        else if (r < 0 && errno == ECHILD)
            status_ = 127; // reaped elsewhere: nothing more to learn
        return status_;
    }

    void Kill() override
    {
        if (!status_)
            kill(-pid_, SIGKILL); // its own process group: what it started goes too
    }

private:
    const pid_t pid_;
    std::optional<int> status_;
};

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const Environment& added, std::string* error)
{
    if (argv.empty()) {
        *error = "no program given";
        return nullptr;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        bool replaced = false;
        for (const auto& [name, value] : added)
            replaced = replaced || var.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            env.push_back(var);
    }
    for (const auto& [name, value] : added)
        env.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (std::string& a : argv_copy)
        args.push_back(a.data());
    args.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A group of its own, so a kill reaches what it starts; the daemon's
    // signal settings are not its.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        *error = argv[0] + ": " + std::strerror(rc);
        return nullptr;
    }
    return std::make_unique<PosixChild>(pid);
}

} // namespace chronavel::platform

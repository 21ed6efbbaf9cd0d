// Runs the built chronavelctl as a child process, with its output captured,
// against simulators published in a private virtual-port directory.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace chronavel::test {

inline std::string CtlPath()
{
    const char* dir = std::getenv("CHRONAVEL_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/tools/chronavelctl";
}

// A private virtual-port directory for the whole test program: set before
// any simulator starts, inherited by every child.
inline const std::string& PortsDir()
{
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ctl-test-XXXXXX").string();
        const char* made = mkdtemp(tmpl.data());
        std::string d = made ? made : "/tmp";
        setenv("CHRONAVEL_PORTS_DIR", d.c_str(), 1);
        // An empty serial-port tree: the tool must not probe real ports.
        setenv("CHRONAVEL_TTY_CLASS_DIR", (d + "/no-tty").c_str(), 1);
        return d;
    }();
    return dir;
}

struct CtlResult {
    int code = -1; // exit code; -1 when killed or not run
    std::string out;
    std::string err;
    double seconds = 0;
};

// A running chronavelctl.
class CtlProcess {
public:
    explicit CtlProcess(const std::vector<std::string>& args)
    {
        PortsDir();
        int out_pipe[2];
        int err_pipe[2];
        if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
        posix_spawn_file_actions_addclose(&fa, out_pipe[0]);
        posix_spawn_file_actions_addclose(&fa, err_pipe[0]);
        std::vector<std::string> all{CtlPath()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        start_ = std::chrono::steady_clock::now();
        if (posix_spawn(&pid_, all[0].c_str(), &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out_pipe[1]);
        close(err_pipe[1]);
        out_fd_ = out_pipe[0];
        err_fd_ = err_pipe[0];
    }
    ~CtlProcess()
    {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            Wait(5000);
        }
        if (out_fd_ >= 0)
            close(out_fd_);
        if (err_fd_ >= 0)
            close(err_fd_);
    }
    CtlProcess(const CtlProcess&) = delete;
    CtlProcess& operator=(const CtlProcess&) = delete;

    void Signal(int sig)
    {
        if (pid_ > 0 && !done_)
            kill(pid_, sig);
    }

    // Collects output until the process ends or limit_ms passes (then it is
    // killed and the code is -1).
    CtlResult Wait(int limit_ms)
    {
        const auto until = start_ + std::chrono::milliseconds(limit_ms);
        while (!done_) {
            Drain(20);
            int status = 0;
            const pid_t r = pid_ > 0 ? waitpid(pid_, &status, WNOHANG) : -1;
            if (r == pid_) {
                done_ = true;
                result_.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            } else if (r < 0) {
                done_ = true;
            } else if (std::chrono::steady_clock::now() > until) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                done_ = true;
                result_.code = -1;
            }
        }
        Drain(0);
        result_.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        return result_;
    }

    // What the process has written to standard error so far.
    std::string ErrSoFar()
    {
        Drain(0);
        return result_.err;
    }

private:
    void Drain(int wait_ms)
    {
        for (bool got = true; got; wait_ms = 0) {
            got = false;
            pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
            if (poll(fds, 2, wait_ms) <= 0)
                return;
            char buf[4096];
            for (int i = 0; i < 2; ++i) {
                if (fds[i].revents & (POLLIN | POLLHUP)) {
                    const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                    if (n > 0) {
                        (i == 0 ? result_.out : result_.err).append(buf, static_cast<size_t>(n));
                        got = true;
                    }
                }
            }
        }
    }

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool done_ = false;
    CtlResult result_;
    std::chrono::steady_clock::time_point start_;
};

inline CtlResult RunCtl(const std::vector<std::string>& args, int limit_ms = 60000)
{
    CtlProcess p(args);
    return p.Wait(limit_ms);
}

} // namespace chronavel::test

// The chronavel-sim program itself: start, publish, answer, signals.
#include "link/frames.h"
#include "support/wait.h"
#include "tests/sim/line_client.h"
#include "version.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace chronavel::sim {
namespace {

using testing::LineClient;
using testing::ParseReplies;
using testing::PortDir;

std::string ProgramPath()
{
    const char* dir = std::getenv("CHRONAVEL_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/sim/chronavel-sim";
}

// The build makes the program before these tests, so its absence is a
// fault of the build; skipping is only for a run that asks for it.
#define REQUIRE_PROGRAM()                                                                          \
    do {                                                                                           \
        if (std::filesystem::exists(ProgramPath()))                                                \
            break;                                                                                 \
        if (std::getenv("CHRONAVEL_ALLOW_MISSING_PROGRAMS"))                                       \
            GTEST_SKIP() << ProgramPath() << " not built";                                         \
        FAIL() << ProgramPath() << " not built (set CHRONAVEL_ALLOW_MISSING_PROGRAMS to skip)";    \
    } while (false)

class Program {
public:
    explicit Program(std::vector<std::string> args)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        args.insert(args.begin(), ProgramPath());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        out_ = out[0];
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }
    // Reads stdout until `marker` shows or the time is up.
    std::string ReadUntil(const std::string& marker, int ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (text_.find(marker) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buf[4096];
                const ssize_t n = read(out_, buf, sizeof buf);
                if (n <= 0)
                    break;
                text_.append(buf, static_cast<size_t>(n));
            }
        }
        return text_;
    }
    int Signal(int sig) { return kill(pid_, sig); }
    int Wait()
    {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool ok() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string text_;
};

TEST(SimProgram, PublishesAnswersAndCleansUpOnSignals)
{
    REQUIRE_PROGRAM();
    PortDir dir;
    Program p({"--clock", "1", "--master", "1", "--status", "--speed", "115200", "--seed", "5"});
    ASSERT_TRUE(p.ok());
    const std::string banner = p.ReadUntil("seed 5\n");
    const std::string link = dir.path() + "/sim0";
    EXPECT_NE(banner.find("link " + link), std::string::npos) << banner;
    ASSERT_TRUE(std::filesystem::exists(link));

    LineClient c(link);
    ASSERT_TRUE(c.ok());
    c.Read(400, 200); // the master's first blocks
    c.Flush();
    c.Write(BuildShortFrame(1, 0x74, 0x4D, 0));
    bool answered = false;
    for (const auto& r : ParseReplies(c.Read(1000, 300)))
        answered = answered || (r.cmd == 0x74 && r.p1 == 0x4D && r.p2 == 0x80);
    EXPECT_TRUE(answered);

    p.Signal(SIGUSR1);
    EXPECT_NE(p.ReadUntil("\"0x74\":1").find("\"frames_received\""), std::string::npos);
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

// A clock listed in the silence file stops answering while the program
// runs, and answers again once the file no longer lists it.
TEST(SimProgram, SilenceFileSilencesAndRevivesAClock)
{
    REQUIRE_PROGRAM();
    PortDir dir;
    const std::string file = dir.path() + "/silence";
    Program p({"--clock", "1", "--clock", "2", "--speed", "115200", "--silence-file", file});
    ASSERT_TRUE(p.ok());
    p.ReadUntil("seed ");
    LineClient c(dir.path() + "/sim0");
    ASSERT_TRUE(c.ok());
    const auto answers = [&](uint8_t addr) {
        c.Flush();
        c.Write(BuildShortFrame(addr, 0x74, 0x4D, 0));
        for (const auto& r : ParseReplies(c.Read(600, 200)))
            if (r.cmd == 0x74 && r.addr == addr)
                return true;
        return false;
    };
    const auto write_file = [&](const std::string& text) { std::ofstream(file) << text; };
    EXPECT_TRUE(answers(2)); // no file yet: nothing silenced
    // The file is read every 100 ms: the change shows within a few probes.
    write_file("2\n");
    EXPECT_TRUE(test::WaitUntil([&] { return !answers(2); }, std::chrono::milliseconds(5000)));
    EXPECT_TRUE(answers(1));
    write_file("");
    EXPECT_TRUE(test::WaitUntil([&] { return answers(2); }, std::chrono::milliseconds(5000)));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
}

// Settings per clock from a file (the tool's read-all --json form, or
// register=value lines) and a register whose reads go unanswered.
TEST(SimProgram, RegistersFromFilesAndASilentRegister)
{
    REQUIRE_PROGRAM();
    PortDir dir;
    const std::string json = dir.path() + "/clock1.json";
    const std::string lines = dir.path() + "/clock2.txt";
    std::ofstream(json) << R"({"Alarm1Time":"06:05","ClockAddr":9,"DayCorrection":-3,)"
                        << R"("Expo":[1,2,3,37,5,6,7,8,9],"Volume":5})";
    std::ofstream(lines) << "# clock 2\n0x3D=0x21\n67 = 7\n";
    Program p({"--clock", "1", "--clock", "2", "--speed", "115200", "--registers", "1:" + json,
               "--registers", "2:" + lines, "--silent-register", "2:0x4C"});
    ASSERT_TRUE(p.ok());
    p.ReadUntil("seed ");
    LineClient c(dir.path() + "/sim0");
    ASSERT_TRUE(c.ok());
    const auto value = [&](uint8_t addr, uint8_t reg) -> int {
        for (const auto& r : c.Exchange(BuildShortFrame(addr, 0x74, reg, 0), 600))
            if (r.cmd == 0x74 && r.addr == addr && r.p1 == reg)
                return r.p2;
        return -1;
    };
    const struct {
        uint8_t Addr, Reg;
        int Value;
    } cases[] = {{1, 0x3E, 0x06}, {1, 0x3F, 0x05}, {1, 0x51, 0xFF}, {1, 0x52, 0xFD},
                 {1, 0x2B, 37},   {1, 0x43, 5},    {1, 0x4C, 1}, // the address stays
                 {2, 0x3D, 0x21}, {2, 0x43, 7},    {2, 0x4C, -1}};
    for (const auto& k : cases)
        EXPECT_EQ(value(k.Addr, k.Reg), k.Value) << int(k.Addr) << " " << int(k.Reg);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);

    std::ofstream(lines) << "volume loud\n";
    Program bad({"--clock", "2", "--registers", "2:" + lines});
    EXPECT_EQ(bad.Wait(), 2);
}

TEST(SimProgram, RefusesBadArguments)
{
    REQUIRE_PROGRAM();
    PortDir dir;
    Program p({"--clock", "1", "--master", "2"});
    ASSERT_TRUE(p.ok());
    EXPECT_NE(p.Wait(), 0);
    Program q({"--broadcast-answer", "some"});
    EXPECT_NE(q.Wait(), 0);
}

TEST(SimProgram, PrintsTheProjectVersion)
{
    REQUIRE_PROGRAM();
    Program p({"--version"});
    ASSERT_TRUE(p.ok());
    const std::string expected = std::string("chronavel-sim ") + CHRONAVEL_VERSION + "\n";
    EXPECT_EQ(p.ReadUntil("\n"), expected);
    EXPECT_EQ(p.Wait(), 0);
}

} // namespace
} // namespace chronavel::sim

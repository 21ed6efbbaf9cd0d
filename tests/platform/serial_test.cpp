// The POSIX serial device on real pseudo-terminals: the slave side is the
// port, the test plays the line through the master side.
#include "platform/serial_posix.h"
#include "platform/termios2_linux.h"
#include "port/port.h"
#include "support/recorder_host.h"
#include "support/wait.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace chronavel {
namespace {

using platform::OpenSerial;
using platform::OpenStatus;
using platform::PosixSerial;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double ThreadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// A pseudo-terminal pair: the slave is opened by the code under test by
// path; the test reads and writes the master.
class Pty {
public:
    Pty()
    {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            return;
        path_ = name;
        ::close(slave);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { CloseMaster(); }

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    const std::string& path() const { return path_; }
    int master() const { return master_; }

    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    void Send(const std::vector<uint8_t>& bytes)
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Collects up to n bytes from the line, waiting at most timeout_ms in all.
    std::vector<uint8_t> Receive(size_t n, int timeout_ms = 2000)
    {
        std::vector<uint8_t> out;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (out.size() < n && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            uint8_t buf[256];
            ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0)
                out.insert(out.end(), buf, buf + r);
        }
        return out;
    }
    termios SlaveSettings() const
    {
        termios t{};
        tcgetattr(master_, &t); // on a master this reads the slave's settings
        return t;
    }

private:
    int master_ = -1;
    std::string path_;
};

std::shared_ptr<PosixSerial> OpenPty(const Pty& pty, int baud = 9600)
{
    OpenStatus status = OpenStatus::kOpenFailed;
    auto port = OpenSerial(pty.path(), baud, status);
    EXPECT_EQ(status, OpenStatus::kOk);
    return std::dynamic_pointer_cast<PosixSerial>(port);
}

// Bytes that a terminal in its cooked state would eat or change.
const std::vector<uint8_t> kAwkwardBytes = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x03,
                                            0x1C, 0x04, 0x7F, 0xFF, 0x55, 0x0D};

TEST(SerialPty, BytesRoundTripBothWaysUnchanged)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);

    ASSERT_TRUE(port->Write(kAwkwardBytes.data(), kAwkwardBytes.size()));
    EXPECT_EQ(pty.Receive(kAwkwardBytes.size()), kAwkwardBytes);

    pty.Send(kAwkwardBytes);
    std::vector<uint8_t> got(kAwkwardBytes.size());
    ASSERT_EQ(port->Read(got.data(), got.size()), static_cast<int>(got.size()));
    EXPECT_EQ(got, kAwkwardBytes);
}

TEST(SerialPty, LargeWriteArrivesWhole)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    // More than the pseudo-terminal buffers at once: the write has to wait
    // for the other side and go on.
    std::vector<uint8_t> block(65536 + 11);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> received;
    std::thread reader([&] { received = pty.Receive(block.size(), 10000); });
    EXPECT_TRUE(port->Write(block.data(), block.size()));
    reader.join();
    EXPECT_EQ(received, block);
}

TEST(SerialPty, WriteToALineNobodyTakesFromGivesUpAfterTheStallLimit)
{
    const std::vector<std::pair<int, int>> limits = {
        {115200, 2088}, {9600, 3066}, {300, 36133}, {0, 3066}, {-5, 3066}};
    for (const auto& [baud, ms] : limits)
        EXPECT_EQ(platform::WriteStallLimitMs(baud), ms) << baud;

    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty, 115200);
    ASSERT_TRUE(port);
    std::vector<uint8_t> block(1 << 20, 0x55); // far more than the buffers hold
    const auto start = Clock::now();
    EXPECT_FALSE(port->Write(block.data(), block.size()));
    const long long ms = MsSince(start);
    EXPECT_GE(ms, platform::WriteStallLimitMs(115200) - 20);
    EXPECT_LT(ms, 30000);
    EXPECT_FALSE(port->Lost()); // stuck, not gone: once drained it writes again
    EXPECT_FALSE(pty.Receive(block.size(), 1000).empty());
    uint8_t b = 0x42;
    EXPECT_TRUE(port->Write(&b, 1));
}

TEST(SerialSpeed, WithinThreePercentOfTheAskedRate)
{
    struct Case {
        int asked, actual;
        bool ok;
    };
    const Case cases[] = {
        {9600, 9600, true},      {9600, 9888, true},     {9600, 9889, false},
        {9600, 9312, true},      {9600, 9311, false},    {250000, 242500, true},
        {250000, 242499, false}, {115200, 111744, true}, {31250, 38400, false},
        {9600, 0, false},        {0, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::WithinSpeedTolerance(c.asked, c.actual), c.ok)
            << c.asked << " -> " << c.actual;
}

TEST(SerialPty, LineIsRaw8N1WithoutFlowControl)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    termios t = pty.SlaveSettings();
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST(SerialPty, ReadTimeOuts)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->ReadTimeoutPerByte(), 80);

    // Silent line: 5 bytes asked for, 5 x 80 ms later nothing.
    uint8_t buf[8];
    auto start = Clock::now();
    EXPECT_EQ(port->Read(buf, 5), 0);
    long long ms = MsSince(start);
    EXPECT_GE(ms, 300);
    EXPECT_LE(ms, 1500);

    // Part of what was asked for: it comes back after the time-out.
    pty.Send({0x41, 0x42});
    start = Clock::now();
    EXPECT_EQ(port->Read(buf, 5), 2);
    ms = MsSince(start);
    EXPECT_GE(ms, 300);
    EXPECT_LE(ms, 1500);
    EXPECT_EQ(buf[0], 0x41);
    EXPECT_EQ(buf[1], 0x42);

    EXPECT_EQ(port->Read(buf, 0), 0);

    // After a silent read the next one waits before it reads: a byte that
    // is already there still comes back at once, not after the time-out.
    EXPECT_EQ(port->Read(buf, 1), 0);
    port->SetReadTimeoutPerByte(5000);
    pty.Send({0x43});
    start = Clock::now();
    EXPECT_EQ(port->Read(buf, 1), 1);
    EXPECT_LT(MsSince(start), 2500);
    EXPECT_EQ(buf[0], 0x43);
}

TEST(SerialPty, OneByteReadReturnsAsSoonAsTheByteArrives)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    port->SetReadTimeoutPerByte(5000);

    std::thread line([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Send({0x5A});
    });
    uint8_t b = 0;
    auto start = Clock::now();
    EXPECT_EQ(port->Read(&b, 1), 1);
    long long ms = MsSince(start);
    line.join();
    EXPECT_EQ(b, 0x5A);
    EXPECT_LT(ms, 2500); // far short of the 5 s time-out
}

TEST(SerialPty, PurgeDropsPendingInput)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    // A second descriptor on the port's side, opened before the port claims
    // it, only to see how much input is queued there.
    const int watch = ::open(pty.path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watch, 0);
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    pty.Send({1, 2, 3, 4});
    const bool queued = test::WaitUntil([&] {
        int n = 0;
        return ::ioctl(watch, FIONREAD, &n) == 0 && n >= 4;
    });
    ::close(watch);
    ASSERT_TRUE(queued);
    EXPECT_TRUE(port->Purge());
    uint8_t buf[4];
    EXPECT_EQ(port->Read(buf, 4), 0);

    pty.Send({9});
    EXPECT_EQ(port->Read(buf, 1), 1);
    EXPECT_EQ(buf[0], 9);
}

TEST(SerialPty, SpeedStandardAndNonStandard)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty, 9600);
    ASSERT_TRUE(port);
    int baud = 0;
    ASSERT_TRUE(port->Speed(baud));
    EXPECT_EQ(baud, 9600);

    EXPECT_TRUE(port->SetSpeed(19200));
    ASSERT_TRUE(port->Speed(baud));
    EXPECT_EQ(baud, 19200);
    termios settings = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&settings), B19200);

    EXPECT_TRUE(port->SetSpeed(250000));
    ASSERT_TRUE(port->Speed(baud));
    EXPECT_EQ(baud, 250000);

    EXPECT_FALSE(port->SetSpeed(0));
    EXPECT_FALSE(port->SetSpeed(-9600));
    ASSERT_TRUE(port->Speed(baud));
    EXPECT_EQ(baud, 250000);

    // Only the speed changed: the framing of the open is still in force.
    termios t = pty.SlaveSettings();
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
}

TEST(SerialPty, OpenAtNonStandardSpeed)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty, 31250);
    ASSERT_TRUE(port);
    int baud = 0;
    ASSERT_TRUE(port->Speed(baud));
    EXPECT_EQ(baud, 31250);
}

TEST(SerialPty, VanishedDeviceFailsWithoutSpinning)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    port->SetReadTimeoutPerByte(400); // a 5-byte read would wait 2 s

    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.CloseMaster();
    });
    uint8_t buf[5];
    auto start = Clock::now();
    double cpu = ThreadCpuMs();
    EXPECT_EQ(port->Read(buf, 5), -1);
    long long ms = MsSince(start);
    cpu = ThreadCpuMs() - cpu;
    unplug.join();
    EXPECT_LT(ms, 1500);
    EXPECT_LT(cpu, 100.0);
    EXPECT_TRUE(port->Lost());

    // Every later call fails at once.
    cpu = ThreadCpuMs();
    start = Clock::now();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(port->Read(buf, 5), -1);
    EXPECT_LT(MsSince(start), 500);
    EXPECT_FALSE(port->Write(buf, 1));
    uint32_t word = 0;
    EXPECT_FALSE(port->ClearErrors(word));
}

TEST(SerialPty, WriteToVanishedDeviceFails)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    pty.CloseMaster();
    uint8_t b = 0x33;
    EXPECT_FALSE(port->Write(&b, 1));
    EXPECT_TRUE(port->Lost());
}

TEST(SerialPty, DrainWaitsForTheOutputAndFailsOnAClosedPort)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    const std::vector<uint8_t> frame(64, 0x5A);
    ASSERT_TRUE(port->Write(frame.data(), frame.size()));
    EXPECT_TRUE(port->Drain());
    port->Close();
    EXPECT_FALSE(port->Drain());
}

TEST(SerialPty, ReadAndWriteFromTwoThreads)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    constexpr int kBytes = 200;
    std::atomic<int> read_total{0};
    std::thread reader([&] {
        uint8_t b[16];
        for (int i = 0; i < 100 && read_total < kBytes; ++i) {
            int r = port->Read(b, std::min<size_t>(sizeof b, kBytes - read_total));
            if (r > 0)
                read_total += r;
        }
    });
    std::vector<uint8_t> out(kBytes, 0xA5);
    for (int i = 0; i < kBytes; i += 20)
        ASSERT_TRUE(port->Write(out.data() + i, 20));
    std::vector<uint8_t> in(kBytes, 0x5A);
    pty.Send(in);
    EXPECT_EQ(pty.Receive(kBytes), out);
    reader.join();
    EXPECT_EQ(read_total, kBytes);
}

TEST(SerialPty, CloseReleasesTheDeviceWhileAReadIsWaiting)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPty(pty);
    ASSERT_TRUE(port);
    std::atomic<int> result{99};
    std::thread reader([&] {
        uint8_t b[3];
        result = port->Read(b, 3);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port->Close();
    port->Close(); // twice is harmless

    // The claim is gone at once: the device can be opened again.
    OpenStatus status = OpenStatus::kOpenFailed;
    auto again = OpenSerial(pty.path(), 9600, status);
    EXPECT_EQ(status, OpenStatus::kOk);
    EXPECT_TRUE(again);
    reader.join();
    EXPECT_LE(result, 0);

    uint8_t b = 1;
    EXPECT_EQ(port->Read(&b, 1), -1);
    EXPECT_FALSE(port->Write(&b, 1));
}

// The port layer over the same devices: what an opening came to, told to
// no one (the caller tells the operator).
class PortOpen : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(host.Messages().empty()); }
    test::RecorderHost host;
};

void ExpectNotOpened(const PortOpening& opened, PortErrorKind kind, const char* text)
{
    EXPECT_EQ(opened.port, nullptr);
    EXPECT_EQ(opened.error, kind);
    EXPECT_EQ(opened.text, text);
}

TEST_F(PortOpen, SecondOpenOfTheSameDeviceFails)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto first = OpenPort(pty.path(), 9600);
    ASSERT_TRUE(first);

    const PortOpening second = TryOpenPort(pty.path(), 9600);
    ExpectNotOpened(second, PortErrorKind::kCannotOpen, "Error opening port");
    // Busy, and the holder (this very process) found by its open device.
    EXPECT_EQ(second.failure.cause, platform::OpenCause::kBusy);
    ASSERT_EQ(second.failure.holders.size(), 1u);
    EXPECT_EQ(second.failure.holders[0].pid, ::getpid());
    EXPECT_NE(OpenFailureMessage(second, pty.path())
                  .find("\nПорт " + pty.path() + " занят другой программой: PID " +
                        std::to_string(::getpid())),
              std::string::npos)
        << OpenFailureMessage(second, pty.path());

    // Another program's open is kept out too (the lock holds even for root).
    int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }

    first->Close();
    auto third = OpenPort(pty.path(), 9600);
    EXPECT_TRUE(third);
}

TEST_F(PortOpen, MissingDeviceFails)
{
    for (const char* name : {"/dev/chronavel-no-such-port", "ttyChronavelMissing", ""}) {
        SCOPED_TRACE(name);
        const PortOpening opened = TryOpenPort(name, 9600);
        ExpectNotOpened(opened, PortErrorKind::kCannotOpen, "Error opening port");
        if (*name != '\0') { // "/dev/" is there, but as a folder
            EXPECT_EQ(opened.failure.cause, platform::OpenCause::kAbsent);
        }
    }
}

TEST(OpenCause, SystemErrorsByCause)
{
    using platform::OpenCause;
    const std::vector<std::pair<int, OpenCause>> cases = {
        {0, OpenCause::kNone},        {EACCES, OpenCause::kDenied},    {EPERM, OpenCause::kDenied},
        {EBUSY, OpenCause::kBusy},    {EWOULDBLOCK, OpenCause::kBusy}, {ENOENT, OpenCause::kAbsent},
        {ENODEV, OpenCause::kAbsent}, {ENXIO, OpenCause::kAbsent},     {EIO, OpenCause::kOther},
    };
    for (const auto& [err, cause] : cases)
        EXPECT_EQ(platform::OpenCauseOf(err), cause) << err;
}

// What the operator reads for each cause: the way out, in each language.
TEST(OpenFailureCause, EachCauseSaysTheWayOut)
{
    using platform::OpenCause;
    auto failure = [](OpenCause cause) {
        platform::OpenFailure f;
        f.cause = cause;
        f.user = "anna";
        return f;
    };
    platform::OpenFailure dialout = failure(OpenCause::kDenied);
    dialout.group = "dialout";
    platform::OpenFailure joined = dialout;
    joined.user_in_group = true;
    platform::OpenFailure root = failure(OpenCause::kDenied);
    root.group = "root";
    platform::OpenFailure held = failure(OpenCause::kBusy);
    held.holders = {{812, "chronavelctl"}, {990, ""}};
    platform::OpenFailure other = failure(OpenCause::kOther);
    other.code = EIO;
    other.system_text = "Input/output error";
    struct Case {
        platform::OpenFailure failure;
        Words words;
        std::vector<std::string> said;
        std::string never;
    };
    const std::vector<Case> cases = {
        {dialout,
         Words::kEnglish,
         {"group dialout", "'sudo usermod -aG dialout anna'", "log out"},
         ""},
        {dialout,
         Words::kRussian,
         {"группе dialout", "«sudo usermod -aG dialout anna»", "войдите снова"},
         ""},
        {joined, Words::kEnglish, {"anna is in it", "log out and in again"}, "usermod"},
        {root, Words::kEnglish, {"administrator"}, "usermod"},
        {held,
         Words::kEnglish,
         {"in use by another program: PID 812 (chronavelctl), PID 990;",
          "'sudo systemctl stop chronavel-sync@ttyUSB0'"},
         ""},
        {failure(OpenCause::kBusy),
         Words::kRussian,
         {"занят другой программой: службой синхронизации"},
         ""},
        {failure(OpenCause::kAbsent),
         Words::kEnglish,
         {"/dev/ttyUSB0 is not there", "chronavelctl ports"},
         ""},
        {failure(OpenCause::kAbsent),
         Words::kRussian,
         {"Порта ttyUSB0 нет", "адаптер не подключён"},
         ""},
        {other, Words::kEnglish, {"Input/output error (error 5)"}, ""},
    };
    for (const Case& c : cases) {
        const std::string text = OpenFailureCause(c.failure, "ttyUSB0", "/dev/ttyUSB0", c.words);
        for (const std::string& part : c.said)
            EXPECT_NE(text.find(part), std::string::npos) << text << " lacks " << part;
        if (!c.never.empty()) {
            EXPECT_EQ(text.find(c.never), std::string::npos) << text;
        }
    }
    EXPECT_EQ(
        OpenFailureCause(failure(OpenCause::kNone), "ttyUSB0", "/dev/ttyUSB0", Words::kEnglish),
        "");
    // A COM port is named as the operator knows it, not by its device path.
    EXPECT_EQ(OpenFailureCause(failure(OpenCause::kAbsent), "COM7", "\\\\.\\COM7", Words::kRussian),
              "Порта COM7 нет: адаптер не подключён или порт называется иначе.");
}

// A user outside the device's group, as a desktop user is outside dialout:
// the open is refused, and the texts name the group and the command. The
// tests run as root, so the open runs in a child that became nobody.
TEST(PortOpenDenied, NamesTheGroupAndTheCommand)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    Pty pty;
    ASSERT_TRUE(pty.ok());
    // The port as Debian has its serial ports: group dialout, rw for it.
    const group* gr = ::getgrnam("dialout");
    if (!gr)
        GTEST_SKIP() << "no group dialout here";
    const std::string device_group = gr->gr_name;
    ASSERT_EQ(::chown(pty.path().c_str(), 0, gr->gr_gid), 0);
    ASSERT_EQ(::chmod(pty.path().c_str(), 0660), 0);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const PortOpening opened = TryOpenPort(pty.path(), 9600);
        const std::string said =
            std::to_string(static_cast<int>(opened.failure.cause)) + "\n" +
            OpenFailureCause(opened.failure, pty.path(), pty.path(), Words::kEnglish) + "\n" +
            OpenFailureMessage(opened, pty.path());
        const bool written =
            ::write(out[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
        ::_exit(opened.port || !written ? 1 : 0);
    }
    ::close(out[1]);
    std::string said;
    char buf[1024];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        said.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << " " << said;
    EXPECT_EQ(said.substr(0, 2),
              std::to_string(static_cast<int>(platform::OpenCause::kDenied)) + "\n");
    EXPECT_NE(said.find("permission denied: " + pty.path() + " belongs to group " + device_group +
                        ", which user nobody is not in; join it with 'sudo usermod -aG " +
                        device_group + " nobody', then log out and in again"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("\nError opening port\nНет доступа к порту " + pty.path() +
                        ": он принадлежит группе " + device_group),
              std::string::npos)
        << said;
}

TEST_F(PortOpen, DeviceThatCannotBeConfiguredIsClosedAgain)
{
    // A plain file opens but is no terminal.
    char path[] = "/tmp/chronavel-notatty-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ExpectNotOpened(TryOpenPort(path, 9600), PortErrorKind::kSettingsRefused,
                    "Error setting port state");
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "left claimed";
    ::close(fd);
    ::unlink(path);

    Pty pty;
    ASSERT_TRUE(pty.ok());
    ExpectNotOpened(TryOpenPort(pty.path(), 0), PortErrorKind::kSettingsRefused,
                    "Error setting port state");
    auto port = OpenPort(pty.path(), 9600); // nothing left holding it
    EXPECT_TRUE(port);
}

TEST_F(PortOpen, SetPortSpeedKeepsTheFraming)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto port = OpenPort(pty.path(), 9600);
    ASSERT_TRUE(port);
    EXPECT_EQ(SetPortSpeed(*port, 19200), "");
    termios t = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(SetPortSpeed(*port, 0), "Error setting port state");
}

TEST_F(PortOpen, ClosePortMarksItClosedAndReleasesTheDevice)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortHandle.Set(OpenPort(pty.path(), 9600));
    ASSERT_TRUE(PortHandle);
    auto held = PortHandle.Get(); // as a thread in the middle of a pass would
    ClosePort();
    EXPECT_FALSE(PortHandle);
    uint8_t b = 0;
    EXPECT_EQ(held->Read(&b, 1), -1);
    PortHandle.Set(OpenPort(pty.path(), 9600));
    EXPECT_TRUE(PortHandle);
    ClosePort();
    ClosePort(); // closing no port is harmless
    EXPECT_TRUE(host.Messages().empty());
}

} // namespace
} // namespace chronavel

// The line-status check: the error word built from the driver's counters,
// and which message (if any) the check shows for it.
#include "app/core_state.h"
#include "link/reception.h"
#include "platform/serial_posix.h"
#include "port/port.h"
#include "support/recorder_host.h"
#include "testkit/fake_port.h"

#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace chronavel {
namespace {

using platform::CounterRead;
using platform::LineCounters;

TEST(LineErrorWord, EachCounterSetsItsFlag)
{
    const LineCounters zero;
    LineCounters c;
    c.buf_overrun = 1;
    EXPECT_EQ(platform::ErrorWordFromCounters(zero, c), 0x0001u);
    c = {};
    c.overrun = 3;
    EXPECT_EQ(platform::ErrorWordFromCounters(zero, c), 0x0002u);
    c = {};
    c.parity = 1;
    EXPECT_EQ(platform::ErrorWordFromCounters(zero, c), 0x0004u);
    c = {};
    c.frame = 2;
    EXPECT_EQ(platform::ErrorWordFromCounters(zero, c), 0x0008u);
    c = {};
    c.brk = 1;
    EXPECT_EQ(platform::ErrorWordFromCounters(zero, c), 0x0010u);

    c = {};
    c.frame = 1;
    c.overrun = 1;
    EXPECT_EQ(platform::ErrorWordFromCounters(zero, c), 0x000Au);
    EXPECT_EQ(platform::ErrorWordFromCounters(c, c), 0u);

    // The driver's totals wrap around; a change is a change.
    LineCounters before;
    before.frame = 0xFFFFFFFFu;
    LineCounters after;
    EXPECT_EQ(platform::ErrorWordFromCounters(before, after), 0x0008u);
}

TEST(LineErrorMessage, TableMatchesTheWholeWord)
{
    EXPECT_EQ(LineErrorMessage(0), "Ошибка соединения");
    EXPECT_EQ(LineErrorMessage(0x0001), " Входной буфер полон, приём невозможен");
    EXPECT_EQ(LineErrorMessage(0x0002), " Входной буфер переполнен, Потеря байтов ");
    EXPECT_EQ(LineErrorMessage(0x0004), " Ошибка чётности принятых данных");
    EXPECT_EQ(LineErrorMessage(0x0008), " Ошибка синхронизации кадра");
    EXPECT_EQ(LineErrorMessage(0x0010), "Нарушен обмен данными ");
    EXPECT_EQ(LineErrorMessage(0x0100), " Выходной буфер полный");
    EXPECT_EQ(LineErrorMessage(0x0400), " Ошибка ввода вывода");
    EXPECT_EQ(LineErrorMessage(0x8000), " Неподдерживаемый режим ");

    EXPECT_EQ(LineErrorMessage(0x0003), ""); // two flags: no message, never joined
    EXPECT_EQ(LineErrorMessage(0x0018), "");
    EXPECT_EQ(LineErrorMessage(0x0020), "");
    EXPECT_EQ(LineErrorMessage(0xFFFFFFFFu), "");
}

// A pseudo-terminal port whose driver counters the test sets.
class LineStatus : public ::testing::Test {
protected:
    void SetUp() override
    {
        int slave = -1;
        char name[128] = {};
        ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        platform::OpenStatus status;
        port_ = std::dynamic_pointer_cast<platform::PosixSerial>(
            platform::OpenSerial(name, 9600, status));
        ASSERT_TRUE(port_);
    }
    void TearDown() override
    {
        port_.reset();
        if (master_ >= 0)
            ::close(master_);
    }
    void InjectCounters()
    {
        port_->SetCounterSource([this](int, LineCounters& out) {
            std::lock_guard<std::mutex> hold(lock_);
            out = counters_;
            return result_;
        });
    }
    void Set(const LineCounters& c, CounterRead r = CounterRead::kOk)
    {
        std::lock_guard<std::mutex> hold(lock_);
        counters_ = c;
        result_ = r;
    }
    std::vector<std::string> Check()
    {
        host_.Clear();
        ShowLineErrors(port_.get());
        return host_.Messages();
    }

    test::RecorderHost host_;
    int master_ = -1;
    std::shared_ptr<platform::PosixSerial> port_;
    std::mutex lock_;
    LineCounters counters_;
    CounterRead result_ = CounterRead::kOk;
};

TEST_F(LineStatus, WordCountsOnlyWhatChangedSinceTheLastCheck)
{
    LineCounters c;
    c.frame = 5; // errors from before the port was taken over
    Set(c);
    InjectCounters();
    uint32_t word = 99;
    ASSERT_TRUE(port_->ClearErrors(word));
    EXPECT_EQ(word, 0u);

    c.frame = 6;
    Set(c);
    ASSERT_TRUE(port_->ClearErrors(word));
    EXPECT_EQ(word, 0x0008u);
    ASSERT_TRUE(port_->ClearErrors(word)); // reading clears it
    EXPECT_EQ(word, 0u);

    c.parity = 1;
    c.overrun = 7;
    Set(c);
    ASSERT_TRUE(port_->ClearErrors(word));
    EXPECT_EQ(word, 0x0006u);
}

TEST_F(LineStatus, MessagesShown)
{
    InjectCounters();
    LineCounters c;
    EXPECT_TRUE(Check().empty()) << "clean line";

    c.frame = 1;
    Set(c);
    EXPECT_EQ(Check(), std::vector<std::string>{" Ошибка синхронизации кадра"});
    EXPECT_TRUE(Check().empty()) << "the error was cleared by the first check";

    c.buf_overrun = 1;
    Set(c);
    EXPECT_EQ(Check(), std::vector<std::string>{" Входной буфер полон, приём невозможен"});

    c.brk = 1;
    Set(c);
    EXPECT_EQ(Check(), std::vector<std::string>{"Нарушен обмен данными "});

    c.overrun = 1;
    c.parity = 1;
    Set(c);
    EXPECT_TRUE(Check().empty()) << "two flags have no message";

    Set(c, CounterRead::kNone);
    EXPECT_TRUE(Check().empty()) << "no counters: a clean line";

    Set(c, CounterRead::kFailed);
    EXPECT_EQ(Check(), std::vector<std::string>{"Ошибка соединения"});
}

TEST_F(LineStatus, PseudoTerminalIsCleanUntilItVanishes)
{
    EXPECT_TRUE(Check().empty());
    ::close(master_);
    master_ = -1;
    EXPECT_EQ(Check(), std::vector<std::string>{"Ошибка соединения"});
}

TEST(LineStatusCheck, OtherWordsAndNoPort)
{
    test::RecorderHost host;
    test::FakePort port;
    port.error_word = platform::kTxFull;
    ShowLineErrors(&port);
    port.error_word = platform::kMode;
    ShowLineErrors(&port);
    port.error_word = platform::kIoError;
    ShowLineErrors(&port);
    ShowLineErrors(&port); // cleared
    ShowLineErrors(nullptr);
    EXPECT_EQ(host.Messages(),
              (std::vector<std::string>{" Выходной буфер полный", " Неподдерживаемый режим ",
                                        " Ошибка ввода вывода"}));
    host.Clear();
    port.fail_status = true;
    ShowLineErrors(&port);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Ошибка соединения"});
}

// Callers tell the port's failures apart by their kind; the operator keeps
// the English texts.
class KindHost : public test::RecorderHost {
public:
    void ShowPortError(PortErrorKind kind, const std::string& text) override
    {
        kinds.push_back(kind);
        RecorderHost::ShowPortError(kind, text);
    }
    std::vector<PortErrorKind> kinds;
};

class GonePort : public test::FakePort {
public:
    bool Lost() const override { return true; }
};

TEST(PortErrorKinds, EachFailureCarriesItsKindAndItsText)
{
    struct Case {
        const char* Name;
        std::function<void()> Fail;
        PortErrorKind Kind;
        std::string Text;
    };
    auto failing = std::make_shared<test::FakePort>();
    failing->fail_reads = true;
    auto gone = std::make_shared<GonePort>();
    gone->fail_reads = true;
    gone->fail_status = true;
    auto failed = [](const std::optional<ReadFailure>& failure) {
        ASSERT_TRUE(failure);
        CurrentHost().ShowPortError(failure->Kind, failure->Text);
    };
    auto returned = [](const std::string& name) {
        const PortOpening opened = TryOpenPort(name, 9600);
        EXPECT_EQ(opened.port, nullptr);
        CurrentHost().ShowPortError(opened.error, opened.text);
    };
    const Case cases[] = {
        {"missing device", [&] { returned("/nonexistent/ttyX"); }, PortErrorKind::kCannotOpen,
         "Error opening port"},
        {"not a terminal", [&] { returned("/dev/null"); }, PortErrorKind::kSettingsRefused,
         "Error setting port state"},
        {"read fails",
         [&] {
             PortHandle.Set(failing);
             EXPECT_EQ(ReadByte(), 0u);
         },
         PortErrorKind::kReadFailed, "Error reading port"},
        {"device gone, byte read",
         [&] {
             PortHandle.Set(gone);
             EXPECT_EQ(ReadByte(), 0u);
         },
         PortErrorKind::kDeviceGone, "Error reading port"},
        {"device gone, block read",
         [&] {
             PortHandle.Set(gone);
             failed(ReadBlock(4).Failure);
         },
         PortErrorKind::kDeviceGone, "Error reading port"},
        {"device gone, status check", [&] { ShowLineErrors(gone.get()); },
         PortErrorKind::kDeviceGone, "Ошибка соединения"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ResetCoreState();
        KindHost host;
        c.Fail();
        EXPECT_EQ(host.kinds, std::vector<PortErrorKind>{c.Kind});
        EXPECT_EQ(host.Messages(), std::vector<std::string>{c.Text});
    }
    ResetCoreState();
}

} // namespace
} // namespace chronavel

// The connection dialog's decisions: the address list and recipient, the
// speed text, and "Подключить" against real pseudo-terminals.
#include "app/connect.h"
#include "app/ini_file_chronavel.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "port/port.h"
#include "port/port_list.h"
#include "support/recorder_host.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace chronavel {
namespace {

TEST(ConnectTest, AddressListHasEveryBusAddress)
{
    const std::vector<std::string> list = AddressEntries();
    ASSERT_EQ(list.size(), 256u);
    EXPECT_EQ(list[0], "$00/0");
    EXPECT_EQ(list[5], "$05/5");
    EXPECT_EQ(list[10], "$0A/10");
    EXPECT_EQ(list[255], "$FF/255");
}

TEST(ConnectTest, RecipientRules)
{
    struct Case {
        bool to_all;
        int index;
        uint8_t expected;
    };
    const Case cases[] = {
        {true, 5, 0xFF},    // "Всем" whatever the list holds
        {false, 5, 5},      // "$05/5"
        {false, 0, 0},      // "$00/0"
        {false, 255, 0xFF}, // "$FF/255" is all clocks too
        {false, -1, 0xFF},  // nothing chosen: the low byte of -1
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChosenAddress(c.to_all, c.index), c.expected) << c.to_all << " " << c.index;
}

TEST(ConnectTest, SpeedText)
{
    const std::pair<std::string, std::optional<int32_t>> cases[] = {
        {"9600", 9600},
        {"115200", 115200},
        {" 19200 ", 19200},
        {"+300", 300},
        {"-5", -5},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"12abc", std::nullopt},
        {"0x10", std::nullopt},
        {"1.5", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483648", INT32_MIN},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseSpeed(text), expected) << '"' << text << '"';
    EXPECT_EQ(SpeedErrorText("abc"), "Скорость «abc» не является целым десятичным числом.");
}

// A pseudo-terminal: the program opens its slave side by path.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty()
    {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty()
    {
        ::close(slave);
        ::close(master);
    }
    // True once a time-setting frame for addr has come out of the program's
    // side; the bound is generous (the frame waits for a second boundary).
    bool SawTimeFrame(uint8_t addr) const
    {
        const std::vector<uint8_t> head = {kSync, 0x00, addr, kCmdSetTime, 0x00, 7};
        std::vector<uint8_t> seen;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            uint8_t buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                return false;
            seen.insert(seen.end(), buf, buf + n);
            if (std::search(seen.begin(), seen.end(), head.begin(), head.end()) != seen.end())
                return true;
        }
        return false;
    }
    speed_t Speed() const
    {
        termios t{};
        tcgetattr(master, &t); // the slave's settings, seen from the master
        return cfgetospeed(&t);
    }
};

class NullBox final : public PortBox {
public:
    void Clear() override {}
    void Add(const std::string&) override {}
    void Select(int) override {}
};

class ConnectLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(a_.path.empty());
        ASSERT_FALSE(b_.path.empty());
        ResetExchangeState();
        ResetRequestState();
        ResetSettings();
        Connection.ComPort = "COM1";
        Connection.ComSpeed = 9600;
        NullBox box;
        EnumPorts(box, Connection.ComPort, {{a_.path, "pty", true}, {b_.path, "pty", true}});
    }
    void TearDown() override
    {
        ResetExchangeState();
        ClosePort();
        ResetRequestState();
        ResetSettings();
    }
    static ConnectChoice Choice(const std::string& speed, int port, bool to_all = true,
                                int address = -1)
    {
        ConnectChoice c;
        c.SpeedText = speed;
        c.PortIndex = port;
        c.PortCount = 2;
        c.ToAll = to_all;
        c.AddressIndex = address;
        return c;
    }

    Pty a_, b_;
    test::RecorderHost host_;
};

TEST_F(ConnectLineTest, RefusalsChangeNothing)
{
    EXPECT_EQ(Connect(Choice("слово", 0)), ConnectResult::kStayOpen);
    ConnectChoice none = Choice("9600", -1);
    none.PortCount = 0;
    EXPECT_EQ(Connect(none), ConnectResult::kStayOpen);
    EXPECT_EQ(host_.Messages(), (std::vector<std::string>{SpeedErrorText("слово"), kNoPortText}));
    EXPECT_FALSE(PortHandle.Get());
    EXPECT_FALSE(ExchangeThread.Get());
    EXPECT_EQ(Connection.ComSpeed, 9600);
    EXPECT_EQ(Connection.TargetAddress, 0);
}

TEST_F(ConnectLineTest, SpeedAndPortChanges)
{
    // First connection: the port opens and an exchange thread runs on it.
    ASSERT_EQ(Connect(Choice("9600", 0)), ConnectResult::kClose);
    const platform::SerialPtr first = PortHandle.Get();
    ASSERT_TRUE(first);
    std::shared_ptr<TNewThread> t1 = ExchangeThread.Get();
    ASSERT_TRUE(t1 && t1->Running());
    EXPECT_EQ(Connection.ComPort, a_.path);
    EXPECT_EQ(Connection.TargetAddress, 0xFF);
    EXPECT_EQ(a_.Speed(), B9600);

    // Another speed on the same port: applied to the open port, not reopened;
    // the thread before is retired for a new one.
    ASSERT_EQ(Connect(Choice("19200", 0, false, 5)), ConnectResult::kClose);
    EXPECT_EQ(PortHandle.Get(), first);
    EXPECT_EQ(a_.Speed(), B19200);
    EXPECT_EQ(Connection.ComSpeed, 19200);
    EXPECT_EQ(Connection.TargetAddress, 5);
    EXPECT_FALSE(t1->Running());
    std::shared_ptr<TNewThread> t2 = ExchangeThread.Get();
    EXPECT_NE(t2, t1);
    EXPECT_TRUE(t2->Running());

    // Another port: the old one is closed before the new one opens.
    ASSERT_EQ(Connect(Choice("19200", 1, false, -1)), ConnectResult::kClose);
    EXPECT_NE(PortHandle.Get(), first);
    EXPECT_EQ(Connection.ComPort, b_.path);
    EXPECT_EQ(Connection.TargetAddress, 0xFF);
    EXPECT_EQ(b_.Speed(), B19200);
    EXPECT_FALSE(first->Write(reinterpret_cast<const uint8_t*>("x"), 1));
    EXPECT_TRUE(host_.Messages().empty());
}

TEST_F(ConnectLineTest, EveryConnectionSetsTheTimeAtOnce)
{
    // Nobody answers here; what matters is that the frame goes out now,
    // not at the end of the first period.
    ASSERT_EQ(Connect(Choice("9600", 0, false, 5)), ConnectResult::kClose);
    EXPECT_TRUE(a_.SawTimeFrame(5));
    // A reconnect, here to the other port and all clocks, sends it again.
    ASSERT_EQ(Connect(Choice("9600", 1)), ConnectResult::kClose);
    EXPECT_TRUE(b_.SawTimeFrame(kBroadcast));
}

TEST_F(ConnectLineTest, PortThatCannotBeOpenedClosesTheDialogUnconnected)
{
    NullBox box;
    EnumPorts(box, Connection.ComPort, {{"/nonexistent/tty", "gone", true}});
    const std::string port_before = Connection.ComPort; // the list's pick
    ConnectChoice c = Choice("9600", 0);
    c.PortCount = 1;
    c.SpeedText = "19200";
    c.ToAll = false;
    c.AddressIndex = 7;
    EXPECT_EQ(Connect(c), ConnectResult::kClose);
    EXPECT_FALSE(PortHandle.Get());
    EXPECT_FALSE(ExchangeThread.Get());
    EXPECT_EQ(host_.Messages(), std::vector<std::string>{"Error opening port\nПорта "
                                                         "/nonexistent/tty нет: адаптер не "
                                                         "подключён или порт называется иначе."});
    // Nothing of a choice that did not connect is kept (nor saved by "Выход").
    EXPECT_EQ(Connection.ComPort, port_before);
    EXPECT_EQ(Connection.ComSpeed, 9600);
    EXPECT_EQ(Connection.TargetAddress, 0);
}

TEST_F(ConnectLineTest, SpeedsOfZeroOrBelowAreRefusedBeforeAnythingHappens)
{
    for (const char* speed : {"0", "-9600"}) {
        host_.Clear();
        EXPECT_EQ(Connect(Choice(speed, 0)), ConnectResult::kStayOpen) << speed;
        EXPECT_FALSE(PortHandle.Get());
        EXPECT_FALSE(ExchangeThread.Get());
        EXPECT_EQ(host_.Messages(), std::vector<std::string>{SpeedRefusedText(std::stoi(speed))});
        EXPECT_EQ(Connection.ComSpeed, 9600);
    }
}

} // namespace
} // namespace chronavel

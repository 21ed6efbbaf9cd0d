// The port a search from the connection dialog uses, against simulated lines:
// the open port as it is, or the chosen one opened at 9600 Bd for the search
// and closed after it.
#include "app/ini_file_chronavel.h"
#include "app/master_search.h"
#include "link/exchange.h"
#include "port/port.h"
#include "sim/sim.h"
#include "support/recorder_host.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace chronavel {
namespace {

class MasterSearchPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("CHRONAVEL_PORTS_DIR", dir.path().c_str(), 1);
        for (const char* name : {"mspa", "mspb"}) {
            sim::Options o;
            o.name = name;
            o.clocks = {1, 3};
            o.master = 3;
            o.seed = 3;
            auto s = std::make_unique<sim::Simulator>(o);
            std::string error;
            ASSERT_TRUE(s->Start(&error)) << error;
            sims.push_back(std::move(s));
        }
        Connection = ConnectionSettings{};
    }
    void TearDown() override
    {
        StopExchangeThread(std::chrono::milliseconds(3000));
        ResetExchangeState();
        ClosePort();
        unsetenv("CHRONAVEL_PORTS_DIR");
    }
    // Connects as "Подключить" does.
    void Connect(const std::string& name, int speed)
    {
        Connection.ComPort = name;
        Connection.ComSpeed = speed;
        PortHandle.Set(OpenPort(name, speed));
        ASSERT_TRUE(PortHandle);
        StartExchangeThread();
    }

    test::TempDir dir{"msport"};
    test::RecorderHost host;
    std::vector<std::unique_ptr<sim::Simulator>> sims;
};

TEST_F(MasterSearchPortTest, ReusesTheOpenPortOrOpensTheChosenOneForTheSearch)
{
    struct Case {
        std::string connected; // "" = no port open
        std::string chosen;
        bool reused;
        int speed;
        std::string com_port_after;
        int com_speed_after;
    };
    const Case cases[] = {
        {"", "mspa", false, 9600, "mspa", 9600},
        {"mspa", "mspa", true, 115200, "mspa", 115200},
        {"mspa", "mspb", false, 9600, "mspb", 9600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.connected + " -> " + c.chosen);
        if (!c.connected.empty())
            Connect(c.connected, 115200);
        const platform::SerialPtr before = PortHandle.Get();
        const auto thread_before = ExchangeThread.Get();
        {
            MasterSearchPort port(c.chosen);
            ASSERT_TRUE(port.Ready());
            EXPECT_EQ(port.Reused(), c.reused);
            EXPECT_EQ(port.Speed(), c.speed);
            EXPECT_EQ(Connection.ComPort, c.com_port_after);
            EXPECT_EQ(Connection.ComSpeed, c.com_speed_after);
            EXPECT_EQ(PortHandle.Get() == before, c.reused);
            // No exchange thread beside a search on a port opened for it.
            if (thread_before) {
                EXPECT_EQ(thread_before->Running(), c.reused);
            }
            // The master is found through either.
            EXPECT_EQ(SearchMaster(port.Speed()), 3);
        }
        // The connection stands after a search on it; a port opened for the
        // search is closed (and free for the next open).
        EXPECT_EQ(PortHandle.Get() != nullptr, c.reused);
        if (!c.reused) {
            platform::SerialPtr again = OpenPort(c.chosen, 9600);
            EXPECT_TRUE(again);
        }
        StopExchangeThread(std::chrono::milliseconds(3000));
        ClosePort();
    }
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(MasterSearchPortTest, MissingPortIsReportedAndNothingIsLeftOpen)
{
    Connect("mspa", 9600);
    {
        MasterSearchPort port("nosuchport");
        EXPECT_FALSE(port.Ready());
        EXPECT_FALSE(ExchangeThread.Get()->Running());
    }
    EXPECT_FALSE(PortHandle);
    EXPECT_EQ(Connection.ComPort, "nosuchport");
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Error opening port\nПорта nosuchport нет "
                                                        "(/dev/nosuchport): адаптер не "
                                                        "подключён или порт называется иначе."});
}

} // namespace
} // namespace chronavel

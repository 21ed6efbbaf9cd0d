// The daemon's watchdog: when it pings the service manager, and when the
// service manager asks for pings at all.
#include "platform/service_notify.h"
#include "tools/supervision/watchdog.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace chronavel::ctl {
namespace {

using std::chrono::milliseconds;

// A run of feeds (time since start, the exchange's pass count) and whether
// each one pings, with a 10 s interval.
TEST(CtlWatchdog, PingsAtHalfIntervalsOnlyWhileTheExchangeMoves)
{
    struct Step {
        int at_ms;
        std::optional<uint64_t> passes;
        bool pings;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"moving exchange: the first feed, then every 5 s",
         {{0, 1, true},
          {1000, 20, false},
          {4999, 90, false},
          {5000, 91, true},
          {9000, 150, false},
          {10000, 170, true}}},
        {"stuck exchange: no ping until it moves again",
         {{0, 7, true}, {5000, 7, false}, {12000, 7, false}, {30000, 7, false}, {30050, 8, true}}},
        {"port away: the loop alone is watched",
         {{0, {}, true}, {5000, {}, true}, {7000, {}, false}, {10000, {}, true}}},
        {"port back on a new exchange thread, counting from 0",
         {{0, 500, true}, {5000, {}, true}, {10000, 0, true}, {15000, 0, false}}},
    };
    for (const Case& c : cases) {
        int pings = 0;
        Watchdog dog(std::chrono::seconds(10), [&] { ++pings; });
        const auto start = Watchdog::Clock::time_point{} + std::chrono::hours(1);
        for (const Step& s : c.steps) {
            const int before = pings;
            EXPECT_EQ(dog.Feed(start + milliseconds(s.at_ms), s.passes), s.pings)
                << c.name << " at " << s.at_ms << " ms";
            EXPECT_EQ(pings - before, s.pings ? 1 : 0) << c.name << " at " << s.at_ms << " ms";
        }
    }
    int pings = 0;
    Watchdog off(std::nullopt, [&] { ++pings; });
    EXPECT_FALSE(off.Feed(Watchdog::Clock::now(), 1));
    EXPECT_EQ(pings, 0);
}

TEST(CtlWatchdog, IntervalComesFromTheServiceManagersVariables)
{
    const std::string self = std::to_string(getpid());
    struct Case {
        const char* usec;
        std::string pid; // empty: unset
        std::optional<long long> expected_us;
    };
    const std::vector<Case> cases = {
        {"60000000", "", 60000000},      {"60000000", self, 60000000},
        {"60000000", "1", std::nullopt}, // meant for another process
        {"60000000", "x", std::nullopt}, {"0", "", std::nullopt},
        {"", "", std::nullopt},          {"12s", "", std::nullopt},
        {nullptr, "", std::nullopt},
    };
    for (const Case& c : cases) {
        if (c.usec)
            setenv("WATCHDOG_USEC", c.usec, 1);
        else
            unsetenv("WATCHDOG_USEC");
        if (c.pid.empty())
            unsetenv("WATCHDOG_PID");
        else
            setenv("WATCHDOG_PID", c.pid.c_str(), 1);
        const auto got = platform::ServiceWatchdogInterval();
        EXPECT_EQ(got ? std::optional<long long>(got->count()) : std::nullopt, c.expected_us)
            << (c.usec ? c.usec : "(unset)") << " pid '" << c.pid << "'";
    }
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
}

} // namespace
} // namespace chronavel::ctl

// The one rule that turns a subcommand's outcome into the exit code.
#include "tools/cli/verb.h"
#include "tools/line/exit_codes.h"

#include <csignal>
#include <gtest/gtest.h>

namespace chronavel::ctl {
namespace {

TEST(ExitCode, OneRuleForEverySubcommand)
{
    const Verb plain;
    const Verb daemon{.NormalStop = SIGTERM};
    const Verb config{.EveryFailure = kExitNoAnswer, .SucceedsWith = kExitDiffers};
    struct Case {
        const Verb* verb;
        Outcome outcome;
        int code;
        int expected;
    };
    const Case cases[] = {
        {&plain, Outcome::kRan, kExitPort, kExitPort},
        {&plain, Outcome::kUsage, 0, kExitUsage},
        {nullptr, Outcome::kUsage, 0, kExitUsage}, // the parser failed before any subcommand
        {&plain, Outcome::kInternal, 0, kExitInternal},
        {&plain, Outcome::kStopped, SIGINT, 130},
        {&plain, Outcome::kStopped, SIGTERM, 143},
        {&daemon, Outcome::kStopped, SIGTERM, kExitOk},
        {&daemon, Outcome::kStopped, SIGINT, 130},
        // config: 0 and 2 are answers, every failure is 1.
        {&config, Outcome::kRan, kExitOk, kExitOk},
        {&config, Outcome::kRan, kExitDiffers, kExitDiffers},
        {&config, Outcome::kRan, kExitPort, kExitNoAnswer},
        {&config, Outcome::kUsage, 0, kExitNoAnswer},
        {&config, Outcome::kInternal, 0, kExitNoAnswer},
        {&config, Outcome::kStopped, SIGTERM, kExitNoAnswer},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExitCode(c.verb, c.outcome, c.code), c.expected)
            << static_cast<int>(c.outcome) << " " << c.code;
}

} // namespace
} // namespace chronavel::ctl

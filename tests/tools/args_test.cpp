// The daemon's period names, straight through the tool's parser.
#include "tools/text/args.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace chronavel::ctl {
namespace {

TEST(CtlPeriod, NamesAndTheirSeconds)
{
    const std::vector<std::pair<std::string, int>> known = {
        {"minute", 60}, {"hour", 3600}, {"3h", 10800}, {"day", 86400},
        {"Minute", 60}, {"HOUR", 3600}, {"3H", 10800}, {"Day", 86400},
    };
    for (const auto& [name, seconds] : known)
        EXPECT_EQ(ParsePeriod(name), seconds) << name;

    for (const std::string bad : {"", "week", "3 h", "60", "hours", " day", "minute "}) {
        try {
            ParsePeriod(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find("'" + bad + "'"), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace chronavel::ctl

// The service's log bounded while it runs: a line that takes it past the
// limit sends it to .1 and a new file starts, and a file left too big by
// the last run starts anew at once.
#include "support/temp_dir.h"
#include "tools/line/tool_host.h"

#include <gtest/gtest.h>
#include <string>

namespace chronavel::ctl {
namespace {

TEST(ServiceLog, RotatesWhileRunning)
{
    test::TempDir dir;
    const std::string log = (dir.path() / "chronavel-sync-COM7.log").string();
    struct Case {
        std::string before; // the log as the last run left it
        int lines;          // "line N" (7 bytes with its end) written now
        std::string now, previous;
    };
    const std::vector<Case> cases = {
        // Limit 20: the third line reaches it.
        {"", 2, "line 1\nline 2\n", ""},
        {"", 3, "", "line 1\nline 2\nline 3\n"},
        {"", 7, "line 7\n", "line 4\nline 5\nline 6\n"},
        {std::string(19, 'x') + "\n", 1, "line 1\n", std::string(19, 'x') + "\n"},
        {"old\n", 2, "old\nline 1\nline 2\n", ""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(log + ".1");
        test::PutFile(log, c.before);
        ASSERT_TRUE(SendOutputToLog(log, 20));
        for (int i = 1; i <= c.lines; ++i)
            Say("line " + std::to_string(i));
        SendOutputTo(nullptr);
        EXPECT_EQ(test::GetFile(log), c.now) << c.before << c.lines;
        EXPECT_EQ(test::GetFile(log + ".1"), c.previous) << c.before << c.lines;
    }
    EXPECT_FALSE(SendOutputToLog((dir.path() / "none" / "x.log").string(), 20));
}

} // namespace
} // namespace chronavel::ctl

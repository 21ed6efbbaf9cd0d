#include "app/documentation.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace chronavel {
namespace {

TEST(DocumentationTest, InstalledReadmeFirstThenTheSourceTreeAbove)
{
    const struct {
        const char* Exe;
        std::set<std::string> Present;
        const char* Expected;
    } cases[] = {
        {"/opt/chronavel/bin/chronavel",
         {"/opt/chronavel/share/doc/chronavel/README.md", "/usr/share/doc/chronavel/README.md"},
         "/opt/chronavel/share/doc/chronavel/README.md"},
        {"/usr/bin/chronavel",
         {"/usr/share/doc/chronavel/README.md"},
         "/usr/share/doc/chronavel/README.md"},
        {"/home/u/src/chronavel/build/dev/ui/chronavel",
         {"/home/u/src/chronavel/README.md"},
         "/home/u/src/chronavel/README.md"},
        {"/home/u/src/chronavel/build/dev/ui/chronavel",
         {"/home/u/src/chronavel/build/dev/ui/README.md", "/home/u/src/chronavel/README.md"},
         "/home/u/src/chronavel/build/dev/ui/README.md"},
        {"/a/b/c/d/e/f/chronavel", {"/a/README.md"}, ""}, // more than four levels up
        {"/chronavel", {"/README.md"}, "/README.md"},
        {"", {"/usr/share/doc/chronavel/README.md"}, "/usr/share/doc/chronavel/README.md"},
        {"/usr/bin/chronavel", {}, ""},
    };
    for (const auto& c : cases) {
        const auto exists = [&](const std::string& p) { return c.Present.count(p) > 0; };
        EXPECT_EQ(DocumentationPath(c.Exe, exists), c.Expected) << c.Exe;
    }
}

} // namespace
} // namespace chronavel

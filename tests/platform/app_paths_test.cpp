#include "platform/app_paths.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace chronavel::platform;

namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(AppPaths, ExecutablePathNamesThisTestProgram)
{
    const std::string exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(std::filesystem::equivalent(exe, "/proc/self/exe"));
}

TEST(AppPaths, ConfigDirFollowsXdgThenHome)
{
    EnvVar home("HOME", "/home/someone");
    {
        EnvVar xdg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(UserConfigDir(), "/cfg");
    }
    {
        EnvVar xdg("XDG_CONFIG_HOME", "relative/cfg"); // not absolute: ignored
        EXPECT_EQ(UserConfigDir(), "/home/someone/.config");
    }
    {
        EnvVar xdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(UserConfigDir(), "/home/someone/.config");
    }
}

TEST(AppPaths, DirectoryWritable)
{
    EXPECT_TRUE(DirectoryWritable(std::filesystem::temp_directory_path().string()));
    EXPECT_FALSE(DirectoryWritable(""));
    EXPECT_FALSE(DirectoryWritable("/no/such/directory/here"));
    EXPECT_FALSE(DirectoryWritable("/proc/self/exe")); // not a directory
}

} // namespace

// Replacing a whole file in one step, as the daemon writes its state file.
#include "platform/atomic_file.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace chronavel::test {
namespace {

namespace fs = std::filesystem;

// A link planted where a fixed temporary name would be is never followed,
// and two writers of one file leave one whole text, never a mix, and no
// temporary behind.
TEST(AtomicFile, NeitherAPlantedLinkNorASecondWriterSpoilsIt)
{
    TempDir dir;
    const std::string path = (dir.path() / "state.json").string();
    const std::string victim = (dir.path() / "victim").string();
    PutFile(victim, "keep");
    ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp").c_str()), 0);

    ASSERT_EQ(platform::WriteFileAtomically(path, "first\n"), "");
    EXPECT_EQ(GetFile(path), "first\n");
    EXPECT_EQ(GetFile(victim), "keep");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    const std::string a(20000, 'a'), b(30000, 'b');
    std::vector<std::thread> writers;
    for (const std::string* text : {&a, &b})
        writers.emplace_back([&, text] {
            for (int i = 0; i < 100; ++i)
                EXPECT_EQ(platform::WriteFileAtomically(path, *text), "");
        });
    for (auto& w : writers)
        w.join();
    const std::string now = GetFile(path);
    EXPECT_TRUE(now == a || now == b) << now.size() << " bytes";
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3u); // the file, the victim and the planted link
}

} // namespace
} // namespace chronavel::test

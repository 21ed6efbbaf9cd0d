// A fresh directory for one test, and whole-file reads and writes for the
// tests that look at files byte for byte.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace chronavel::test {

// Made under the system's temporary directory with a unique name; removed
// with everything in it when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "chronavel-test")
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(tmpl.data()))
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + tmpl);
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        // A test may have taken its own write permission away.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void PutFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string GetFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace chronavel::test

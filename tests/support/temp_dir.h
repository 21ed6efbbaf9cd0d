// A fresh directory for one test, and whole-file reads and writes for the
// tests that look at files byte for byte.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace chronavel::test {

// Made under the system's temporary directory with a unique name; removed
// with everything in it when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "chronavel-test")
    {
        // create_directory is false for a name that exists: another one is tried.
        static thread_local std::mt19937_64 gen{std::random_device{}()};
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto p = base / (prefix + "-" + std::to_string(gen() % 1000000000000ULL));
            std::error_code ec;
            if (std::filesystem::create_directory(p, ec)) {
                std::filesystem::permissions(p, std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::replace, ec);
                path_ = p;
                return;
            }
            if (ec)
                throw std::system_error(ec, "create_directory " + p.string());
        }
        throw std::runtime_error("no free temporary directory name under " + base.string());
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

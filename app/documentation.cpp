#include "app/documentation.h"

#include "platform/app_paths.h"

#include <sys/stat.h>
#include <vector>

namespace chronavel {

namespace {

constexpr const char* kInstalledDoc = "share/doc/chronavel/README.md";
constexpr int kLevelsUp = 4;

std::string Parent(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name)
{
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string DocumentationPath(const std::string& exe_path, const FileExists& exists)
{
    std::vector<std::string> candidates;
    const std::string exe_dir = Parent(exe_path);
    if (!exe_dir.empty()) {
        const std::string prefix = Parent(exe_dir);
        if (!prefix.empty())
            candidates.push_back(Join(prefix, kInstalledDoc));
    }
    candidates.push_back(Join("/usr", kInstalledDoc));
    std::string dir = exe_dir;
    for (int level = 0; level <= kLevelsUp && !dir.empty(); ++level) {
        candidates.push_back(Join(dir, "README.md"));
        if (dir == "/")
            break;
        dir = Parent(dir);
    }
    for (const std::string& c : candidates)
        if (exists(c))
            return c;
    return {};
}

std::string DocumentationPath()
{
    return DocumentationPath(platform::ExecutablePath(), IsRegularFile);
}

} // namespace chronavel

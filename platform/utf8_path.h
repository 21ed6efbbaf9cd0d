// Paths are UTF-8 text inside the program. A std::filesystem::path made from
// a narrow string, or turned back with .string(), and every narrow-named
// file call (std::fopen, a stream opened by a std::string) read the text in
// Windows' ANSI code page instead, which garbles any letter outside it (a
// folder named in Cyrillic on an English Windows, or any UTF-8 byte on a
// Russian one). These go through the wide names there; elsewhere they are
// the plain calls.
#pragma once

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

namespace chronavel::platform {

// Text that is not UTF-8 (Windows converts, and refuses it) names no file:
// the empty path, which every call then refuses as it would a missing file.
inline std::filesystem::path PathFromUtf8(const std::string& utf8)
{
    try {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    } catch (const std::exception&) {
        return {};
    }
}

// "" for a name Windows holds that is no text (a lone UTF-16 surrogate).
inline std::string Utf8FromPath(const std::filesystem::path& path)
{
    try {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    } catch (const std::exception&) {
        return {};
    }
}

// std::fopen of a UTF-8 name.
inline std::FILE* OpenFile(const std::string& utf8, const char* mode)
{
#ifdef _WIN32
    std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(PathFromUtf8(utf8).c_str(), wide_mode.c_str());
#else
    return std::fopen(utf8.c_str(), mode);
#endif
}

} // namespace chronavel::platform

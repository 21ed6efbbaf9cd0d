#include "platform/app_paths.h"
#include "platform/utf16_win32.h"

#include <shlobj.h>
#include <string>

namespace chronavel::platform {

std::string ExecutablePath()
{
    // The buffer grows until the whole path fits (long paths run past MAX_PATH).
    std::wstring buf(MAX_PATH, L'\0');
    for (int i = 0; i < 8; ++i) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return {};
        if (n < buf.size()) {
            buf.resize(n);
            return Utf8FromWide(buf);
        }
        buf.resize(buf.size() * 2);
    }
    return {};
}

std::string UserConfigDir()
{
    // %APPDATA%, the user's roaming folder, as the shell names it.
    PWSTR path = nullptr;
    std::string dir;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path)) && path)
        dir = Utf8FromWide(path);
    CoTaskMemFree(path);
    if (dir.empty()) {
        wchar_t env[32768];
        const DWORD n = GetEnvironmentVariableW(L"APPDATA", env, 32768);
        if (n > 0 && n < 32768)
            dir = Utf8FromWide(std::wstring(env, n));
    }
    return dir;
}

bool DirectoryWritable(const std::string& dir)
{
    if (dir.empty())
        return false;
    // Access rights on Windows are lists that no attribute check reads
    // right: the answer is whether a file can be made there.
    const std::wstring probe =
        WideFromUtf8(dir) + L"\\.chronavel-write-probe-" + std::to_wstring(GetCurrentProcessId());
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

} // namespace chronavel::platform

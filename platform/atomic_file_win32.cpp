#include "platform/atomic_file.h"
#include "platform/utf16_win32.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

namespace chronavel::platform {

std::string WriteFileAtomically(const std::string& path, const std::string& text)
{
    // A name of its own, made only if nothing has it yet: two writers of
    // one file, or a link planted at a fixed name, cannot mix or redirect
    // the text.
    // MoveFileExW would put a plain file in a link's place.
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return path + ": a symbolic link; give the path of the file itself";
    static thread_local std::mt19937 gen{std::random_device{}()};
    std::string tmp;
    std::wstring wtmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD open_error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 8 && h == INVALID_HANDLE_VALUE; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(gen()));
        tmp = path + suffix;
        wtmp = WideFromUtf8(tmp);
        h = CreateFileW(wtmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
        open_error = GetLastError();
    }
    if (h == INVALID_HANDLE_VALUE)
        return ErrorText(tmp, open_error);
    size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(h, text.data() + done, chunk, &n, nullptr) || n == 0) {
            const std::string error = ErrorText(tmp, GetLastError());
            CloseHandle(h);
            DeleteFileW(wtmp.c_str());
            return error;
        }
        done += n;
    }
    // On disk before the rename, so a power cut leaves the old file or the
    // new one. A plain rename will not replace an existing file here.
    const bool synced = FlushFileBuffers(h) != 0;
    const DWORD sync_error = synced ? 0 : GetLastError();
    CloseHandle(h);
    if (!synced || !MoveFileExW(wtmp.c_str(), WideFromUtf8(path).c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string error = ErrorText(path, synced ? GetLastError() : sync_error);
        DeleteFileW(wtmp.c_str());
        return error;
    }
    return {};
}

std::vector<std::string> RemoveStaleTemporaries(const std::string& path,
                                                std::chrono::seconds min_age)
{
    // The temporaries above: the file's name, a dot and eight hex digits.
    namespace fs = std::filesystem;
    std::vector<std::string> removed;
    std::error_code ec;
    const fs::path file = fs::u8path(path);
    const std::wstring base = file.filename().wstring();
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(L".");
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::wstring name = it->path().filename().wstring();
        if (name.size() != base.size() + 9 || name.compare(0, base.size(), base) != 0 ||
            name[base.size()] != L'.' ||
            !std::all_of(
                name.begin() + static_cast<std::ptrdiff_t>(base.size()) + 1, name.end(),
                [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }))
            continue;
        std::error_code e2;
        if (!it->is_regular_file(e2) || it->is_symlink(e2))
            continue;
        const auto written = it->last_write_time(e2);
        if (e2 || now - written < min_age)
            continue;
        if (fs::remove(it->path(), e2))
            removed.push_back(Utf8FromWide(it->path().wstring()));
    }
    return removed;
}

} // namespace chronavel::platform

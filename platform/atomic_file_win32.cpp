#include "platform/atomic_file.h"
#include "platform/utf16_win32.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace chronavel::platform {

std::string WriteFileAtomically(const std::string& path, const std::string& text)
{
    // A name of its own, made only if nothing has it yet: two writers of
    // one file, or a link planted at a fixed name, cannot mix or redirect
    // the text.
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

} // namespace chronavel::platform

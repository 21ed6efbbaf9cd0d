#include "platform/file_lock.h"
#include "platform/utf16_win32.h"

namespace chronavel::platform {

namespace {

class WinLock : public FileLock {
public:
    explicit WinLock(HANDLE h) : h_(h) {}
    ~WinLock() override { CloseHandle(h_); }

private:
    const HANDLE h_;
};

} // namespace

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, std::string* error, bool* held)
{
    const std::string name = path + ".lock";
    // Opened without sharing: a second opener is refused until this
    // handle closes, which the system does when the process ends.
    HANDLE h = CreateFileW(WideFromUtf8(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (held)
            *held = code == ERROR_SHARING_VIOLATION;
        *error = code == ERROR_SHARING_VIOLATION
                     ? path + " is in use by another process"
                     : name + ": cannot be opened (error " + std::to_string(code) + ")";
        return nullptr;
    }
    return std::make_unique<WinLock>(h);
}

} // namespace chronavel::platform

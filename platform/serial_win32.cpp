#include "platform/serial.h"
#include "platform/utf16_win32.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace chronavel::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Errors after which the device is not coming back on this handle: the
// USB adapter was pulled (the drivers answer in several ways), or the
// handle itself is bad.
bool IsGone(DWORD err)
{
    switch (err) {
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

// Raw 8N1, no flow control of any kind, line errors do not abort I/O;
// everything else as the driver had it.
void MakeRaw(DCB& dcb, int baud)
{
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    // Unused with software flow control off, but the serial driver refuses
    // a record whose two characters are equal: the usual DC1 and DC3.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
}

// A read of n bytes ends after per_byte * n ms; 0 ms means "what is there
// now", which the driver spells with MAXDWORD (all zeros would wait forever).
// A write is bounded by the time its bytes take at the line speed plus the
// stall limit, so a line that takes nothing cannot hold its thread for good.
COMMTIMEOUTS TimeoutsFor(int per_byte_ms, int baud)
{
    COMMTIMEOUTS t{};
    if (per_byte_ms > 0) {
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = static_cast<DWORD>(per_byte_ms);
    } else {
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = 0;
    }
    t.ReadTotalTimeoutConstant = 0;
    const int b = baud > 0 ? baud : 9600;
    t.WriteTotalTimeoutMultiplier = static_cast<DWORD>((10 * 1000 + b - 1) / b); // 10 bits a byte
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(WriteStallLimitMs(baud));
    return t;
}

class Win32Serial : public SerialDevice {
public:
    Win32Serial(HANDLE h, const DCB& dcb) : handle_(h), dcb_(dcb) {}
    ~Win32Serial() override { Close(); }
    Win32Serial(const Win32Serial&) = delete;
    Win32Serial& operator=(const Win32Serial&) = delete;

    int Read(uint8_t* buf, size_t n) override;
    bool Write(const uint8_t* buf, size_t n) override;
    bool Drain() override;
    bool Purge() override;
    int InputWaiting() override;
    bool ClearErrors(uint32_t& error_word) override;
    bool SetSpeed(int baud) override;
    void SetReadTimeoutPerByte(int ms) override;
    int ReadTimeoutPerByte() const override { return timeout_per_byte_; }
    int LineSpeed() const override { return Baud(); }
    bool Lost() const override { return lost_; }
    void Close() override;

    bool ApplyTimeouts();

private:
    // Every call holds the handle through a Use, so Close can wait until no
    // other thread is inside the driver before it lets the handle go (a
    // closed handle's number may be handed to another file at once).
    class Use {
    public:
        explicit Use(Win32Serial& s) : s_(s)
        {
            std::lock_guard<std::mutex> hold(s_.use_lock_);
            ok_ = !s_.closed_ && !s_.lost_;
            if (ok_)
                ++s_.users_;
        }
        ~Use()
        {
            if (!ok_)
                return;
            std::lock_guard<std::mutex> hold(s_.use_lock_);
            if (--s_.users_ == 0)
                s_.idle_.notify_all();
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        explicit operator bool() const { return ok_; }

    private:
        Win32Serial& s_;
        bool ok_ = false;
    };

    void Fail(DWORD err)
    {
        if (IsGone(err))
            lost_ = true;
    }
    int Baud() const
    {
        std::lock_guard<std::mutex> hold(dcb_lock_);
        return static_cast<int>(dcb_.BaudRate);
    }

    HANDLE handle_;
    mutable std::mutex dcb_lock_;
    DCB dcb_; // guarded by dcb_lock_
    std::atomic<int> timeout_per_byte_{80};
    std::atomic<bool> lost_{false};
    // Line errors seen by InputWaiting, whose call also clears them, kept
    // for the next ClearErrors.
    std::atomic<uint32_t> held_errors_{0};
    std::atomic<bool> closed_{false};

    std::mutex use_lock_;
    std::condition_variable idle_;
    int users_ = 0; // guarded by use_lock_
};

int Win32Serial::Read(uint8_t* buf, size_t n)
{
    Use use(*this);
    if (!use)
        return -1;
    if (n == 0)
        return 0;
    const auto started = Clock::now();
    const auto allowed = std::chrono::milliseconds(static_cast<long long>(timeout_per_byte_) *
                                                   static_cast<long long>(n));
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(n, MAXDWORD));
    if (!ReadFile(handle_, buf, ask, &got, nullptr)) {
        const DWORD err = GetLastError();
        if (closed_)
            return got > 0 ? static_cast<int>(got) : -1;
        if (err == ERROR_OPERATION_ABORTED) {
            // Some drivers abort the read when their device goes; a live
            // port answers the status call and the read counts as short.
            DWORD errors = 0;
            if (ClearCommError(handle_, &errors, nullptr))
                return static_cast<int>(got);
            lost_ = true;
        } else {
            Fail(err);
        }
        return got > 0 ? static_cast<int>(got) : -1;
    }
    if (got == 0 && Clock::now() - started < allowed / 2) {
        // Nothing, long before the time-out: a driver whose device has gone
        // may answer every read this way. A port that still answers the
        // status call has the rest of the wait slept off, so a caller can
        // never spin on empty reads.
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, nullptr)) {
            Fail(GetLastError());
            lost_ = true;
            return -1;
        }
        std::this_thread::sleep_until(started + allowed);
    }
    return static_cast<int>(got);
}

bool Win32Serial::Write(const uint8_t* buf, size_t n)
{
    Use use(*this);
    if (!use)
        return false;
    size_t done = 0;
    while (done < n) {
        DWORD wrote = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 20));
        if (!WriteFile(handle_, buf + done, ask, &wrote, nullptr)) {
            Fail(GetLastError());
            return false;
        }
        if (wrote == 0)
            return false; // the write time-out ran out: the line takes nothing
        done += wrote;
    }
    return true;
}

bool Win32Serial::Drain()
{
    Use use(*this);
    if (!use)
        return false;
    // The driver's queue, watched so a stuck line cannot hold us past the
    // stall limit; then the flush for what the port itself still holds.
    const auto stall = std::chrono::milliseconds(WriteStallLimitMs(Baud()));
    auto deadline = Clock::now() + stall;
    DWORD last = MAXDWORD;
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(handle_, &errors, &stat)) {
            Fail(GetLastError());
            return false;
        }
        if (stat.cbOutQue == 0)
            break;
        const auto now = Clock::now();
        if (stat.cbOutQue != last) {
            last = stat.cbOutQue;
            deadline = now + stall; // still moving
        } else if (now >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!FlushFileBuffers(handle_)) {
        Fail(GetLastError());
        return false;
    }
    return !lost_ && !closed_;
}

bool Win32Serial::Purge()
{
    Use use(*this);
    if (!use)
        return false;
    // Clear only: aborting would cut a read or write of the other thread.
    return PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

int Win32Serial::InputWaiting()
{
    Use use(*this);
    if (!use)
        return 0;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle_, &errors, &stat))
        return 0;
    held_errors_.fetch_or(static_cast<uint32_t>(errors));
    return static_cast<int>(std::min<DWORD>(stat.cbInQue, INT_MAX));
}

bool Win32Serial::ClearErrors(uint32_t& error_word)
{
    error_word = 0;
    Use use(*this);
    if (!use)
        return false;
    DWORD errors = 0;
    if (!ClearCommError(handle_, &errors, nullptr)) {
        Fail(GetLastError());
        return false;
    }
    // The driver's CE_* flags are the values of LineError.
    error_word = static_cast<uint32_t>(errors) | held_errors_.exchange(0);
    return true;
}

bool Win32Serial::SetSpeed(int baud)
{
    Use use(*this);
    if (!use || baud <= 0)
        return false;
    bool ok;
    {
        std::lock_guard<std::mutex> hold(dcb_lock_);
        dcb_.BaudRate = static_cast<DWORD>(baud); // kept even when refused
        ok = SetCommState(handle_, &dcb_) != 0;
    }
    if (!ok) {
        Fail(GetLastError());
        return false;
    }
    ApplyTimeouts(); // the write bound follows the speed
    return true;
}

void Win32Serial::SetReadTimeoutPerByte(int ms)
{
    timeout_per_byte_ = std::max(ms, 0);
    Use use(*this);
    if (use)
        ApplyTimeouts();
}

bool Win32Serial::ApplyTimeouts()
{
    COMMTIMEOUTS t = TimeoutsFor(timeout_per_byte_, Baud());
    return SetCommTimeouts(handle_, &t) != 0;
}

void Win32Serial::Close()
{
    if (closed_.exchange(true))
        return;
    // Ends a read or write in progress on another thread now rather than at
    // its time-out, then waits for it to leave before the handle goes.
    CancelIoEx(handle_, nullptr);
    {
        std::unique_lock<std::mutex> hold(use_lock_);
        while (users_ > 0) {
            if (idle_.wait_for(hold, std::chrono::milliseconds(50)) == std::cv_status::timeout) {
                hold.unlock();
                CancelIoEx(handle_, nullptr);
                hold.lock();
            }
        }
    }
    CloseHandle(handle_);
}

} // namespace

std::string SerialDevicePath(const std::string& name)
{
    // "\\.\" opens COM10 and above too, where the bare name does not.
    if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("\\\\?\\", 0) == 0)
        return name;
    return "\\\\.\\" + name;
}

OpenCause OpenCauseOf(int code)
{
    switch (static_cast<DWORD>(code)) {
    case ERROR_SUCCESS:
        return OpenCause::kNone;
    // A COM port opens for one handle at a time: a second open, from any
    // program, is refused as "access denied" (or a sharing violation).
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return OpenCause::kBusy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
        return OpenCause::kAbsent;
    default:
        return OpenCause::kOther;
    }
}

SerialPtr OpenSerial(const std::string& path, int baud, OpenStatus& status, OpenFailure* failure)
{
    status = OpenStatus::kOpenFailed;
    if (baud <= 0)
        baud = 0; // refused below, after the open, as a setting
    // No sharing: a second open, ours or another program's, is refused.
    HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (failure) {
            *failure = OpenFailure{};
            failure->code = static_cast<int>(err);
            failure->cause = OpenCauseOf(failure->code);
            const std::string text = ErrorText("", err); // ": the system's words"
            failure->system_text = text.size() > 2 ? text.substr(2) : text;
        }
        return nullptr;
    }
    status = OpenStatus::kConfigFailed;
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(h, &dcb) || baud <= 0) {
        CloseHandle(h); // not a serial port, or no speed to set
        return nullptr;
    }
    MakeRaw(dcb, baud);
    if (!SetCommState(h, &dcb)) {
        CloseHandle(h);
        return nullptr;
    }
    DCB applied{};
    applied.DCBlength = sizeof(applied);
    if (!GetCommState(h, &applied) || applied.ByteSize != 8 || applied.Parity != NOPARITY ||
        applied.StopBits != ONESTOPBIT) {
        CloseHandle(h);
        return nullptr;
    }
    COMMTIMEOUTS old{};
    GetCommTimeouts(h, &old);
    auto port = std::make_shared<Win32Serial>(h, dcb);
    port->ApplyTimeouts();
    status = OpenStatus::kOk;
    return port;
}

} // namespace chronavel::platform

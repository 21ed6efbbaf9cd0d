#include "platform/child_process.h"
#include "platform/utf16_win32.h"

#include <cwchar>
#include <cwctype>
#include <map>

namespace chronavel::platform {

namespace {

// One argument quoted for the C runtime's command-line parsing.
std::wstring Quoted(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

class WinChild : public ChildProcess {
public:
    WinChild(HANDLE process, HANDLE job) : process_(process), job_(job) {}
    ~WinChild() override
    {
        if (!status_)
            Kill();
        CloseHandle(process_);
        if (job_)
            CloseHandle(job_);
    }

    std::optional<int> Poll() override
    {
        if (!status_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            status_ = static_cast<int>(code);
        }
        return status_;
    }

    void Kill() override
    {
        if (status_)
            return;
        // The job holds what it started as well.
        if (job_)
            TerminateJobObject(job_, 137);
        else
            TerminateProcess(process_, 137);
    }

private:
    const HANDLE process_;
    const HANDLE job_;
    std::optional<int> status_;
};

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const Environment& added, std::string* error)
{
    if (argv.empty()) {
        *error = "no program given";
        return nullptr;
    }
    // The caller's environment with the additions, names compared without
    // case as Windows does.
    std::map<std::wstring, std::wstring> vars;
    const auto upper = [](std::wstring s) {
        for (wchar_t& c : s)
            c = static_cast<wchar_t>(towupper(c));
        return s;
    };
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            const std::wstring var = p;
            const size_t eq = var.find(L'=', 1);
            if (eq == std::wstring::npos)
                continue;
            vars[upper(var.substr(0, eq))] = var;
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : added)
        vars[upper(WideFromUtf8(name))] = WideFromUtf8(name + "=" + value);
    std::wstring env;
    for (const auto& [key, var] : vars)
        env += var + L'\0';
    env += L'\0';

    std::wstring line;
    for (const std::string& a : argv)
        line += (line.empty() ? L"" : L" ") + Quoted(WideFromUtf8(a));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                        env.data(), nullptr, &si, &pi)) {
        *error = argv[0] + ": cannot be started (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job && !AssignProcessToJobObject(job, pi.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    return std::make_unique<WinChild>(pi.hProcess, job);
}

} // namespace chronavel::platform

#include "platform/utf16_win32.h"
#include "platform/win_service.h"

#include <aclapi.h>
#include <atomic>
#include <chrono>
#include <memory>
#include <sddl.h>
#include <shlobj.h>
#include <thread>

namespace chronavel::platform {

namespace {

struct ScHandleClose {
    void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleClose>;

bool Fail(std::string* error, const std::string& what, DWORD code)
{
    if (error)
        *error = ErrorText(what, code);
    return false;
}

ScHandle OpenManager(DWORD access, std::string* error)
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, access));
    if (!scm)
        Fail(error, "the service control manager", GetLastError());
    return scm;
}

ScHandle OpenNamed(SC_HANDLE scm, const std::string& name, DWORD access, std::string* error)
{
    ScHandle service(OpenServiceW(scm, WideFromUtf8(name).c_str(), access));
    if (!service) {
        const DWORD code = GetLastError();
        if (error)
            *error = code == ERROR_SERVICE_DOES_NOT_EXIST ? "service " + name + " is not installed"
                                                          : ErrorText("service " + name, code);
    }
    return service;
}

// Waits up to wait_seconds for the service to reach state.
bool WaitForState(SC_HANDLE service, DWORD state, int wait_seconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
    for (;;) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == state)
            return true;
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace

bool ServiceManagerAvailable()
{
    return true;
}

bool InstallService(const ServiceDefinition& wanted, std::string* error)
{
    auto scm = OpenManager(SC_MANAGER_CREATE_SERVICE, error);
    if (!scm)
        return false;
    const std::wstring command = WideFromUtf8(wanted.CommandLine);
    ScHandle service(CreateServiceW(
        scm.get(), WideFromUtf8(wanted.Name).c_str(), WideFromUtf8(wanted.DisplayName).c_str(),
        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
        command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        const DWORD code = GetLastError();
        if (code == ERROR_SERVICE_EXISTS || code == ERROR_DUPLICATE_SERVICE_NAME) {
            if (error)
                *error = "service " + wanted.Name + " is already installed";
            return false;
        }
        return Fail(error, "service " + wanted.Name, code);
    }
    std::wstring description = WideFromUtf8(wanted.Description);
    SERVICE_DESCRIPTIONW desc{description.data()};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &desc);
    // Restarted 5 s after a failure, every time; the count is forgiven
    // after a day without one. A clock line must not stay unkept because
    // the daemon once fell over.
    SC_ACTION actions[3] = {
        {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 24 * 3600;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
    // A non-zero exit code counts as a failure too, not only a crash.
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
    return true;
}

bool UninstallService(const std::string& name, int wait_seconds, std::string* error)
{
    auto scm = OpenManager(SC_MANAGER_CONNECT, error);
    if (!scm)
        return false;
    auto service = OpenNamed(scm.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE, error);
    if (!service)
        return false;
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        WaitForState(service.get(), SERVICE_STOPPED, wait_seconds);
    if (!DeleteService(service.get())) {
        const DWORD code = GetLastError();
        if (code != ERROR_SERVICE_MARKED_FOR_DELETE)
            return Fail(error, "service " + name, code);
    }
    return true;
}

bool StartInstalledService(const std::string& name, int wait_seconds, std::string* error)
{
    auto scm = OpenManager(SC_MANAGER_CONNECT, error);
    if (!scm)
        return false;
    auto service = OpenNamed(scm.get(), name, SERVICE_START | SERVICE_QUERY_STATUS, error);
    if (!service)
        return false;
    if (!StartServiceW(service.get(), 0, nullptr)) {
        const DWORD code = GetLastError();
        if (code != ERROR_SERVICE_ALREADY_RUNNING)
            return Fail(error, "service " + name, code);
    }
    if (!WaitForState(service.get(), SERVICE_RUNNING, wait_seconds)) {
        if (error)
            *error = "service " + name + " did not report running within " +
                     std::to_string(wait_seconds) + " s";
        return false;
    }
    return true;
}

bool StopInstalledService(const std::string& name, int wait_seconds, std::string* error)
{
    auto scm = OpenManager(SC_MANAGER_CONNECT, error);
    if (!scm)
        return false;
    auto service = OpenNamed(scm.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS, error);
    if (!service)
        return false;
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        const DWORD code = GetLastError();
        if (code != ERROR_SERVICE_NOT_ACTIVE)
            return Fail(error, "service " + name, code);
    }
    if (!WaitForState(service.get(), SERVICE_STOPPED, wait_seconds)) {
        if (error)
            *error =
                "service " + name + " did not stop within " + std::to_string(wait_seconds) + " s";
        return false;
    }
    return true;
}

std::optional<ServiceState> QueryService(const std::string& name, std::string* error)
{
    auto scm = OpenManager(SC_MANAGER_CONNECT, error);
    if (!scm)
        return std::nullopt;
    ScHandle service(OpenServiceW(scm.get(), WideFromUtf8(name).c_str(), SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD code = GetLastError();
        if (code == ERROR_SERVICE_DOES_NOT_EXIST)
            return ServiceState::kNotInstalled;
        Fail(error, "service " + name, code);
        return std::nullopt;
    }
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status)) {
        Fail(error, "service " + name, GetLastError());
        return std::nullopt;
    }
    switch (status.dwCurrentState) {
    case SERVICE_STOPPED:
        return ServiceState::kStopped;
    case SERVICE_START_PENDING:
        return ServiceState::kStarting;
    case SERVICE_STOP_PENDING:
        return ServiceState::kStopping;
    case SERVICE_RUNNING:
        return ServiceState::kRunning;
    default:
        return ServiceState::kOther;
    }
}

std::vector<std::string> ServicesNamed(const std::string& prefix, std::string* error)
{
    std::vector<std::string> names;
    auto scm = OpenManager(SC_MANAGER_ENUMERATE_SERVICE, error);
    if (!scm)
        return names;
    DWORD needed = 0, count = 0, resume = 0;
    std::vector<BYTE> buf;
    for (;;) {
        const BOOL ok = EnumServicesStatusExW(
            scm.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buf.data(),
            static_cast<DWORD>(buf.size()), &needed, &count, &resume, nullptr);
        const DWORD code = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && code != ERROR_MORE_DATA) {
            Fail(error, "the list of services", code);
            return names;
        }
        const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buf.data());
        for (DWORD i = 0; i < count; ++i) {
            const std::string name = Utf8FromWide(entries[i].lpServiceName);
            if (name.size() >= prefix.size() &&
                CompareStringOrdinal(WideFromUtf8(name.substr(0, prefix.size())).c_str(), -1,
                                     WideFromUtf8(prefix).c_str(), -1, TRUE) == CSTR_EQUAL)
                names.push_back(name);
        }
        if (ok)
            return names;
        buf.resize(buf.size() + needed);
    }
}

namespace {

// SYSTEM and the Administrators: full control; the local users: read and
// list (0x1200a9, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), so that the
// operator can read a service's state, log and alarm history without
// elevation to see what it does (nothing there is secret); nobody else
// can make, change or hold a file there. Owned by the Administrators, so
// no user who made it first keeps the right to change that. The folder's
// rights pass to what is made in it; its own are not taken from above.
constexpr const wchar_t* kFolderRights =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// What is in it: the same, set on the entry itself.
constexpr const wchar_t* kEntryRights = L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
using Descriptor = std::unique_ptr<void, LocalFreer>;

Descriptor MakeDescriptor(const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return nullptr;
    return Descriptor(sd);
}

// Owner and rights of the descriptor on path, set through a handle of the
// entry itself: a link is never followed, and a file with other names
// elsewhere (a hard link a user made to a file of theirs or of the system)
// is not changed, since its rights are those of every name. "" when done.
std::string Apply(const std::string& path, PSECURITY_DESCRIPTOR sd, bool folder)
{
    HANDLE h =
        CreateFileW(WideFromUtf8(path).c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return ErrorText(path + ": its rights cannot be set (run as administrator)",
                         GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    std::string error;
    if (!GetFileInformationByHandle(h, &info)) {
        error = ErrorText(path, GetLastError());
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        error = path + ": a link; remove it (as an administrator)";
    } else if (folder && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = path + ": a file where the folder should be; remove it (as an administrator)";
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) {
        error = path + ": a file with other names elsewhere; remove it (as an administrator)";
    } else {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL defaulted = FALSE, present = FALSE;
        GetSecurityDescriptorOwner(sd, &owner, &defaulted);
        GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
        if (const DWORD code =
                SetSecurityInfo(h, SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    PROTECTED_DACL_SECURITY_INFORMATION,
                                owner, nullptr, dacl, nullptr))
            error = ErrorText(path + ": its rights cannot be set (run as administrator)", code);
    }
    CloseHandle(h);
    return error;
}

} // namespace

std::string SecureFolder(const std::string& dir)
{
    const Descriptor folder = MakeDescriptor(kFolderRights);
    const Descriptor entry = MakeDescriptor(kEntryRights);
    if (!folder || !entry)
        return ErrorText("the folder's rights", GetLastError());
    const std::wstring wdir = WideFromUtf8(dir);
    SECURITY_ATTRIBUTES sa{sizeof sa, folder.get(), FALSE};
    if (CreateDirectoryW(wdir.c_str(), &sa))
        return {};
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return ErrorText(dir, GetLastError());
    // There already: made by an older version, or by someone else first.
    if (std::string why = Apply(dir, folder.get(), true); !why.empty())
        return why;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((wdir + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return {};
    std::string failed;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (std::string why = Apply(dir + "\\" + Utf8FromWide(name), entry.get(), false);
            !why.empty() && failed.empty())
            failed = why;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return failed;
}

std::string ServiceDataDir(std::string* error)
{
    PWSTR path = nullptr;
    std::wstring dir;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path)) && path)
        dir = path;
    CoTaskMemFree(path);
    if (dir.empty()) {
        if (error)
            *error = "no %ProgramData% folder";
        return {};
    }
    const std::string utf8 = Utf8FromWide(dir + L"\\chronavel");
    if (std::string why = SecureFolder(utf8); !why.empty()) {
        if (error)
            *error = why;
        return {};
    }
    return utf8;
}

namespace {

// The manager calls ServiceMain and the handler with no context of ours.
std::wstring service_name;
void (*service_stop)() = nullptr;
SERVICE_STATUS_HANDLE status_handle = nullptr;
// ServiceMain's thread, once registered, hands the work back to the main
// thread and waits until it is done: the daemon runs on the thread it runs
// on from a console.
HANDLE registered = nullptr; // set when ServiceMain has registered (or failed to)
HANDLE finished = nullptr;   // set when the body has returned

void Report(DWORD state, DWORD exit_code, DWORD wait_hint)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    // A non-zero result is a failure the manager's restart acts on.
    status.dwWin32ExitCode = exit_code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exit_code;
    status.dwWaitHint = wait_hint;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING, 0, 3000);
        if (service_stop)
            service_stop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    status_handle = RegisterServiceCtrlHandlerExW(service_name.c_str(), &Handler, nullptr);
    SetEvent(registered);
    if (status_handle)
        WaitForSingleObject(finished, INFINITE);
}

DWORD WINAPI Dispatcher(LPVOID)
{
    SERVICE_TABLE_ENTRYW table[] = {{service_name.data(), &ServiceMain}, {nullptr, nullptr}};
    // Returns once the service has stopped; fails at once when no manager
    // started this process.
    const BOOL ok = StartServiceCtrlDispatcherW(table);
    SetEvent(registered);
    return ok ? 0 : 1;
}

} // namespace

std::optional<int> RunAsService(const std::string& name, const std::function<int()>& body,
                                void (*on_stop)())
{
    service_name = WideFromUtf8(name);
    service_stop = on_stop;
    registered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE dispatcher = CreateThread(nullptr, 0, &Dispatcher, nullptr, 0, nullptr);
    if (!registered || !finished || !dispatcher)
        return std::nullopt;
    WaitForSingleObject(registered, INFINITE);
    if (!status_handle) {
        WaitForSingleObject(dispatcher, INFINITE);
        CloseHandle(dispatcher);
        return std::nullopt;
    }
    // A console nobody sees: under Wine the serial port's calls hang in a
    // process without one (the first change of its time-outs never
    // returned); on Windows a service's console is never shown.
    AllocConsole();
    Report(SERVICE_RUNNING, 0, 0);
    const int rc = body();
    Report(SERVICE_STOPPED, static_cast<DWORD>(rc), 0);
    SetEvent(finished);
    WaitForSingleObject(dispatcher, 10000);
    CloseHandle(dispatcher);
    return rc;
}

} // namespace chronavel::platform

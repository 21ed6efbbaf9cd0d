#include "platform/api_win32.h"
#include "platform/clock_sync.h"
#include "platform/utf16_win32.h"

#include <memory>
#include <type_traits>
#include <vector>

namespace chronavel::platform {

namespace {

struct ServiceHandleClose {
    void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleClose>;

// The Windows time service's start type and configured Type; false when it
// is not installed or cannot be asked.
bool ReadTimeService(WindowsTimeFacts& facts)
{
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    const ServiceHandle service(OpenServiceW(manager.get(), L"W32Time", SERVICE_QUERY_CONFIG));
    if (!service)
        return false;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<unsigned char> buf(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
    if (needed == 0 || !QueryServiceConfigW(service.get(), config, needed, &needed))
        return false;
    facts.ServiceDisabled = config->dwStartType == SERVICE_DISABLED;
    wchar_t type[64] = L"";
    DWORD size = sizeof type;
    if (RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", L"Type",
                     RRF_RT_REG_SZ, nullptr, type, &size) == ERROR_SUCCESS)
        facts.Type = Utf8FromWide(type);
    return true;
}

} // namespace

// The system steers the clock (an adjustment in effect) only while a time
// service disciplines it; the rest is read from the Windows time service
// (platform/clock_sync_common.cpp has the rule). Needs no privilege.
ClockSync SystemClockSync()
{
    WindowsTimeFacts facts;
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = TRUE;
    facts.Steered = GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && !disabled;
    facts.ServiceKnown = ReadTimeService(facts);
    return ClockSyncFromWindowsTime(facts);
}

} // namespace chronavel::platform

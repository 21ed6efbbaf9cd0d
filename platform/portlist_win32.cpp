#include "platform/portlist.h"
#include "platform/utf16_win32.h"

// initguid.h first, so devguid.h defines the class GUIDs.
// clang-format off
#include <initguid.h>
#include <devguid.h>
// clang-format on
#include <map>
#include <setupapi.h>
#include <string>
#include <vector>

namespace chronavel::platform {

namespace {

constexpr size_t kDeviceNamePrefix = 8; // "\Device\" before "Serial0"

// The friendly names the device manager shows ("USB Serial Port (COM7)"),
// by port name, for the ports whose driver registered one.
std::map<std::wstring, std::wstring> FriendlyNames()
{
    std::map<std::wstring, std::wstring> names;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return names;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof(dev);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        wchar_t friendly[256] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set, &dev, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendly),
                                               sizeof(friendly) - sizeof(wchar_t), nullptr))
            continue;
        HKEY key = SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t port[64] = {};
        DWORD size = sizeof(port) - sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ)
            names[port] = friendly;
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

// "USB Serial Port (COM7)" for COM7 reads "USB Serial Port": the entry
// puts the port's name in front already.
std::wstring WithoutOwnName(std::wstring friendly, const std::wstring& port)
{
    const std::wstring tail = L" (" + port + L")";
    if (friendly.size() > tail.size() &&
        friendly.compare(friendly.size() - tail.size(), tail.size(), tail) == 0)
        friendly.resize(friendly.size() - tail.size());
    return friendly;
}

} // namespace

bool Is8250Placeholder(const std::string&)
{
    return false; // a Linux driver's matter: Windows lists only ports that exist
}

std::vector<PortInfo> ListSerialPorts(const PortListSources&)
{
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports; // no serial ports at all: no key
    const auto friendly = FriendlyNames();
    // In the order the registry lists the values; EnumPorts deals with two
    // values naming the same port.
    for (DWORD i = 0;; ++i) {
        wchar_t value_name[16384];
        DWORD name_len = 16384;
        wchar_t data[256] = {};
        DWORD data_size = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, i, value_name, &name_len, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &data_size);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue; // too long to be a port name, or not a text
        std::wstring port(data, wcsnlen(data, data_size / sizeof(wchar_t)));
        if (port.empty())
            continue;
        const std::wstring name(value_name, name_len);
        PortInfo p;
        p.name = Utf8FromWide(port);
        if (auto f = friendly.find(port); f != friendly.end() && !f->second.empty())
            p.description = Utf8FromWide(WithoutOwnName(f->second, port));
        else
            p.description = Utf8FromWide(
                name.size() > kDeviceNamePrefix ? name.substr(kDeviceNamePrefix) : std::wstring());
        ports.push_back(std::move(p));
    }
    RegCloseKey(key);
    return ports;
}

} // namespace chronavel::platform

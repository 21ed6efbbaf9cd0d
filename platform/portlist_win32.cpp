#include "platform/portlist.h"
#include "platform/utf16_win32.h"

// initguid.h first, so devguid.h defines the class GUIDs.
// clang-format off
#include <initguid.h>
#include <devguid.h>
// clang-format on
#include <cfgmgr32.h>
#include <map>
#include <setupapi.h>
#include <string>
#include <vector>

namespace chronavel::platform {

namespace {

constexpr size_t kDeviceNamePrefix = 8; // "\Device\" before "Serial0"

constexpr int kMaxAncestors = 8; // from the port up to its USB device, at most

struct DeviceFacts {
    std::wstring friendly; // "USB Serial Port (COM7)", when the driver registered one
    std::wstring stable;   // the device instance ID, when a USB device is behind the port
};

std::wstring InstanceId(DEVINST node)
{
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return id;
}

// The port's instance ID names the adapter by its USB serial number (or,
// without one, by its socket), and Windows keeps it over a replug; a port
// of the board or of a PCI card keeps its COM name anyway and gets none.
std::wstring StableName(DEVINST node)
{
    const std::wstring own = InstanceId(node);
    DEVINST at = node;
    for (int level = 0; level < kMaxAncestors; ++level) {
        if (InstanceId(at).rfind(L"USB\\", 0) == 0)
            return own;
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, at, 0) != CR_SUCCESS)
            break;
        at = parent;
    }
    return {};
}

// What the device manager knows of each port, by port name.
std::map<std::wstring, DeviceFacts> PortDevices()
{
    std::map<std::wstring, DeviceFacts> facts;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return facts;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof(dev);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t port[64] = {};
        DWORD size = sizeof(port) - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ && port[0] != 0;
        RegCloseKey(key);
        if (!named)
            continue;
        DeviceFacts& f = facts[port];
        wchar_t friendly[256] = {};
        if (SetupDiGetDeviceRegistryPropertyW(set, &dev, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(friendly),
                                              sizeof(friendly) - sizeof(wchar_t), nullptr))
            f.friendly = friendly;
        f.stable = StableName(dev.DevInst);
    }
    SetupDiDestroyDeviceInfoList(set);
    return facts;
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
    const auto devices = PortDevices();
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
        const auto d = devices.find(port);
        if (d != devices.end() && !d->second.friendly.empty())
            p.description = Utf8FromWide(WithoutOwnName(d->second.friendly, port));
        else
            p.description = Utf8FromWide(
                name.size() > kDeviceNamePrefix ? name.substr(kDeviceNamePrefix) : std::wstring());
        if (d != devices.end())
            p.stable = Utf8FromWide(d->second.stable);
        ports.push_back(std::move(p));
    }
    RegCloseKey(key);
    return ports;
}

std::string CurrentPortName(const std::string& name)
{
    // COM7 and \\.\COM7 are no instance IDs: no need to ask the system.
    if (name.find('\\') == std::string::npos || name.rfind("\\\\", 0) == 0)
        return name;
    const std::vector<PortInfo> ports = ListSerialPorts();
    const PortInfo* p = FindByStableName(ports, name);
    return p ? p->name : name;
}

} // namespace chronavel::platform

#include "platform/portlist.h"
#include "platform/vports.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <map>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>

namespace chronavel::platform {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLevels = 6; // from the port up to its USB device, at most

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

std::string LinkTargetName(const fs::path& link)
{
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

struct Origin {
    std::string driver;
    std::string product; // USB product name, when there is one
};

// Walks up from the port's device: the first driver that is not the
// generic serial-port layer names the hardware; a directory with idVendor
// is the USB device, whose product string is the better description.
Origin FindOrigin(const fs::path& device_link)
{
    Origin o;
    std::error_code ec;
    fs::path dir = fs::canonical(device_link, ec);
    if (ec)
        return o;
    for (int level = 0; level < kMaxLevels && dir.has_relative_path(); ++level) {
        if (fs::exists(dir / "idVendor", ec)) {
            o.product = FirstLine(dir / "product");
            break;
        }
        if (o.driver.empty() && LinkTargetName(dir / "subsystem") != "serial-base")
            o.driver = LinkTargetName(dir / "driver");
        dir = dir.parent_path();
    }
    return o;
}

// A virtual port is a pseudo-terminal: told by its device number, without
// opening it (a link to a real port must not have its lines pulsed).
bool IsPseudoTerminal(const fs::path& path)
{
    constexpr unsigned kFirstPtySlaveMajor = 136; // UNIX98_PTY_SLAVE_MAJOR
    constexpr unsigned kPtySlaveMajors = 8;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return m >= kFirstPtySlaveMajor && m < kFirstPtySlaveMajor + kPtySlaveMajors;
}

// Directory entries, with every error (missing directory, entry vanished
// while listing) ending the walk instead of throwing.
template <class Fn> void ForEachEntry(const std::string& dir, Fn fn)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        fn(*it);
}

// Device name -> link path, from one folder of udev's /dev/serial links:
// they are relative ("../../ttyUSB0"), so the target's last component names
// the device, in a fake tree too. Of two links to one device the first in
// natural order, so the pick never changes from one listing to the next.
std::map<std::string, std::string> LinksByDevice(const fs::path& dir)
{
    std::map<std::string, std::string> links;
    ForEachEntry(dir.string(), [&](const fs::directory_entry& entry) {
        const std::string device = LinkTargetName(entry.path());
        if (device.empty())
            return;
        const std::string link = entry.path().string();
        auto [it, added] = links.emplace(device, link);
        if (!added && NaturalLess(link, it->second))
            it->second = link;
    });
    return links;
}

// by-id names the adapter by its serial number and so follows it into any
// socket; by-path names the socket, still better than the plug order.
void AddStableNames(std::vector<PortInfo>& ports, const std::string& by_dir)
{
    const auto by_id = LinksByDevice(fs::path(by_dir) / "by-id");
    const auto by_path = LinksByDevice(fs::path(by_dir) / "by-path");
    for (PortInfo& p : ports) {
        if (auto it = by_id.find(p.name); it != by_id.end())
            p.stable = it->second;
        else if (auto pt = by_path.find(p.name); pt != by_path.end())
            p.stable = pt->second;
    }
}

std::string EnvOr(const char* var, const std::string& fallback)
{
    const char* over = std::getenv(var);
    return over && *over ? over : fallback;
}

void SortNatural(std::vector<PortInfo>& ports)
{
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return NaturalLess(a.name, b.name); });
}

} // namespace

bool Is8250Placeholder(const std::string& tty_entry)
{
    const std::string type = FirstLine(fs::path(tty_entry) / "type");
    return type == std::to_string(PORT_UNKNOWN);
}

std::vector<PortInfo> ListSerialPorts(const PortListSources& sources)
{
    const PlaceholderProbe probe = sources.probe ? sources.probe : Is8250Placeholder;
    // The end-to-end tests point the tool at a fake tree, so they never
    // probe the machine's real serial ports.
    constexpr const char* kLiveTtyDir = "/sys/class/tty";
    std::string tty_dir = sources.tty_class_dir;
    if (tty_dir.empty())
        tty_dir = EnvOr("CHRONAVEL_TTY_CLASS_DIR", kLiveTtyDir);
    std::string by_dir = sources.serial_by_dir;
    if (by_dir.empty())
        by_dir = EnvOr("CHRONAVEL_SERIAL_BY_DIR", tty_dir == kLiveTtyDir ? "/dev/serial" : "");
    std::vector<PortInfo> real;
    ForEachEntry(tty_dir, [&](const fs::directory_entry& entry) {
        std::error_code ec;
        const fs::path device = entry.path() / "device";
        if (!fs::exists(device, ec))
            return; // virtual consoles and the like have no device
        PortInfo p;
        p.name = entry.path().filename().string();
        Origin o = FindOrigin(device);
        if (o.driver == "serial8250" && probe(entry.path().string()))
            return;
        p.description = !o.product.empty()  ? o.product
                        : !o.driver.empty() ? o.driver
                                            : std::string("serial port");
        real.push_back(std::move(p));
    });
    SortNatural(real);
    if (!by_dir.empty())
        AddStableNames(real, by_dir);

    std::vector<PortInfo> virt;
    const std::string vdir = sources.virtual_dir.empty() ? VirtualPortDir() : sources.virtual_dir;
    const bool trusted =
        sources.virtual_dir.empty() ? VirtualPortDirUsable() : PrivateDirectory(vdir);
    if (trusted) {
        ForEachEntry(vdir, [&](const fs::directory_entry& entry) {
            std::error_code ec;
            if (fs::is_symlink(entry.symlink_status(ec)) && IsPseudoTerminal(entry.path()))
                virt.push_back({entry.path().filename().string(), "virtual port", true});
        });
    }
    SortNatural(virt);

    real.insert(real.end(), virt.begin(), virt.end());
    return real;
}

std::string CurrentPortName(const std::string& name)
{
    return name;
}

} // namespace chronavel::platform

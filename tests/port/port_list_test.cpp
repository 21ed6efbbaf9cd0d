// The port list: serial ports found in a fake sysfs tree and a virtual-port
// directory, and how EnumPorts fills the box, PortNames and ComPort.
#include "platform/portlist.h"
#include "platform/vports.h"
#include "port/port.h"
#include "port/port_list.h"
#include "support/recorder_host.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pty.h>
#include <set>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace chronavel {
namespace {

namespace fs = std::filesystem;
using platform::PortInfo;
using test::TempDir;

void WriteFile(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

void Link(const fs::path& link, const fs::path& target)
{
    fs::create_directories(link.parent_path());
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(link, ec)))
        fs::create_symlink(target, link);
}

// A sysfs tree shaped like the kernel's: /class/tty/NAME/device pointing
// into /devices, drivers and subsystems as links into /bus.
class FakeSysfs {
public:
    explicit FakeSysfs(const fs::path& root) : root_(root) {}

    std::string TtyClass() const { return (root_ / "class/tty").string(); }

    // A device directory with its driver and subsystem links.
    fs::path Device(const std::string& rel, const std::string& bus, const std::string& driver)
    {
        fs::path dir = root_ / "devices" / rel;
        fs::create_directories(dir);
        if (!bus.empty())
            Link(dir / "subsystem", root_ / "bus" / bus);
        if (!driver.empty()) {
            fs::create_directories(root_ / "bus" / bus / "drivers" / driver);
            Link(dir / "driver", root_ / "bus" / bus / "drivers" / driver);
        }
        return dir;
    }
    void Tty(const std::string& name, const fs::path& device)
    {
        fs::create_directories(root_ / "class/tty" / name);
        WriteFile(root_ / "class/tty" / name / "dev", "4:64\n");
        if (!device.empty())
            Link(root_ / "class/tty" / name / "device", device);
    }

    // A port the firmware announced, behind the generic serial-port layer.
    void PnpPort(const std::string& name, const std::string& id)
    {
        Device("pnp0/" + id, "pnp", "serial");
        Device("pnp0/" + id + "/" + id + ":0", "serial-base", "ctrl");
        Tty(name, Device("pnp0/" + id + "/" + id + ":0/" + id + ":0.0", "serial-base", "port"));
    }
    // A port number of the 8250 driver (real or placeholder: the probe says).
    void Port8250(const std::string& name, int index)
    {
        Device("platform/serial8250", "platform", "serial8250");
        Device("platform/serial8250/serial8250:0", "serial-base", "ctrl");
        Tty(name, Device("platform/serial8250/serial8250:0/serial8250:0." + std::to_string(index),
                         "serial-base", "port"));
    }
    // A USB adapter; product empty: the adapter has no product string.
    void UsbPort(const std::string& name, const std::string& usb, const std::string& product,
                 const std::string& driver)
    {
        fs::path hub = Device("pci0000:00/0000:00:14.0/usb1", "usb", "usb");
        WriteFile(hub / "idVendor", "1d6b\n");
        WriteFile(hub / "product", "xHCI Host Controller\n");
        fs::path dev = Device("pci0000:00/0000:00:14.0/usb1/" + usb, "usb", "usb");
        WriteFile(dev / "idVendor", "0403\n");
        if (!product.empty())
            WriteFile(dev / "product", product + "\n");
        std::string intf = "pci0000:00/0000:00:14.0/usb1/" + usb + "/" + usb + ":1.0";
        Device(intf, "usb", driver);
        if (driver == "cdc_acm")
            Tty(name, root_ / "devices" / intf);
        else
            Tty(name, Device(intf + "/" + name, "usb-serial", driver));
    }

private:
    fs::path root_;
};

struct RecordingBox : PortBox {
    std::vector<std::string> items;
    int selected = -1;
    int clears = 0;
    int selects = 0;

    void Clear() override
    {
        items.clear();
        selected = -1;
        ++clears;
    }
    void Add(const std::string& text) override { items.push_back(text); }
    void Select(int index) override
    {
        ASSERT_GE(index, 0);
        ASSERT_LT(index, static_cast<int>(items.size()));
        selected = index;
        ++selects;
    }
};

std::vector<std::string> Names(const std::vector<PortInfo>& ports)
{
    std::vector<std::string> out;
    for (const auto& p : ports)
        out.push_back(p.name);
    return out;
}

// A pseudo-terminal kept open for the length of a test.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty()
    {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
};

class PortListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(tmp_.path().empty());
        sources_.tty_class_dir = sys_.TtyClass();
        sources_.virtual_dir = (tmp_.path() / "ports").string();
        sources_.probe = [this](const std::string& path) {
            probed_.push_back(fs::path(path).filename().string());
            return placeholders_.count(fs::path(path).filename().string()) > 0;
        };
        sources_.serial_by_dir = (tmp_.path() / "serial").string();
        fs::create_directories(sources_.tty_class_dir);
        fs::create_directories(sources_.virtual_dir);
    }

    // A udev link in /dev/serial/by-id or by-path: relative, as udev makes it.
    std::string SerialLink(const std::string& kind, const std::string& link,
                           const std::string& device)
    {
        const fs::path at = fs::path(sources_.serial_by_dir) / kind / link;
        fs::remove(at);
        Link(at, "../../" + device);
        return at.string();
    }

    TempDir tmp_;
    FakeSysfs sys_{tmp_.path() / "sys"};
    platform::PortListSources sources_;
    std::set<std::string> placeholders_;
    std::vector<std::string> probed_;
};

TEST_F(PortListTest, RealPortsWithDescriptionsPlaceholdersLeftOut)
{
    sys_.PnpPort("ttyS0", "00:01");
    for (int i = 1; i < 4; ++i)
        sys_.Port8250("ttyS" + std::to_string(i), i);
    placeholders_ = {"ttyS1", "ttyS3"};
    sys_.UsbPort("ttyUSB0", "1-1", "FT232R USB UART", "ftdi_sio");
    sys_.UsbPort("ttyUSB1", "1-2", "", "pl2303");
    sys_.UsbPort("ttyACM0", "1-3", "Pico", "cdc_acm");
    sys_.Tty("tty0", {}); // a virtual console: no device
    sys_.Tty("console", {});

    auto ports = platform::ListSerialPorts(sources_);
    ASSERT_EQ(Names(ports),
              (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyUSB0", "ttyUSB1"}));
    EXPECT_EQ(ports[0].description, "Pico");
    EXPECT_EQ(ports[1].description, "serial");
    EXPECT_EQ(ports[2].description, "serial8250");
    EXPECT_EQ(ports[3].description, "FT232R USB UART");
    EXPECT_EQ(ports[4].description, "pl2303");
    for (const auto& p : ports)
        EXPECT_FALSE(p.is_virtual);

    // Only the 8250 driver's ports are probed, each by its class entry.
    std::sort(probed_.begin(), probed_.end());
    EXPECT_EQ(probed_, (std::vector<std::string>{"ttyS1", "ttyS2", "ttyS3"}));
}

// The driver's UART type says whether a UART is behind a port number; the
// port itself is never opened to find out.
TEST_F(PortListTest, PlaceholderIsToldByTheUartTypeAlone)
{
    const struct {
        const char* Type; // nullptr: no type file
        bool Placeholder;
    } cases[] = {{"0\n", true}, {"4\n", false}, {"0", true},     {"10\n", false},
                 {"", false},   {"x", false},   {nullptr, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Type ? c.Type : "(no file)");
        const fs::path entry = tmp_.path() / "entry";
        fs::remove_all(entry);
        fs::create_directories(entry);
        if (c.Type)
            WriteFile(entry / "type", c.Type);
        EXPECT_EQ(platform::Is8250Placeholder(entry.string()), c.Placeholder);
    }
}

TEST_F(PortListTest, NaturalOrder)
{
    for (int i : {10, 2, 1, 0, 33})
        sys_.Port8250("ttyS" + std::to_string(i), i);
    auto ports = platform::ListSerialPorts(sources_);
    EXPECT_EQ(Names(ports),
              (std::vector<std::string>{"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyS33"}));

    EXPECT_TRUE(platform::NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(platform::NaturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(platform::NaturalLess("ttyS9", "ttyUSB0"));
    EXPECT_TRUE(platform::NaturalLess("tty", "tty0"));
    EXPECT_TRUE(platform::NaturalLess("a2b3", "a2b10"));
    EXPECT_FALSE(platform::NaturalLess("ttyS1", "ttyS1"));
}

TEST_F(PortListTest, VirtualPortsAfterRealOnes)
{
    Pty a, b;
    ASSERT_FALSE(a.path.empty());
    ASSERT_FALSE(b.path.empty());
    const fs::path vdir = sources_.virtual_dir;
    Link(vdir / "vclock10", a.path);
    Link(vdir / "vclock2", b.path);
    Link(vdir / "stale", tmp_.path() / "gone"); // target no longer there
    WriteFile(tmp_.path() / "file", "x");
    Link(vdir / "notatty", tmp_.path() / "file");
    Link(vdir / "null", "/dev/null"); // a character device, but no terminal
    WriteFile(vdir / "plain", "x");   // not a link
    sys_.UsbPort("ttyUSB0", "1-1", "FT232R USB UART", "ftdi_sio");

    auto ports = platform::ListSerialPorts(sources_);
    ASSERT_EQ(Names(ports), (std::vector<std::string>{"ttyUSB0", "vclock2", "vclock10"}));
    EXPECT_TRUE(ports[1].is_virtual);
    EXPECT_EQ(ports[1].description, "virtual port");
    EXPECT_EQ(PortEntryText(ports[2]), "vclock10 (virtual port)");
}

TEST_F(PortListTest, NoPortsAtAll)
{
    sys_.Tty("tty0", {});
    EXPECT_TRUE(platform::ListSerialPorts(sources_).empty());

    platform::PortListSources missing = sources_;
    missing.tty_class_dir = (tmp_.path() / "nowhere").string();
    missing.virtual_dir = (tmp_.path() / "nowhere-either").string();
    EXPECT_TRUE(platform::ListSerialPorts(missing).empty());

    RecordingBox box;
    box.items = {"old"};
    PortNames[0] = "old";
    std::string com = "ttyS0";
    EnumPorts(box, com, platform::ListSerialPorts(missing));
    EXPECT_EQ(box.clears, 1);
    EXPECT_TRUE(box.items.empty());
    EXPECT_EQ(box.selects, 0);
    EXPECT_EQ(com, "ttyS0");
    EXPECT_EQ(PortNames[0], "");
}

TEST_F(PortListTest, FromSysfsIntoTheBox)
{
    sys_.PnpPort("ttyS0", "00:01");
    sys_.UsbPort("ttyUSB0", "1-1", "FT232R USB UART", "ftdi_sio");
    RecordingBox box;
    std::string com = "ttyUSB0";
    EnumPorts(box, com, platform::ListSerialPorts(sources_));
    EXPECT_EQ(box.items, (std::vector<std::string>{"ttyS0 (serial)", "ttyUSB0 (FT232R USB UART)"}));
    EXPECT_EQ(PortNames[0], "ttyS0");
    EXPECT_EQ(PortNames[1], "ttyUSB0");
    EXPECT_EQ(box.selected, 1);
    EXPECT_EQ(com, "ttyUSB0");
}

// A port is shown and kept by the name that follows its adapter: by-id
// before by-path; a port without either looks as it always did.
TEST_F(PortListTest, StableNamesFromTheSerialLinks)
{
    sys_.PnpPort("ttyS0", "00:01");
    sys_.UsbPort("ttyUSB0", "1-1", "FT232R USB UART", "ftdi_sio");
    sys_.UsbPort("ttyUSB1", "1-2", "", "pl2303");
    sys_.UsbPort("ttyACM0", "1-3", "Pico", "cdc_acm");
    const std::string ftdi =
        SerialLink("by-id", "usb-FTDI_FT232R_USB_UART_A12345-if00-port0", "ttyUSB0");
    SerialLink("by-path", "pci-0000:00:14.0-usb-0:1:1.0-port0", "ttyUSB0");
    const std::string pl2303 =
        SerialLink("by-path", "pci-0000:00:14.0-usb-0:2:1.0-port0", "ttyUSB1");
    const std::string pico = SerialLink("by-id", "usb-Raspberry_Pi_Pico_E66-if00", "ttyACM0");
    SerialLink("by-id", "usb-Gone_Adapter-if00-port0", "ttyUSB9"); // no such port
    WriteFile(fs::path(sources_.serial_by_dir) / "by-id" / "ttyS0", "not a link");

    const struct {
        std::string Name, Stable, Text;
    } expected[] = {
        {"ttyACM0", pico, "usb-Raspberry_Pi_Pico_E66-if00 → ttyACM0 (Pico)"},
        {"ttyS0", "", "ttyS0 (serial)"},
        {"ttyUSB0", ftdi, "usb-FTDI_FT232R_USB_UART_A12345-if00-port0 → ttyUSB0 (FT232R USB UART)"},
        {"ttyUSB1", pl2303, "pci-0000:00:14.0-usb-0:2:1.0-port0 → ttyUSB1 (pl2303)"},
    };
    const auto ports = platform::ListSerialPorts(sources_);
    ASSERT_EQ(ports.size(), std::size(expected));
    RecordingBox box;
    std::string com;
    EnumPorts(box, com, ports);
    for (size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].Name);
        EXPECT_EQ(ports[i].name, expected[i].Name);
        EXPECT_EQ(ports[i].stable, expected[i].Stable);
        EXPECT_EQ(box.items[i], expected[i].Text);
        // What "Подключить" opens and the settings file keeps.
        EXPECT_EQ(PortNames[i], expected[i].Stable.empty() ? expected[i].Name : expected[i].Stable);
    }
}

// The adapter moves to another socket and comes back as ttyUSB1, another
// one taking ttyUSB0: the stored stable name still picks the first adapter.
TEST_F(PortListTest, StoredStableNameFollowsItsAdapterToAnotherSocket)
{
    sys_.PnpPort("ttyS0", "00:01");
    sys_.UsbPort("ttyUSB0", "1-1", "FT232R USB UART", "ftdi_sio");
    const std::string mine =
        SerialLink("by-id", "usb-FTDI_FT232R_USB_UART_MINE-if00-port0", "ttyUSB0");

    // A settings file from before keeps its device name; the entry is found
    // by it and the stable name taken in its place.
    RecordingBox box;
    std::string com = "ttyUSB0";
    EnumPorts(box, com, platform::ListSerialPorts(sources_));
    EXPECT_EQ(box.selected, 1);
    EXPECT_EQ(com, mine);

    fs::remove_all(fs::path(sys_.TtyClass()) / "ttyUSB0");
    sys_.UsbPort("ttyUSB0", "1-1", "CP2102 USB to UART Bridge Controller", "cp210x");
    sys_.UsbPort("ttyUSB1", "1-2", "FT232R USB UART", "ftdi_sio");
    SerialLink("by-id", "usb-Silicon_Labs_CP2102_OTHER-if00-port0", "ttyUSB0");
    SerialLink("by-id", "usb-FTDI_FT232R_USB_UART_MINE-if00-port0", "ttyUSB1");

    const auto ports = platform::ListSerialPorts(sources_);
    EnumPorts(box, com, ports);
    ASSERT_EQ(box.selected, 2);
    EXPECT_EQ(box.items[2], "usb-FTDI_FT232R_USB_UART_MINE-if00-port0 → ttyUSB1 (FT232R USB UART)");
    EXPECT_EQ(com, mine);
    EXPECT_EQ(PortNames[2], mine);
}

PortInfo Port(const std::string& name, const std::string& description = "serial")
{
    return {name, description, false};
}

TEST(EnumPorts, SelectionFollowsComPort)
{
    const std::vector<PortInfo> ports = {Port("ttyS0"), Port("ttyS1"), Port("ttyUSB0")};
    RecordingBox box;

    std::string com = "COM7"; // not on this machine
    EnumPorts(box, com, ports);
    EXPECT_EQ(box.selected, 0);
    EXPECT_EQ(com, "ttyS0");

    com = "ttyUSB0";
    EnumPorts(box, com, ports);
    EXPECT_EQ(box.selected, 2);
    EXPECT_EQ(com, "ttyUSB0");

    com = "TTYUSB0"; // the comparison is case-sensitive
    EnumPorts(box, com, ports);
    EXPECT_EQ(box.selected, 0);
    EXPECT_EQ(com, "ttyS0");
}

TEST(EnumPorts, LaterOfTwoConsecutiveSameNamesTakesThePlace)
{
    RecordingBox box;
    std::string com = "ttyS1";
    EnumPorts(box, com,
              {Port("ttyS0"), Port("ttyS1", "first"), Port("ttyS1", "second"), Port("ttyS2")});
    EXPECT_EQ(box.items,
              (std::vector<std::string>{"ttyS0 (serial)", "ttyS1 (second)", "ttyS2 (serial)"}));
    EXPECT_EQ(PortNames[1], "ttyS1");
    EXPECT_EQ(PortNames[2], "ttyS2");
    EXPECT_EQ(PortNames[3], "");
    EXPECT_EQ(box.selected, 1);

    // Not next to each other: both stay.
    EnumPorts(box, com, {Port("ttyS1", "a"), Port("ttyS0"), Port("ttyS1", "b")});
    EXPECT_EQ(box.items.size(), 3u);
    EXPECT_EQ(box.selected, 2); // the last match wins, as the ascending scan leaves it

    // At the very start.
    EnumPorts(box, com, {Port("ttyS9", "a"), Port("ttyS9", "b")});
    EXPECT_EQ(box.items, std::vector<std::string>{"ttyS9 (b)"});
    EXPECT_EQ(com, "ttyS9");
}

TEST(EnumPorts, AtMost256EntriesAndTheTableNeverOverrun)
{
    std::vector<PortInfo> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(Port("ttyS" + std::to_string(i)));
    RecordingBox box;
    std::string com = "ttyS299";
    EnumPorts(box, com, many);
    ASSERT_EQ(box.items.size(), 256u);
    EXPECT_EQ(box.items.back(), "ttyS255 (serial)");
    EXPECT_EQ(PortNames[255], "ttyS255");
    EXPECT_EQ(box.selected, 0); // ttyS299 did not fit
    EXPECT_EQ(com, "ttyS0");

    // A duplicate of the 256th still takes its place.
    many.resize(256);
    many.push_back(Port("ttyS255", "later"));
    EnumPorts(box, com, many);
    ASSERT_EQ(box.items.size(), 256u);
    EXPECT_EQ(box.items.back(), "ttyS255 (later)");
}

TEST(EnumPorts, EveryCallStartsFromAnEmptyList)
{
    RecordingBox box;
    std::string com = "x";
    EnumPorts(box, com, {Port("a"), Port("b"), Port("c")});
    EnumPorts(box, com, {Port("d")});
    EXPECT_EQ(box.clears, 2);
    EXPECT_EQ(box.items, std::vector<std::string>{"d (serial)"});
    EXPECT_EQ(PortNames[0], "d");
    EXPECT_EQ(PortNames[1], "");
    EXPECT_EQ(PortNames[2], "");
}

TEST(EnumPorts, LongDescriptionsAreClipped)
{
    EXPECT_EQ(PortEntryText(Port("ttyUSB0", std::string(80, 'x'))),
              "ttyUSB0 (" + std::string(50, 'x') + ")");
    // Fifty characters, not fifty bytes, and never half a character.
    std::string cyr;
    for (int i = 0; i < 60; ++i)
        cyr += "Ж";
    std::string fifty;
    for (int i = 0; i < 50; ++i)
        fifty += "Ж";
    EXPECT_EQ(PortEntryText(Port("ttyACM0", cyr)), "ttyACM0 (" + fifty + ")");
}

class PortPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(tmp_.path().empty());
        const char* old = std::getenv("CHRONAVEL_PORTS_DIR");
        had_old_ = old != nullptr;
        if (old)
            old_ = old;
        setenv("CHRONAVEL_PORTS_DIR", tmp_.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (had_old_)
            setenv("CHRONAVEL_PORTS_DIR", old_.c_str(), 1);
        else
            unsetenv("CHRONAVEL_PORTS_DIR");
    }

    TempDir tmp_;
    bool had_old_ = false;
    std::string old_;
};

TEST_F(PortPathTest, NameToPath)
{
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    Link(tmp_.path() / "vclock1", pty.path);
    EXPECT_EQ(PortPath("vclock1"), (tmp_.path() / "vclock1").string());
    EXPECT_EQ(PortPath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PortPath(pty.path), pty.path);
    EXPECT_EQ(PortPath("./relative/ttyX"), "./relative/ttyX");

    // The connection works through the virtual port's name.
    test::RecorderHost host;
    auto port = OpenPort("vclock1", 9600);
    ASSERT_TRUE(port);
    const uint8_t hello[] = {0x55, 0xAA};
    ASSERT_TRUE(port->Write(hello, sizeof hello));
    uint8_t got[2] = {};
    ASSERT_EQ(::read(pty.master, got, 2), 2);
    EXPECT_EQ(got[0], 0x55);
    EXPECT_EQ(got[1], 0xAA);
    EXPECT_TRUE(host.Messages().empty());
}

// Another local user must not be able to plant a port name: a virtual port is
// taken only from a folder that is this user's own and closed to others, and
// never in place of a real /dev port of the same name.
TEST_F(PortPathTest, OnlyAPrivateFolderOffersVirtualPortsAndNeverOverDev)
{
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    Link(tmp_.path() / "vclock1", pty.path);
    Link(tmp_.path() / "null", pty.path); // /dev/null exists: it wins
    EXPECT_EQ(PortPath("null"), "/dev/null");

    const struct {
        const char* Name;
        fs::perms Mode;
        bool Usable;
    } cases[] = {
        {"0700", fs::perms::owner_all, true},
        {"0755",
         fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
             fs::perms::others_read | fs::perms::others_exec,
         true},
        {"0770", fs::perms::owner_all | fs::perms::group_all, false},
        {"0707", fs::perms::owner_all | fs::perms::others_all, false},
        {"1777", fs::perms::all | fs::perms::sticky_bit, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::permissions(tmp_.path(), c.Mode);
        std::string problem;
        EXPECT_EQ(platform::VirtualPortDirUsable(&problem), c.Usable);
        EXPECT_EQ(problem.empty(), c.Usable);
        EXPECT_EQ(PortPath("vclock1"),
                  c.Usable ? (tmp_.path() / "vclock1").string() : std::string("/dev/vclock1"));
    }
    fs::permissions(tmp_.path(), fs::perms::owner_all);

    // A folder that is a symlink, or that belongs to someone else.
    const fs::path link = tmp_.path() / "linked";
    Link(link, tmp_.path());
    EXPECT_FALSE(platform::PrivateDirectory(link.string()));
    const fs::path theirs = tmp_.path() / "theirs";
    fs::create_directory(theirs);
    if (::chown(theirs.c_str(), 65534, 65534) == 0) {
        EXPECT_FALSE(platform::PrivateDirectory(theirs.string()));
    }
    EXPECT_TRUE(platform::PrivateDirectory(tmp_.path().string()));
    EXPECT_FALSE(platform::PrivateDirectory((tmp_.path() / "missing").string()));
}

} // namespace
} // namespace chronavel

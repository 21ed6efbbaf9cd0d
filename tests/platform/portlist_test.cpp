// Stable port names on any system: finding a port by one, and names that
// are not one opening as they always did.
#include "platform/portlist.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace chronavel::platform {
namespace {

TEST(StablePortName, FoundWithoutRegardToCase)
{
    const std::vector<PortInfo> ports = {
        {"COM1", "Communications Port", false, ""},
        {"COM9", "USB Serial Port", false, "FTDIBUS\\VID_0403+PID_6001+A12345A\\0000"},
        {"ttyUSB1", "FT232R USB UART", false, "/dev/serial/by-id/usb-FTDI_A12345-if00-port0"},
    };
    const struct {
        const char* Name;
        const char* Found; // nullptr: none
    } cases[] = {
        {"FTDIBUS\\VID_0403+PID_6001+A12345A\\0000", "COM9"},
        {"ftdibus\\vid_0403+pid_6001+a12345a\\0000", "COM9"},
        {"/dev/serial/by-id/usb-FTDI_A12345-if00-port0", "ttyUSB1"},
        {"FTDIBUS\\VID_0403+PID_6001+B99999A\\0000", nullptr},
        {"COM1", nullptr}, // a device name is no stable name
        {"", nullptr},     // nor is the empty name of a port without one
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const PortInfo* p = FindByStableName(ports, c.Name);
        if (!c.Found)
            EXPECT_EQ(p, nullptr);
        else
            EXPECT_EQ(p ? p->name : "(none)", c.Found);
    }
}

// On Windows this asks the device manager; an adapter that is not there
// leaves the name to fail at the open, as a missing COM port does.
TEST(StablePortName, OtherNamesAndAbsentAdaptersAreKept)
{
    for (const char* name : {"COM7", "\\\\.\\COM12", "ttyUSB0", "/dev/ttyUSB0",
                             "/dev/serial/by-id/usb-Nobody_NOSUCH-if00-port0",
                             "FTDIBUS\\VID_0403+PID_6001+NOSUCHA\\0000"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CurrentPortName(name), name);
    }
}

} // namespace
} // namespace chronavel::platform

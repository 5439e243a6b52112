// The serial devices offered in the port list, and the port entries that name a device.
#include <unistd.h>

#include <filesystem>

#include "links/serial_devices.h"
#include "tests/serial_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

// A device folder like /dev: links named as the kernel names devices, to ptys.
class DeviceFolder {
  public:
    DeviceFolder() { std::filesystem::create_directories(dev.filePath("serial/by-id")); }
    std::string path(const std::string& name) const { return dev.filePath(name); }
    // A link `name` to a fresh pty (or to `target` when given).
    void add(const std::string& name, const std::string& target = "") {
        std::string to = target;
        if (to.empty()) {
            ptys.push_back(std::make_unique<rig::PtyTerminal>(io, holder.path(), ++n));
            to = ptys.back()->slavePath();
        }
        ASSERT_EQ(::symlink(to.c_str(), path(name).c_str()), 0) << name;
    }

    asio::io_context io;
    TempDir dev;
    TempDir holder;  // the ptys' own ports/ links
    std::vector<std::unique_ptr<rig::PtyTerminal>> ptys;
    int n = 0;
};

}  // namespace

TEST(DeviceEntries, TheSettingsFollowTheLastColonOnlyWhenTheyLookLikeSettings) {
    auto parse = [](const std::string& e) {
        const std::optional<DeviceEntry> d = ParseDeviceEntry(e);
        return d ? d->device + " | " + d->settings : std::string("none");
    };
    EXPECT_EQ(parse("/dev/ttyUSB0:2400,e,7,1"), "/dev/ttyUSB0 | 2400,e,7,1");
    EXPECT_EQ(parse("/dev/ttyUSB0"), "/dev/ttyUSB0 | 2400,e,7,1");
    EXPECT_EQ(parse("/dev/ttyUSB0:"), "/dev/ttyUSB0 | ");  // refused by the component, as com1:
    EXPECT_EQ(parse("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0:9600,n,8,1"),
              "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0 | 9600,n,8,1");
    EXPECT_EQ(parse("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0"),
              "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0 | 2400,e,7,1");
    EXPECT_EQ(parse("com1:2400,e,7,1"), "none");
    EXPECT_EQ(parse("dev/ttyUSB0"), "none");
    EXPECT_EQ(parse(""), "none");

    const DeviceEntry e{"/dev/ttyUSB0", "2400,e,7,1"};
    EXPECT_EQ(DeviceOpenFailure(e, "Permission denied", true),
              "Can't open /dev/ttyUSB0:2400,e,7,1\n"
              "Permission denied: add your user to the group dialout");
    EXPECT_EQ(DeviceOpenFailure(e, "No such file or directory", false),
              "Can't open /dev/ttyUSB0:2400,e,7,1\nNo such file or directory");
    EXPECT_EQ(DeviceOpenFailure(e, "", false), "Can't open /dev/ttyUSB0:2400,e,7,1");
    EXPECT_EQ(DeviceOpenFailure(e, "", true),
              "Can't open /dev/ttyUSB0:2400,e,7,1\nadd your user to the group dialout");
}

TEST(DeviceEntries, AccessRefusedOnlyWhenThePermissionsSaySo) {
    asio::io_context io;
    TempDir dir;
    rig::PtyTerminal term(io, dir.path(), 1);
    EXPECT_FALSE(DeviceAccessRefused(term.slavePath()));
    EXPECT_FALSE(DeviceAccessRefused(dir.filePath("missing")));  // missing is not refused
}

TEST(SerialDevices, UsbAndAcmInNumberOrderByStableNameAndOnlyTtySThatAnswer) {
    DeviceFolder f;
    f.add("ttyUSB10");
    f.add("ttyUSB2");
    f.add("ttyACM0");
    f.add("ttyS0");  // a pty has no port type and no modem lines: it does not answer
    f.add("ttyUSB7", "/nonexistent/pts/99");  // the adapter went, its link stayed
    f.add("ttyUSBx", f.path("ttyUSB2"));      // not a kernel name
    f.add("serial/by-id/usb-Maker_Cable_A1-if00-port0", "../../ttyUSB2");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(SerialDevices(f.dev.path()),
              (std::vector<std::string>{f.path("serial/by-id/usb-Maker_Cable_A1-if00-port0"),
                                        f.path("ttyUSB10"), f.path("ttyACM0")}));
    EXPECT_TRUE(SerialDevices(f.path("missing")).empty());
}

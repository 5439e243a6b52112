// The serial devices in the port list, and opening one by its path.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/ports_box.h"
#include "links/serial_devices.h"
#include "links/serial_port.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

// A device folder like /dev: links named as the kernel names devices, to ptys.
class DeviceFolder {
  public:
    DeviceFolder() { QDir(dev.path()).mkpath("serial/by-id"); }
    QString path(const QString& name) const { return QDir(dev.path()).filePath(name); }
    // A link `name` to a fresh pty (or to `target` when given).
    void add(const QString& name, const QString& target = QString()) {
        QString to = target;
        if (to.isEmpty()) {
            ptys.push_back(std::make_unique<rig::PtyTerminal>(holder.path(), ++n));
            to = ptys.back()->slavePath();
        }
        ASSERT_TRUE(QFile::link(to, path(name))) << name.toStdString();
    }

    QTemporaryDir dev;
    QTemporaryDir holder;  // the ptys' own ports/ links
    std::vector<std::unique_ptr<rig::PtyTerminal>> ptys;
    int n = 0;
};

}  // namespace

TEST(DeviceEntries, TheSettingsFollowTheLastColonOnlyWhenTheyLookLikeSettings) {
    auto parse = [](const QString& e) {
        const std::optional<DeviceEntry> d = ParseDeviceEntry(e);
        return d ? d->device + " | " + d->settings : QStringLiteral("none");
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

    const DeviceEntry e{"/dev/ttyUSB0", "2400,e,7,1"};
    EXPECT_EQ(DeviceOpenFailure(e, "Permission denied", true),
              "Can't open /dev/ttyUSB0:2400,e,7,1\n"
              "Permission denied: add your user to the group dialout");
    EXPECT_EQ(DeviceOpenFailure(e, "No such file or directory", false),
              "Can't open /dev/ttyUSB0:2400,e,7,1\nNo such file or directory");
    EXPECT_EQ(DeviceOpenFailure(e, "", false), "Can't open /dev/ttyUSB0:2400,e,7,1");
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
              QStringList({f.path("serial/by-id/usb-Maker_Cable_A1-if00-port0"), f.path("ttyUSB10"),
                           f.path("ttyACM0")}));
    EXPECT_TRUE(SerialDevices(f.path("missing")).isEmpty());
}

TEST(PortsBox, OpeningTheListOffersTheDevicesPresentAfterTheNumberedEntries) {
    QTemporaryDir dir;
    DeviceFolder f;
    f.add("ttyUSB0");
    ASSERT_FALSE(HasFatalFailure());
    WHost w(dir.path());
    auto* box = qobject_cast<PortsBox*>(w.c_ports);
    ASSERT_NE(box, nullptr);
    box->setDeviceFolder(f.dev.path());
    ASSERT_EQ(w.c_ports->count(), 20);  // nothing is looked for before the list is opened
    w.c_ports->setEditText("com3:9600,n,8,1");

    box->showPopup();
    box->hidePopup();
    ASSERT_EQ(w.c_ports->count(), 21);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(w.c_ports->itemText(i), QString("com%1:2400,e,7,1").arg(i + 1));
    EXPECT_EQ(w.c_ports->itemText(20), f.path("ttyUSB0") + ":2400,e,7,1");
    EXPECT_EQ(w.c_ports->currentText(), "com3:9600,n,8,1");

    // Unplugged and another plugged in: the next opening follows, and the chosen device
    // entry stays in the box even when its device is gone.
    w.c_ports->setCurrentIndex(20);
    QFile::remove(f.path("ttyUSB0"));
    f.add("ttyACM3");
    box->RefreshDevices();
    ASSERT_EQ(w.c_ports->count(), 21);
    EXPECT_EQ(w.c_ports->itemText(20), f.path("ttyACM3") + ":2400,e,7,1");
    EXPECT_EQ(w.c_ports->currentText(), f.path("ttyUSB0") + ":2400,e,7,1");
}

using DeviceEntryBridge = BridgeTest;

TEST_F(DeviceEntryBridge, ADeviceEntryOpensThatDeviceAndTheBridgeRuns) {
    w->c_ports->setEditText(terminal->linkPath() + ":2400,e,7,1");
    w->chkIsResidentLoaded->setChecked(true);
    w->b_start->click();
    ASSERT_TRUE(IsTerminalPortOpen(*w)) << messages.join('\n').toStdString();
    EXPECT_EQ(w->Comm->DevicePath(), terminal->linkPath());
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "\r\r");
    terminal->send("hello");
    ASSERT_TRUE(host->waitForBytes(5, 5000));
    EXPECT_EQ(host->takeReceived(), "hello");
    host->send("world");
    ASSERT_TRUE(terminal->waitForBytes(5, 5000));
    EXPECT_EQ(terminal->takeReceived(), "world");

    // A numbered entry afterwards opens the numbered port again, not the device.
    w->b_stop->click();
    w->c_ports->setEditText("com1:2400,e,7,1");
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_TRUE(IsTerminalPortOpen(*w));
    EXPECT_TRUE(w->Comm->DevicePath().isEmpty());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(DeviceEntryBridge, ADeviceThatCannotBeOpenedSaysWhichAndWhy) {
    const QString missing = dir.filePath("ttyUSB9");
    w->c_ports->setEditText(missing + ":9600,n,8,1");
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.at(0), "Can't open " + missing + ":9600,n,8,1\nNo such file or directory");
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_TRUE(w->b_start->isEnabled());

    // A file that is no terminal device.
    messages.clear();
    QFile plain(dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    w->c_ports->setEditText(plain.fileName());
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.at(0), "Can't open " + plain.fileName() +
                                  ":2400,e,7,1\nnot a serial port (not a terminal device)");
}

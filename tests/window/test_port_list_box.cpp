// The port list: the numbered entries, and the serial devices present when it is opened.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <asio/io_context.hpp>
#include <memory>
#include <vector>

#include "app/engine_thread.h"
#include "app/ports_box.h"
#include "app/w_host.h"
#include "rig/pty_terminal.h"

using namespace corvane;

namespace {

// A device folder like /dev: links named as the kernel names devices, to ptys.
class DeviceFolder {
  public:
    DeviceFolder() { QDir(dev.path()).mkpath("serial/by-id"); }
    QString path(const QString& name) const { return QDir(dev.path()).filePath(name); }
    // A link `name` to a fresh pty.
    void add(const QString& name) {
        ptys.push_back(std::make_unique<rig::PtyTerminal>(io, holder.path().toStdString(), ++n));
        ASSERT_TRUE(QFile::link(QString::fromStdString(ptys.back()->slavePath()), path(name)))
            << name.toStdString();
    }

    asio::io_context io;  // the ptys' reads, never run here
    QTemporaryDir dev;
    QTemporaryDir holder;  // the ptys' own ports/ links
    std::vector<std::unique_ptr<rig::PtyTerminal>> ptys;
    int n = 0;
};

}  // namespace

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
    // The refresh is the list's own business: the engine keeps the entry the box shows.
    EXPECT_EQ(w.Channel().Ask([](Engine& e) { return e.Choices().portEntry; }), "com3:9600,n,8,1");

    // Unplugged and another plugged in: the next opening follows, and the chosen device
    // entry stays in the box even when its device is gone.
    w.c_ports->setCurrentIndex(20);
    QFile::remove(f.path("ttyUSB0"));
    f.add("ttyACM3");
    box->RefreshDevices();
    ASSERT_EQ(w.c_ports->count(), 21);
    EXPECT_EQ(w.c_ports->itemText(20), f.path("ttyACM3") + ":2400,e,7,1");
    EXPECT_EQ(w.c_ports->currentText(), f.path("ttyUSB0") + ":2400,e,7,1");
    EXPECT_EQ(w.Channel().Ask([](Engine& e) { return e.Choices().portEntry; }),
              (f.path("ttyUSB0") + ":2400,e,7,1").toStdString());
}

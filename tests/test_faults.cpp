// Faults on the real rig: resets, stalls and hang-ups of either link in the middle of traffic,
// a log folder that cannot be written, floods, and the window closed inside every wait. Each
// test checks that the window still answers and that no byte is lost or changed except where
// the bridge drops data on purpose.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <vector>

#include "links/bridge.h"
#include "links/host_socket.h"
#include "relay/host_data.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

class Faults : public BridgeTest {
  protected:
    // The window answers: a timer posted now fires within the bound.
    bool Answers(int boundMs = 5000) {
        bool fired = false;
        QTimer::singleShot(0, w.get(), [&fired] { fired = true; });
        return rig::RunUntil([&fired] { return fired; }, boundMs);
    }

    // Ticks the pump by hand between short event rounds until the terminal holds n bytes, so a
    // large burst need not take its 25-a-millisecond time; the order is the pump's own.
    bool DrainToTerminal(qsizetype n, int timeoutMs) {
        const QDeadlineTimer deadline(timeoutMs);
        while (terminal->receivedCount() < n && !deadline.hasExpired()) {
            Tick(100);
            rig::RunFor(1);
        }
        return terminal->receivedCount() >= n;
    }

    // Counts what the host socket delivers, before any cleaning.
    void CountHostData() {
        QObject::connect(w->SSL, &HostSocket::DataIn, w.get(),
                         [this](const QByteArray& text, bool) { fromHost += text.size(); });
    }

    int CommLogCount(const QString& part) const { return w->t_CommLog->toPlainText().count(part); }

    qsizetype fromHost = 0;
};

TEST_F(Faults, APortWhoseDeviceIsGoneCannotBeOpenedAndNothingElseIsOpenedInstead) {
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_TRUE(IsTerminalPortOpen(*w));
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_FALSE(IsTerminalPortOpen(*w));

    // The adapter is pulled: the link stays, its device is gone.
    const QString link = terminal->linkPath();
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(dir.filePath("gone/ttyUSB0"), link));
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    EXPECT_EQ(messages, QStringList{"Can't open com1:2400,e,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_TRUE(Answers());

    // A link removed altogether leaves the port to /dev/ttyS(N-1); with none there, the same.
    messages.clear();
    {
        rig::PtyTerminal far(dir.path(), 77);
        w->c_ports->setEditText("com77:2400,e,7,1");
        OpenTerminalPort(*w);
        ASSERT_TRUE(IsTerminalPortOpen(*w));
        CloseTerminalPort(*w);
    }
    if (QFileInfo::exists("/dev/ttyS76")) GTEST_SKIP() << "this machine has /dev/ttyS76";
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    EXPECT_EQ(messages, QStringList{"Can't open com77:2400,e,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_TRUE(Answers());
}

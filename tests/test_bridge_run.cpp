// Whole bridge runs as an operator makes them: start, the terminal's load request, the
// resident load, the host woken up, and stop or close at every wait.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>

#include "app/up_down.h"
#include "links/bridge.h"
#include "links/serial_port.h"
#include "relay/bounds.h"
#include "resident/loader.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

QByteArray Pattern(int size) {
    QByteArray b;
    for (int i = 0; i < size; ++i) b.append(static_cast<char>((i * 31 + i / 256) & 0xFF));
    return b;
}

QByteArray Trailer() { return QByteArray("\xAF\xAF", 2) + QByteArray(253, '\0'); }

struct Pause {
    int ms;
    qsizetype bytesBefore;
    QString settings;
};

}  // namespace

class BridgeRun : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        w->NowSeconds = [] { return QDateTime::currentSecsSinceEpoch(); };
        w->ud_blockdelay->setValue(5);
        // Every pause of the loader is recorded with what the terminal had by then.
        w->Sleep = [this](int ms) {
            onLine += terminal->takeReceived();
            pauses.push_back({ms, onLine.size(), w->Comm->Settings()});
            if (duringPause) duringPause(static_cast<int>(pauses.size()));
            QThread::msleep(static_cast<unsigned long>(ms));
        };
    }

    void WriteLoadFile(int number, const QByteArray& bytes) {
        QFile f(LoadFilePath(dir.path(), number));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // Presses start; the terminal asks for its file once the wait is running.
    void StartAndRequest(const QByteArray& request) {
        QTimer::singleShot(50, w.get(), [this, request] { terminal->send(request); });
        w->b_start->click();
    }

    int Room() const { return LineRoom(w->Comm->Baud(), ToTerminalSlice); }

    QByteArray onLine;
    std::vector<Pause> pauses;
    std::function<void(int)> duringPause;
};

TEST_F(BridgeRun, TheWholeRunLoadsTheResidentAndWakesTheHost) {
    const QByteArray file = Pattern(600);
    WriteLoadFile(5, file);
    StartAndRequest("L05x");
    onLine += terminal->readFor(100);

    ASSERT_EQ(pauses.size(), 3u);
    EXPECT_EQ(pauses[0].ms, 250);  // the line settles at the load settings
    EXPECT_EQ(pauses[0].bytesBefore, 0);
    EXPECT_EQ(pauses[1].ms, 5);
    EXPECT_EQ(pauses[1].bytesBefore, 256);
    EXPECT_EQ(pauses[2].bytesBefore, 512);
    for (const Pause& p : pauses) EXPECT_EQ(p.settings, "2400,o,8,1");
    EXPECT_EQ(onLine, file + Trailer());

    EXPECT_EQ(w->Comm->Settings(), "2400,e,7,1");
    EXPECT_FALSE(w->bLoadingResident);
    EXPECT_TRUE(IsHostConnected(*w));
    EXPECT_EQ(w->l_milestone->text(), "D");
    EXPECT_EQ(w->l_loginMode->text(), "next");
    EXPECT_EQ(w->label[3]->text(), "LOADING FILE 05 BLOCK 01 BYTE 0258");
    EXPECT_TRUE(w->t_blockdelay->isEnabled());
    EXPECT_TRUE(w->ud_blockdelay->isEnabled());
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    rig::RunFor(200);
    EXPECT_EQ(host->received(), "\r\r");
}

TEST_F(BridgeRun, AFileOfWholeChunksPausesAfterTheLastChunkToo) {
    WriteLoadFile(2, Pattern(512));
    StartAndRequest("L02\r");
    onLine += terminal->readFor(100);
    ASSERT_EQ(pauses.size(), 3u);
    EXPECT_EQ(pauses[2].bytesBefore, 512);
    EXPECT_EQ(onLine, Pattern(512) + Trailer());
}

TEST_F(BridgeRun, AFileBeyond64KiBLoadsWholeAndTheCountersWrap) {
    w->ud_blockdelay->setValue(0);
    const QByteArray file = Pattern(70000);
    WriteLoadFile(5, file);
    StartAndRequest("L05x");
    onLine += terminal->readFor(200);
    EXPECT_EQ(pauses.size(), 1u + 70000 / 256);
    EXPECT_EQ(onLine.size(), file.size() + 255);
    EXPECT_EQ(onLine, file + Trailer());
    EXPECT_EQ(w->label[3]->text(), "LOADING FILE 05 BLOCK 88 BYTE 1170");
}

TEST_F(BridgeRun, ALoadAt2400BaudKeepsToTheLineAndChangesSettingsOnlyOnceItHasLeft) {
    const QByteArray file = Pattern(2000);
    const QByteArray all = file + Trailer();
    WriteLoadFile(5, file);
    // Every look the port takes at the device's queue, with what the device had taken by then
    // and the settings the port held: the order of drains and settings changes.
    struct Look {
        qint64 written;
        int device;
        QString settings;
    };
    std::vector<Look> looks;
    const SerialPort::OutputQueueReader lineQueue = TerminalReadsAt(2400);
    SerialPort* port = w->Comm;
    port->setOutputQueueReader([&looks, lineQueue, port](int fd) {
        const int n = lineQueue(fd);
        looks.push_back({port->CharactersWritten(), n, port->Settings()});
        return n;
    });
    long long lead = 0;  // how far the status line ran ahead of the terminal
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (w->bLoadingResident)
            lead = std::max(lead, rig::LoaderStatusByte(*w) - terminal->readTotal());
    });
    watch.start(1);
    QElapsedTimer took;
    took.start();
    StartAndRequest("L05x");
    const double seconds = static_cast<double>(took.elapsed()) / 1000.0;
    port->OutBufferCount();  // one look after the run
    onLine += terminal->readFor(100);

    EXPECT_TRUE(onLine == all) << onLine.size() << " of " << all.size();
    // 11 bits a character at 2400,o,8,1.
    const double lineSeconds = static_cast<double>(all.size()) * 11 / 2400;
    EXPECT_GE(seconds, 0.95 * lineSeconds);
    EXPECT_LE(lead, Room() + 2);
    RecordProperty("seconds", QString::number(seconds).toStdString());
    RecordProperty("status_lead_at_most", static_cast<int>(lead));

    // The line switched to the load settings with nothing queued, and back only once the
    // whole load had been taken by the device and the device held nothing more.
    ASSERT_FALSE(looks.empty());
    std::string order;
    for (size_t i = 0; i < looks.size(); ++i) {
        const bool change = i == 0 || looks[i].settings != looks[i - 1].settings;
        if (change || i + 1 == looks.size() ||
            (i + 1 < looks.size() && looks[i + 1].settings != looks[i].settings))
            order += QString("%1 written %2 device %3%4\n")
                         .arg(looks[i].settings)
                         .arg(looks[i].written)
                         .arg(looks[i].device)
                         .arg(change && i > 0 ? " (changed)" : "")
                         .toStdString();
    }
    RecordProperty("order", order);
    size_t firstLoad = 0;
    while (firstLoad < looks.size() && looks[firstLoad].settings != "2400,o,8,1") ++firstLoad;
    ASSERT_LT(firstLoad, looks.size()) << order;
    ASSERT_GT(firstLoad, 0u) << order;
    EXPECT_EQ(looks[firstLoad - 1].written, 0) << order;
    EXPECT_EQ(looks[firstLoad - 1].device, 0) << order;
    size_t lastLoad = looks.size() - 1;
    while (looks[lastLoad].settings != "2400,o,8,1") --lastLoad;
    ASSERT_LT(lastLoad + 1, looks.size()) << order;
    EXPECT_EQ(looks[lastLoad].written, all.size()) << order;
    EXPECT_EQ(looks[lastLoad].device, 0) << order;
    for (size_t i = firstLoad; i <= lastLoad; ++i)
        ASSERT_EQ(looks[i].settings, "2400,o,8,1") << i << "\n" << order;
    for (size_t i = lastLoad + 1; i < looks.size(); ++i)
        ASSERT_EQ(looks[i].settings, "2400,e,7,1") << i << "\n" << order;
    EXPECT_TRUE(IsHostConnected(*w));
}

TEST_F(BridgeRun, StopInTheMiddleOfALoadAt2400BaudEndsItWithinTheLinesRoom) {
    WriteLoadFile(5, Pattern(2000));
    TerminalReadsAt(2400);
    qint64 readAtStop = -1;
    QElapsedTimer sinceStop;
    // Well inside the load, while the loader waits for the line.
    QTimer::singleShot(1500, w.get(), [&] {
        readAtStop = terminal->readTotal();
        sinceStop.start();
        w->b_stop->click();
    });
    StartAndRequest("L05x");
    const qint64 endedMs = sinceStop.isValid() ? sinceStop.elapsed() : -1;
    ASSERT_GE(readAtStop, 0);
    EXPECT_LT(endedMs, 5000);
    onLine += terminal->readFor(300);
    // What the line held at the stop, and nothing after it; no trailer.
    EXPECT_LE(terminal->readTotal() - readAtStop, Room() + 2);
    ASSERT_GT(onLine.size(), 0);
    EXPECT_LT(onLine.size(), 2000);
    EXPECT_EQ(onLine, Pattern(2000).left(onLine.size()));
    EXPECT_EQ(w->Comm->Settings(), "2400,e,7,1");
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_FALSE(w->bLoadingResident);
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_EQ(host->connectionCount(), 0);
}

TEST_F(BridgeRun, ResidentMarkedLoadedConnectsAtOnce) {
    w->chkIsResidentLoaded->setChecked(true);
    w->b_start->click();
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(IsHostConnected(*w));
    EXPECT_EQ(w->l_milestone->text(), "D");
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->received(), "\r\r");
    EXPECT_TRUE(terminal->readFor(50).isEmpty());
}

TEST_F(BridgeRun, StopInTheMiddleOfALoadSendsNoTrailerAndClosesBothLinks) {
    WriteLoadFile(5, Pattern(600));
    duringPause = [this](int n) {
        if (n == 2) QTimer::singleShot(0, w.get(), [this] { w->b_stop->click(); });
    };
    StartAndRequest("L05x");
    onLine += terminal->readFor(100);
    EXPECT_EQ(onLine, Pattern(256));
    EXPECT_EQ(w->Comm->Settings(), "2400,e,7,1");
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_FALSE(w->label[3]->isEnabled());
    EXPECT_TRUE(w->t_blockdelay->isEnabled());
    EXPECT_TRUE(w->label[11]->isEnabled());
    EXPECT_TRUE(w->ud_blockdelay->isEnabled());
    EXPECT_TRUE(w->b_start->isEnabled());
}

TEST_F(BridgeRun, StopDuringTheWaitForTheRequestEndsTheWait) {
    QTimer::singleShot(100, w.get(), [this] { w->b_stop->click(); });
    QElapsedTimer took;
    took.start();
    w->b_start->click();
    EXPECT_LT(took.elapsed(), 10000);
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampDown);  // the host was never connected
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_TRUE(pauses.empty());
}

TEST_F(BridgeRun, StartWithAPortThatCannotBeOpenedRunsTheRestAtOnce) {
    w->c_ports->setEditText("com96:2400,e,7,1");
    w->b_start->click();
    EXPECT_EQ(messages, QStringList{"Can't open com96:2400,e,7,1"});
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_TRUE(w->label[3]->isEnabled());
    EXPECT_EQ(w->label[3]->text(), "");
    EXPECT_TRUE(w->t_blockdelay->isEnabled());  // woken up again without a host
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(w->sToHost, "\r\r");
}

TEST_F(BridgeRun, AMissingOrEmptyLoadFileSendsNothingAndTheRunGoesOn) {
    w->x_log->setChecked(true);
    StartAndRequest("L07x");
    EXPECT_EQ(w->label[3]->text(), "CANNOT LOAD istlf07.dat");
    EXPECT_TRUE(w->t_CommLog->toPlainText().contains("istlf07.dat"));
    EXPECT_TRUE(terminal->readFor(100).isEmpty());
    EXPECT_TRUE(IsHostConnected(*w));
    EXPECT_EQ(w->Comm->Settings(), "2400,e,7,1");

    b_stop_Click(*w);
    WriteLoadFile(8, QByteArray());
    StartAndRequest("L08x");
    EXPECT_EQ(w->label[3]->text(), "CANNOT LOAD istlf08.dat");
    EXPECT_TRUE(terminal->readFor(100).isEmpty());
}

TEST_F(BridgeRun, ThePortLostDuringALoadEndsItWithoutTrailer) {
    WriteLoadFile(5, Pattern(600));
    duringPause = [this](int n) {
        if (n == 2) terminal->hangUp();
    };
    StartAndRequest("L05x");
    rig::RunFor(100);
    EXPECT_EQ(onLine, Pattern(256));
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(w->Comm->Settings(), "2400,e,7,1");
}

TEST_F(BridgeRun, ClosingTheWindowDuringALoadEndsEverythingPromptly) {
    WriteLoadFile(5, Pattern(600));
    duringPause = [this](int n) {
        if (n == 2) QTimer::singleShot(0, w.get(), [this] { w->CloseByOperator(); });
    };
    QElapsedTimer took;
    took.start();
    StartAndRequest("L05x");
    EXPECT_LT(took.elapsed(), 10000);
    EXPECT_TRUE(w->bUnloaded);
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_FALSE(w->sTimer->isActive());
    onLine += terminal->readFor(100);
    EXPECT_EQ(onLine, Pattern(256));
    EXPECT_EQ(host->connectionCount(), 0);
}

TEST_F(BridgeRun, ClosingTheWindowDuringTheWaitForTheRequestEndsIt) {
    QTimer::singleShot(100, w.get(), [this] { w->CloseByOperator(); });
    QElapsedTimer took;
    took.start();
    w->b_start->click();
    EXPECT_LT(took.elapsed(), 10000);
    EXPECT_TRUE(w->bUnloaded);
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_EQ(host->connectionCount(), 0);
}

TEST_F(BridgeRun, ClosingTheWindowWithBothLinksUpClosesBoth) {
    w->chkIsResidentLoaded->setChecked(true);
    w->b_start->click();
    ASSERT_TRUE(IsHostConnected(*w));
    w->CloseByOperator();
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    EXPECT_EQ(w->l_milestone->text(), "A");  // port closed first, then the host
}

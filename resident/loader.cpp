#include "resident/loader.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "app/pending_events.h"
#include "app/up_down.h"
#include "app/w_host.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "logs/comm_log.h"
#include "relay/login_keys.h"
#include "relay/pump.h"

namespace corvane {

namespace {

constexpr int kChunkBytes = 256;

QString HexDigits(long long value, int digits) {
    const long long mask = (1LL << (4 * digits)) - 1;
    return QStringLiteral("%1").arg(value & mask, digits, 16, QLatin1Char('0')).toUpper();
}

// True while the load may go on: the operator has not stopped it, the window is not closing
// and the port is still there.
bool LoadGoesOn(WHost& w) { return w.bLoadingResident && !w.bUnloaded && IsTerminalPortOpen(w); }

// Holds the next `n` characters back until the line has room for them, by the same bound as
// the pump's output, so the status line never runs ahead of the line by more than that and a
// stop takes effect within it. While the line is full it sleeps until a whole slice fits,
// handling events meanwhile: a stop, a close or a lost port ends the wait at once. False
// when the load must end.
bool WaitForLineRoom(WHost& w, int n) {
    for (;;) {
        if (!LoadGoesOn(w)) return false;
        const qint64 behind = LineBehind(w, n);
        if (behind == 0) return true;
        const qint64 untilSlice = behind + std::max(n, ToTerminalSlice) - n;
        bool due = false;
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        QObject::connect(&wake, &QTimer::timeout, [&due] { due = true; });
        wake.start(
            static_cast<int>(std::clamp(std::ceil(w.Comm->LineMs(untilSlice)), 1.0, 60000.0)));
        while (!due && LoadGoesOn(w)) DoEventsWaiting();
    }
}

// One write of the load; false when the port refused it (the device vanished).
bool Write(WHost& w, const QByteArray& bytes) {
    try {
        w.Comm->Output(bytes);
        return true;
    } catch (const CommError&) {
        return false;
    }
}

}  // namespace

QString TwoDigits(int request) {
    const QString digits = QStringLiteral("%1").arg(std::abs(request), 2, 10, QLatin1Char('0'));
    return request < 0 ? QStringLiteral("-") + digits : digits;
}

QString LoadFilePath(const QString& programDir, int request) {
    const QString name = QStringLiteral("istlf") + TwoDigits(request) + QStringLiteral(".dat");
    return programDir.endsWith(QLatin1Char('/')) ? programDir + name
                                                 : programDir + QLatin1Char('/') + name;
}

QString LoaderStatus(int request, long long chunks, long long position) {
    return QStringLiteral("LOADING FILE ") + TwoDigits(request) + QStringLiteral(" BLOCK ") +
           HexDigits(chunks / 2, 2) + QStringLiteral(" BYTE ") + HexDigits(position, 4);
}

void WaitForLoadFileRequest(WHost& w) {
    if (w.bUnloaded) return;
    if (!w.chkIsResidentLoaded->isChecked()) {
        w.nLoadFileRequest = -1;
        // Each way out comes with an event (the pump's tick that reads the request, the
        // port closing, the window's close): wait for events rather than look every ms.
        while (!w.bUnloaded && IsTerminalPortOpen(w) && w.nLoadFileRequest == -1) DoEventsWaiting();
        if (w.bUnloaded) return;
        if (IsTerminalPortOpen(w)) {
            w.label[3]->setText(QStringLiteral("LOADING FILE ") + TwoDigits(w.nLoadFileRequest));
            loadresident(w);
            if (w.bUnloaded) return;
        }
    }
    WakeupHost(w);
}

void loadresident(WHost& w) {
    w.bLoadingResident = true;
    w.ud_blockdelay->setEnabled(false);
    w.t_blockdelay->setEnabled(false);
    w.label[11]->setEnabled(false);
    const int chunkDelay = w.ud_blockdelay->value();
    const int request = w.nLoadFileRequest;
    try {
        w.Comm->setSettings(QStringLiteral("2400,o,8,1"));
    } catch (const CommError& e) {
        // A real line that refuses the load settings would garble the load: send nothing.
        LogComm(w, QString::fromStdString(e.what()), QString(), false);
        w.label[3]->setText(QStringLiteral("LOADING FILE ") + TwoDigits(request) +
                            QStringLiteral(" LINE REFUSED"));
        return;
    }
    w.Sleep(250);

    // A missing, unreadable or empty file sends nothing and says which file it was.
    const QString path = LoadFilePath(w.ProgramDir(), request);
    QFile file(path);
    QByteArray bytes;
    QString problem;
    if (!file.open(QIODevice::ReadOnly))
        problem = file.errorString();
    else {
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            problem = file.errorString();
        else if (bytes.isEmpty())
            problem = QStringLiteral("the file is empty");
    }
    if (!problem.isEmpty()) {
        const QString name = QFileInfo(path).fileName();
        w.label[3]->setText(QStringLiteral("CANNOT LOAD ") + name);
        LogComm(w,
                QStringLiteral("Cannot load %1: %2").arg(QDir::toNativeSeparators(path), problem),
                QString(), false);
        return;
    }

    const long long length = bytes.size();
    long long position = 0;
    long long chunks = 0;
    int chunkCount = 0;
    bool portLost = false;
    w.label[3]->setText(LoaderStatus(request, 0, 0));
    for (;;) {
        if (position >= length || !w.bLoadingResident) break;
        // The status counts what has been handed to the line, so it waits for room first.
        // Stopped, closing or the port gone: the checks after the loop end the load.
        if (!WaitForLineRoom(w, 1)) break;
        DoEventsNow();
        if (w.bUnloaded) return;
        ++position;
        ++chunkCount;
        if (!w.bLoadingResident) break;
        w.label[3]->setText(LoaderStatus(request, chunks, position));
        if (!w.bLoadingResident) break;
        if (!Write(w, bytes.mid(position - 1, 1))) {
            portLost = true;  // the device vanished: no further byte, no trailer
            break;
        }
        if (!w.bLoadingResident) break;
        if (chunkCount == kChunkBytes) {
            ++chunks;
            w.label[3]->setText(LoaderStatus(request, chunks, position));
            chunkCount = 0;
            w.Sleep(chunkDelay);  // the window is not serviced during the pause
        }
    }
    DoEventsNow();
    if (w.bUnloaded || portLost || !w.bLoadingResident) return;
    // The trailer waits for the line like the file; a stop meanwhile ends it.
    if (!WaitForLineRoom(w, 2) || !Write(w, QByteArray("\xAF\xAF", 2))) return;
    const QByteArray zero(1, '\0');
    for (int i = 0; i < 253; ++i)
        if (!WaitForLineRoom(w, 1) || !Write(w, zero)) return;
}

}  // namespace corvane

#include "logs/comm_log.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QtDebug>
#include <algorithm>

#include "logs/text_utils.h"

namespace corvane {

namespace {

const QString kScreenMark = QStringLiteral(u" \u00F9 ");
const QString kFileMark = QStringLiteral(u" \u00B7 ");
const QString kMarkerLine = QStringLiteral(u"\u00F9\u00F9");

// Windows-1252 bytes 0x80 to 0x9F that stand for characters above U+00FF.
char Cp1252High(char32_t c) {
    static constexpr char32_t kHigh[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// 8-bit text: characters up to U+00FF keep their value (byte text stays byte text), the
// Windows-1252 punctuation takes its byte, anything else becomes "?".
QByteArray ToEightBit(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        bytes.append(c <= 0xFF ? static_cast<char>(c) : Cp1252High(c));
    }
    return bytes;
}

bool IsLogging(const WHost& w) { return w.x_log != nullptr && w.x_log->isChecked(); }

// Hidden during the assignment so the pane is not redrawn line by line; it keeps the
// visibility the monitor toggle gave it.
void RedrawPane(QPlainTextEdit* pane, const LogView& view) {
    if (pane == nullptr) return;
    const bool wasShown = !pane->isHidden();
    pane->hide();
    QString text;
    for (int i = 1; i <= view.Shown; ++i) {
        text += view.Lines[i];
        text += u'\n';
    }
    pane->setPlainText(text);
    if (wasShown) pane->show();
}

void AppendToFile(const QString& path, const QByteArray& line) {
    // Remembers the last failure so a log that cannot be written warns once, not per entry.
    static bool failing = false;
    QFile file(path);
    bool opened = file.open(QIODevice::WriteOnly | QIODevice::Append);
    if (!opened && !QFileInfo::exists(QFileInfo(path).absolutePath())) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        opened = file.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    bool written = false;
    if (opened) {
        written = file.write(line) == line.size();
        file.close();
        written = written && file.error() == QFileDevice::NoError;
    }
    if (!written && !failing) qWarning("Cannot write the log file %s", qPrintable(path));
    failing = !written;
}

}  // namespace

QString CommScreenLine(const QString& tag, const QString& text) {
    return QStringLiteral("00 ") + tag.toLower() + kScreenMark + text;
}

QString CommFileText(const QString& stamp, const QString& tag, const QString& text) {
    return stamp + QStringLiteral("> 00 ") + tag.toLower() + kFileMark + text;
}

QByteArray CommFileLine(const QString& stamp, const QString& tag, const QString& text) {
    return ToEightBit(CommFileText(stamp, tag, text));
}

QString CommLogPath(const QString& programDir) {
    QString dir = programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir;
    if (!dir.endsWith(u'/') && !dir.endsWith(u'\\')) dir += u'/';
    return dir + QStringLiteral("log/000.txt");
}

void RollLogView(LogView& view, const QString& line, const QByteArray& crlf) {
    const int capacity = std::max(view.Capacity, 1);
    if (view.Lines.size() < capacity + 1) view.Lines.resize(capacity + 1);
    if (view.Count >= capacity) {
        // Drop the oldest: lines 2..Capacity move down one.
        for (int i = 1; i < capacity; ++i) view.Lines[i] = view.Lines[i + 1];
        view.Count = capacity;
    } else {
        ++view.Count;
    }
    view.Lines[view.Count] = line;
    view.Shown = std::min(view.Count, capacity);
    const QString end = QString::fromLatin1(crlf);
    QString joined;
    for (int i = 1; i <= view.Shown; ++i) {
        joined += view.Lines[i];
        joined += end;
    }
    view.Lines[0] = joined;
}

void LogComm(WHost& w, const QString& text, const QString& tag, bool marker) {
    Q_UNUSED(marker);
    if (w.CommLogSink) w.CommLogSink(CommFileText(TimeStamp(), tag, text));
    if (!IsLogging(w)) return;
    const QString stamp = TimeStamp();
    const QString screenLine = CommScreenLine(tag, text);
    AppendToFile(CommLogPath(w.ProgramDir()), CommFileLine(stamp, tag, text) + "\r\n");
    RollLogView(w.LogViews[0], screenLine, w.CrLf);
    RedrawPane(w.t_CommLog, w.LogViews[0]);
    LogData(w, 0, QString(), true);
}

void LogData(WHost& w, int channel, const QString& text, bool marker) {
    Q_UNUSED(channel);
    if (!IsLogging(w)) return;
    RollLogView(w.LogViews[1], marker ? kMarkerLine : text, w.CrLf);
    RedrawPane(w.t_DataLog, w.LogViews[1]);
}

void SSL_ConnectionStatus(WHost& w, const QString& connectionEvent, int statusCode,
                          const QString& description) {
    Q_UNUSED(connectionEvent);
    Q_UNUSED(statusCode);
    LogComm(w, description, QString(), false);
}

void SSL_Disconnected(WHost& w, int statusCode, const QString& description) {
    Q_UNUSED(statusCode);
    LogComm(w, description, QString(), false);
}

void SSL_Error(WHost& w, int errorCode, const QString& description) {
    Q_UNUSED(errorCode);
    LogComm(w, description, QString(), false);
}

void SSL_SSLServerAuthentication(WHost& w, const QString& status) {
    LogComm(w, status, QString(), false);
}

void SSL_SSLStatus(WHost& w, const QString& message) { LogComm(w, message, QString(), false); }

}  // namespace corvane

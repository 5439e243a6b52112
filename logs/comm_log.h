// The communication log (pane t_CommLog and the file log/000.txt) and the data log pane
// t_DataLog, written only while "Log to File" is checked.
#pragma once

#include <QByteArray>
#include <QString>

#include "app/w_host.h"

namespace corvane {

// One communication-log entry: the pane line, the file line, and a marker line in the data
// pane.
void LogComm(WHost& w, const QString& text, const QString& tag, bool marker);
// One data-log line; the bridge only writes the marker line "ùù" through LogComm.
void LogData(WHost& w, int channel, const QString& text, bool marker);

// The pane line "00 " + tag in lower case + " ù " + text.
QString CommScreenLine(const QString& tag, const QString& text);
// The file line as text: stamp + "> 00 " + tag in lower case + " · " + text.
QString CommFileText(const QString& stamp, const QString& tag, const QString& text);
// The file line in 8-bit text (the middle dot is 0xB7), without the line end.
QByteArray CommFileLine(const QString& stamp, const QString& tag, const QString& text);
// log/000.txt under the program's folder, with a single separator.
QString CommLogPath(const QString& programDir);
// Adds a line to a rolling list and rebuilds Lines[0], the pane text.
void RollLogView(LogView& view, const QString& line, const QByteArray& crlf);

// The status handlers of the host socket: each logs its text.
void SSL_ConnectionStatus(WHost& w, const QString& connectionEvent, int statusCode,
                          const QString& description);
void SSL_Disconnected(WHost& w, int statusCode, const QString& description);
void SSL_Error(WHost& w, int errorCode, const QString& description);
void SSL_SSLServerAuthentication(WHost& w, const QString& status);
void SSL_SSLStatus(WHost& w, const QString& message);

}  // namespace corvane

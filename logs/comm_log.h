// The communication log (pane t_CommLog and the file log/000.txt) and the data log pane
// t_DataLog, written only while "Log to File" is checked.
#pragma once

#include <string>

#include "logs/log_view.h"

namespace corvane {

class Engine;

// One communication-log entry: the pane line, the file line, and a marker line in the data
// pane.
void LogComm(Engine& e, const std::string& text, const std::string& tag, bool marker);
// One data-log line; the bridge only writes the marker line "ùù" through LogComm.
void LogData(Engine& e, int channel, const std::string& text, bool marker);

// The pane line "00 " + tag in lower case + " ù " + text (UTF-8).
std::string CommScreenLine(const std::string& tag, const std::string& text);
// The file line as text (UTF-8): stamp + "> 00 " + tag in lower case + " · " + text.
std::string CommFileText(const std::string& stamp, const std::string& tag, const std::string& text);
// The file line in 8-bit text (the middle dot is 0xB7), without the line end.
std::string CommFileLine(const std::string& stamp, const std::string& tag, const std::string& text);
// UTF-8 text as 8-bit text: characters up to U+00FF keep their value, the Windows-1252
// punctuation takes its byte, anything else becomes "?"; a byte that is no UTF-8 stays as is.
std::string ToEightBit(const std::string& utf8);
// log/000.txt under the program's folder, with a single separator.
std::string CommLogPath(const std::string& programDir);
// Adds a line to a rolling list and rebuilds Lines[0], the pane text.
void RollLogView(LogView& view, const std::string& line, const std::string& crlf);
// The pane's text: the shown lines, each ended by a line feed.
std::string PaneText(const LogView& view);

// The status handlers of the host socket: each logs its text.
void SSL_ConnectionStatus(Engine& e, const std::string& connectionEvent, int statusCode,
                          const std::string& description);
void SSL_Disconnected(Engine& e, int statusCode, const std::string& description);
void SSL_Error(Engine& e, int errorCode, const std::string& description);
void SSL_SSLServerAuthentication(Engine& e, const std::string& status);
void SSL_SSLStatus(Engine& e, const std::string& message);

}  // namespace corvane

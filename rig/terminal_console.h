// The rig tool's console: the lines an operator types to play the terminal (or the host),
// and how received bytes are shown.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvane::rig {

// "1b 77 63": tokens of one or two hex digits separated by blanks or tabs. Anything else,
// or no token at all, gives no bytes and the reason in why.
std::optional<QByteArray> ParseHexBytes(const QByteArray& text, QString* why = nullptr);

struct ConsoleCommand {
    enum Kind { Nothing, ToProgramFromTerminal, ToProgramFromHost, Help, Quit, Refused };
    Kind kind = Nothing;
    QByteArray bytes;  // what to send
    QString why;       // for Refused
};

// One console line (without its line end):
//   hex HH HH ...      the terminal sends these bytes
//   text TEXT          the terminal sends TEXT as it stands (no line end added)
//   request NN         the terminal asks for load file NN: "L", two digits, CR
//   host hex HH ...    the host sends these bytes
//   host text TEXT     the host sends TEXT
//   help, quit
// A blank line is Nothing; anything else is Refused.
ConsoleCommand ParseConsoleLine(const QByteArray& line);

// The console's own help text.
QString ConsoleHelp();

// "1b 77 63" for the bytes.
QString HexText(const QByteArray& bytes);
// Rows of up to perRow bytes: the hex, padded, then "|" the printable ASCII (others as ".") "|".
QStringList DumpRows(const QByteArray& bytes, int perRow = 16);

}  // namespace corvane::rig

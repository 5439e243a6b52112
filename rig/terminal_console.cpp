#include "rig/terminal_console.h"

namespace corvane::rig {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The first word and the rest after one separating blank; the rest keeps its own blanks so
// that "text" sends exactly what was typed.
std::pair<QByteArray, QByteArray> SplitWord(const QByteArray& line) {
    qsizetype i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    qsizetype end = i;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    const QByteArray word = line.mid(i, end - i);
    return {word, end < line.size() ? line.mid(end + 1) : QByteArray()};
}

ConsoleCommand Refuse(const QString& why) { return {ConsoleCommand::Refused, {}, why}; }

ConsoleCommand Bytes(ConsoleCommand::Kind kind, const QByteArray& verb, const QByteArray& rest) {
    if (verb == "hex") {
        QString why;
        const auto bytes = ParseHexBytes(rest, &why);
        if (!bytes) return Refuse(why);
        return {kind, *bytes, {}};
    }
    if (rest.isEmpty()) return Refuse(QStringLiteral("nothing to send after \"text\""));
    return {kind, rest, {}};
}

}  // namespace

std::optional<QByteArray> ParseHexBytes(const QByteArray& text, QString* why) {
    QByteArray out;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < n && !IsBlank(text[end])) ++end;
        const QByteArray token = text.mid(i, end - i);
        const int hi = HexDigit(token[0]);
        const int lo = token.size() == 2 ? HexDigit(token[1]) : 0;
        if (token.size() > 2 || hi < 0 || lo < 0) {
            if (why)
                *why = QStringLiteral("\"%1\" is not a byte in hex (one or two of 0-9, a-f)")
                           .arg(QString::fromLatin1(token));
            return std::nullopt;
        }
        out.append(static_cast<char>(token.size() == 2 ? hi * 16 + lo : hi));
        i = end;
    }
    if (out.isEmpty()) {
        if (why) *why = QStringLiteral("no bytes given");
        return std::nullopt;
    }
    return out;
}

ConsoleCommand ParseConsoleLine(const QByteArray& line) {
    const auto [verb, rest] = SplitWord(line);
    if (verb.isEmpty()) return {};
    if (verb == "hex" || verb == "text")
        return Bytes(ConsoleCommand::ToProgramFromTerminal, verb, rest);
    if (verb == "host") {
        const auto [hostVerb, hostRest] = SplitWord(rest);
        if (hostVerb == "hex" || hostVerb == "text")
            return Bytes(ConsoleCommand::ToProgramFromHost, hostVerb, hostRest);
        return Refuse(QStringLiteral("\"host\" takes \"hex HH ...\" or \"text TEXT\""));
    }
    if (verb == "request") {
        const QByteArray number = rest.trimmed();
        bool ok = number.size() >= 1 && number.size() <= 2;
        for (char c : number) ok = ok && c >= '0' && c <= '9';
        if (!ok) return Refuse(QStringLiteral("\"request\" takes a file number 0 to 99"));
        return {
            ConsoleCommand::ToProgramFromTerminal, "L" + number.rightJustified(2, '0') + "\r", {}};
    }
    if (verb == "help" && rest.trimmed().isEmpty()) return {ConsoleCommand::Help, {}, {}};
    if (verb == "quit" && rest.trimmed().isEmpty()) return {ConsoleCommand::Quit, {}, {}};
    return Refuse(
        QStringLiteral("unknown command \"%1\" (try help)").arg(QString::fromLatin1(verb)));
}

QString ConsoleHelp() {
    return QStringLiteral(
        "Commands (one a line):\n"
        "  hex 1b 77 63      the terminal sends these bytes to the program\n"
        "  text TEXT         the terminal sends TEXT as typed (no line end added)\n"
        "  request 05        the terminal asks for load file 05 (sends L05 and CR)\n"
        "  host hex HH ...   the host sends these bytes to the program\n"
        "  host text TEXT    the host sends TEXT\n"
        "  help, quit\n"
        "A line that does not parse is refused and nothing is sent.");
}

QString HexText(const QByteArray& bytes) {
    QString s;
    s.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i) s += QLatin1Char(' ');
        s +=
            QStringLiteral("%1").arg(static_cast<unsigned char>(bytes[i]), 2, 16, QLatin1Char('0'));
    }
    return s;
}

QStringList DumpRows(const QByteArray& bytes, int perRow) {
    QStringList rows;
    if (perRow < 1) perRow = 1;
    for (qsizetype at = 0; at < bytes.size(); at += perRow) {
        const QByteArray row = bytes.mid(at, perRow);
        QString text;
        for (char c : row) text += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('.');
        rows << QStringLiteral("%1  |%2|").arg(HexText(row), -(perRow * 3 - 1)).arg(text);
    }
    return rows;
}

}  // namespace corvane::rig

// The program's options: none for the window (as it always started), a few for the window's
// start, and a whole bridge run without a display (--headless).
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvane {

struct CommandLine {
    enum class Mode { Window, Headless, Help, Version, Error };
    Mode mode = Mode::Window;
    QString text;  // the help or version text, or what was wrong

    bool fresh = false;  // the window starts in its start state, nothing remembered is read
    QString programDir;  // load files, ports/ and log/; empty for the default

    // The window's settings for a headless run.
    QString portEntry = QStringLiteral("com1:2400,e,7,1");
    QString systemEntry;
    bool residentLoaded = false;
    QString residentKind;  // empty: none chosen
    std::optional<int> chunkDelay;
    bool logToFile = false;
};

// arguments[0] is the program's name, as in argv. Parsing needs no application object.
CommandLine ParseCommandLine(const QStringList& arguments);

// "com1" and "com1:9600,n,8,1" as the window reads them (without settings the relay's); a
// device path, also as a unit instance gives it ("dev/ttyUSB0"), with or without settings.
std::optional<QString> PortEntryOption(const QString& value, QString* why);
// A preset whose name is `value` (the first of two with the same name), or whose whole entry
// text is `value`.
std::optional<QString> SystemEntryOption(const QString& value, const QStringList& presets,
                                         QString* why);
// "HOST:PORT" as a host system entry named after the host.
std::optional<QString> HostEntryOption(const QString& value, QString* why);

QString HelpText();
QString VersionText();

}  // namespace corvane

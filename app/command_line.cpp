#include "app/command_line.h"

#include <QCommandLineParser>

#include "links/host_connection.h"
#include "links/serial_devices.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "unknown"
#endif

namespace corvane {

namespace {

const QStringList kResidentKinds = {QStringLiteral("IST-I"), QStringLiteral("IST-II"),
                                    QStringLiteral("IST-III"), QStringLiteral("Viking")};

CommandLine Failed(const QString& why) {
    CommandLine c;
    c.mode = CommandLine::Mode::Error;
    c.text = why;
    return c;
}

// --resident-loaded takes an optional kind, which the parser cannot express: the kind is
// moved to an option of its own.
QStringList WithResidentKind(const QStringList& arguments) {
    const QString flag = QStringLiteral("--resident-loaded");
    QStringList out;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (i > 0 && a.startsWith(flag + u'=')) {
            out << flag << QStringLiteral("--resident-kind=") + a.mid(flag.size() + 1);
        } else if (i > 0 && a == flag && i + 1 < arguments.size() &&
                   !arguments.at(i + 1).startsWith(u'-')) {
            out << flag << QStringLiteral("--resident-kind=") + arguments.at(++i);
        } else {
            out << a;
        }
    }
    return out;
}

}  // namespace

std::optional<QString> PortEntryOption(const QString& value, QString* why) {
    QString v = value.trimmed();
    if (v.startsWith(QStringLiteral("dev/"))) v.prepend(u'/');  // a unit's %I drops the "/"
    if (const std::optional<DeviceEntry> device = ParseDeviceEntry(v))
        return device->device + u':' + device->settings;
    if (v.startsWith(QStringLiteral("com"), Qt::CaseInsensitive)) {
        if (!v.contains(u':')) return v + u':' + kDeviceDefaultSettings;
        return v;
    }
    if (why)
        *why = QStringLiteral(
                   "--port %1: give a port entry such as com1:2400,e,7,1 or a device "
                   "path such as /dev/ttyUSB0")
                   .arg(value);
    return std::nullopt;
}

std::optional<QString> SystemEntryOption(const QString& value, const QStringList& presets,
                                         QString* why) {
    for (const QString& entry : presets) {
        if (entry.section(u':', 0, 0) == value) return entry;
    }
    if (presets.contains(value)) return value;
    if (why) {
        QStringList names;
        for (const QString& entry : presets) {
            const QString name = entry.section(u':', 0, 0);
            if (!names.contains(name)) names << name;
        }
        *why = QStringLiteral(
                   "--system %1: no such host system (the list has %2; or give "
                   "--host HOST:PORT)")
                   .arg(value, names.join(QStringLiteral(", ")));
    }
    return std::nullopt;
}

std::optional<QString> HostEntryOption(const QString& value, QString* why) {
    const qsizetype colon = value.lastIndexOf(u':');
    const QString host = colon < 0 ? QString() : value.left(colon).trimmed();
    QString portWhy;
    const std::optional<int> port =
        colon < 0 ? std::nullopt : HostPortOf(value.mid(colon + 1), &portWhy);
    QString problem;
    if (colon < 0 || host.isEmpty())
        problem = QStringLiteral("give HOST:PORT, for example 127.0.0.1:8105");
    else if (host.contains(u':'))
        problem = QStringLiteral(
            "the host entry holds fields separated by \":\", so give a host "
            "name or an IPv4 address");
    else if (!port)
        problem = portWhy;
    if (!problem.isEmpty()) {
        if (why) *why = QStringLiteral("--host %1: %2").arg(value, problem);
        return std::nullopt;
    }
    return QStringLiteral("%1:%1:%2").arg(host).arg(*port);
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption headless(QStringLiteral("headless"), QString());
    const QCommandLineOption fresh(QStringLiteral("fresh"), QString());
    const QCommandLineOption programDir(QStringLiteral("program-dir"), QString(),
                                        QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("ENTRY"));
    const QCommandLineOption system(QStringLiteral("system"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption host(QStringLiteral("host"), QString(), QStringLiteral("HOST:PORT"));
    const QCommandLineOption resident(QStringLiteral("resident-loaded"), QString());
    const QCommandLineOption kind(QStringLiteral("resident-kind"), QString(),
                                  QStringLiteral("KIND"));
    const QCommandLineOption delay(QStringLiteral("chunk-delay"), QString(), QStringLiteral("MS"));
    const QCommandLineOption log(QStringLiteral("log"), QString());
    parser.addOptions({help, version, headless, fresh, programDir, port, system, host, resident,
                       kind, delay, log});

    if (!parser.parse(WithResidentKind(arguments))) return Failed(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return Failed(QStringLiteral("unexpected argument: %1")
                          .arg(parser.positionalArguments().constFirst()));
    CommandLine c;
    if (parser.isSet(help)) {
        c.mode = CommandLine::Mode::Help;
        c.text = HelpText();
        return c;
    }
    if (parser.isSet(version)) {
        c.mode = CommandLine::Mode::Version;
        c.text = VersionText();
        return c;
    }
    for (const QCommandLineOption* o : {&programDir, &port, &system, &host, &kind, &delay}) {
        if (parser.values(*o).size() > 1)
            return Failed(QStringLiteral("--%1 is given more than once").arg(o->names().last()));
    }
    c.fresh = parser.isSet(fresh);
    if (parser.isSet(programDir)) {
        c.programDir = parser.value(programDir);
        if (c.programDir.isEmpty()) return Failed(QStringLiteral("--program-dir needs a folder"));
    }
    if (!parser.isSet(headless)) {
        for (const QCommandLineOption* o : {&port, &system, &host, &resident, &delay, &log}) {
            if (parser.isSet(*o))
                return Failed(
                    QStringLiteral("--%1 is an option of --headless; the window takes its "
                                   "settings from its controls")
                        .arg(o->names().last()));
        }
        return c;
    }

    c.mode = CommandLine::Mode::Headless;
    QString why;
    if (parser.isSet(port)) {
        const std::optional<QString> entry = PortEntryOption(parser.value(port), &why);
        if (!entry) return Failed(why);
        c.portEntry = *entry;
    }
    if (parser.isSet(system) == parser.isSet(host))
        return Failed(
            QStringLiteral("--headless needs the host: --system NAME or --host "
                           "HOST:PORT, one of them"));
    const std::optional<QString> entry =
        parser.isSet(system) ? SystemEntryOption(parser.value(system), SystemPresets(), &why)
                             : HostEntryOption(parser.value(host), &why);
    if (!entry) return Failed(why);
    c.systemEntry = *entry;
    c.residentLoaded = parser.isSet(resident);
    if (parser.isSet(kind)) {
        const QString k = parser.value(kind);
        for (const QString& known : kResidentKinds) {
            if (known.compare(k, Qt::CaseInsensitive) == 0) c.residentKind = known;
        }
        if (c.residentKind.isEmpty())
            return Failed(QStringLiteral("--resident-loaded %1: the kinds are %2")
                              .arg(k, kResidentKinds.join(QStringLiteral(", "))));
    }
    if (parser.isSet(delay)) {
        bool ok = false;
        const int ms = parser.value(delay).trimmed().toInt(&ok);
        if (!ok || ms < 0 || ms > 1000)
            return Failed(QStringLiteral("--chunk-delay %1: give whole milliseconds, 0 to 1000")
                              .arg(parser.value(delay)));
        c.chunkDelay = ms;
    }
    c.logToFile = parser.isSet(log);
    return c;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: corvane [--fresh] [--program-dir DIR]\n"
        "       corvane --headless [--port ENTRY] (--system NAME | --host HOST:PORT)\n"
        "               [--resident-loaded [KIND]] [--chunk-delay MS] [--log] [--program-dir DIR]\n"
        "\n"
        "Bridges a PLATO terminal on a serial port with a PLATO host over TCP.\n"
        "Without --headless it shows its window, with the settings of the last time.\n"
        "\n"
        "  --fresh                   start in the start state; remembered settings are not read\n"
        "  --program-dir DIR         folder of the load files istlfNN.dat, ports/ and log/\n"
        "                            (default: the executable's folder; when installed in a\n"
        "                            bin folder, ~/.local/share/corvane)\n"
        "  --headless                one bridge run without a window or display, until SIGTERM\n"
        "                            or SIGINT; the communication log goes to standard output\n"
        "  --port ENTRY              com1:2400,e,7,1 (the default), or a device such as\n"
        "                            /dev/ttyUSB0 (opens at 2400,e,7,1) or "
        "/dev/ttyUSB0:9600,n,8,1\n"
        "  --system NAME             a host system of the list by name (cyber1, novanet, Ludric)\n"
        "                            or by its whole entry\n"
        "  --host HOST:PORT          a host system not in the list\n"
        "  --resident-loaded [KIND]  the terminal holds its resident already (KIND: IST-I,\n"
        "                            IST-II, IST-III, Viking); else it is loaded on request\n"
        "  --chunk-delay MS          pause after each 256-byte chunk of the load, 0 to 1000\n"
        "                            (default 385)\n"
        "  --log                     also append the communication log to log/000.txt\n"
        "  -h, --help                print this and exit\n"
        "  -v, --version             print the version and exit\n"
        "\n"
        "Exit status: 0 after SIGTERM or SIGINT (or the window closed), 1 when a headless run\n"
        "loses a link or cannot reach the host, 2 for a bad option, a port that cannot be\n"
        "opened, or no display for the window.\n");
}

QString VersionText() { return QStringLiteral("corvane " CORVANE_VERSION "\n"); }

}  // namespace corvane

// corvane-rig: plays the terminal on a pty and a stand-in host on 127.0.0.1, so the bridge can
// be tried without a terminal or a host.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "app/termination_signals.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/sample_load_file.h"
#include "rig/terminal_console.h"

using namespace corvane::rig;

namespace {

void Say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void Complain(const QString& line) {
    std::fputs(qPrintable(QStringLiteral("corvane-rig: ") + line + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

// The console reads at most this much without a line end before it gives up on the line.
constexpr qsizetype kMaxLine = 1 << 20;
// How often the terminal's arrivals are shown.
constexpr int kShowEveryMs = 5;

struct Options {
    QString programDir;
    int com = 1;
    quint16 hostPort = 8105;
    QByteArray banner;
    bool echo = false;
    QByteArray sendOnConnect;  // --send-file contents, then --burst bytes
    QString recordPath;
    int seconds = 600;
    int baud = 0;
};

class Rig : public QObject {
  public:
    explicit Rig(Options options) : o_(std::move(options)) { clock_.start(); }

    // Brings both sides up; false with the reason told when either cannot be.
    bool start() {
        if (!o_.recordPath.isEmpty()) {
            record_.setFileName(o_.recordPath);
            if (!record_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
                Complain(QStringLiteral("cannot write %1: %2")
                             .arg(o_.recordPath, record_.errorString()));
                return false;
            }
        }
        host_ = std::make_unique<LoopbackHost>(o_.hostPort, o_.banner);
        if (!host_->listening()) {
            Complain(QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                         .arg(o_.hostPort)
                         .arg(host_->errorString()));
            return false;
        }
        host_->setEcho(o_.echo);
        connect(host_.get(), &LoopbackHost::connectedChanged, this, &Rig::onHostConnected);
        try {
            terminal_ = std::make_unique<PtyTerminal>(o_.programDir, o_.com);
        } catch (const std::exception& e) {
            Complain(QString::fromLocal8Bit(e.what()));
            return false;
        }
        terminal_->setLineRate(o_.baud);
        terminalOffsetMs_ = clock_.elapsed();

        auto* show = new QTimer(this);
        connect(show, &QTimer::timeout, this, &Rig::showTerminalArrivals);
        show->start(kShowEveryMs);

        // Console input; at its end the rig runs on until its time or a signal.
        stdin_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(stdin_, &QSocketNotifier::activated, this, &Rig::readConsole);

        QTimer::singleShot(o_.seconds * 1000, this, [this] { stop(QStringLiteral("time is up")); });
        Say(QStringLiteral("ready: terminal com%1 at %2 -> %3; host on 127.0.0.1:%4; %5 s")
                .arg(o_.com)
                .arg(QDir::toNativeSeparators(terminal_->linkPath()), terminal_->slavePath())
                .arg(host_->port())
                .arg(o_.seconds));
        return true;
    }

    void stop(const QString& why) {
        if (stopping_) return;
        stopping_ = true;
        showTerminalArrivals();
        if (host_) showHostBytes(host_->takeReceived());
        Say(QStringLiteral("stopped: %1; the terminal received %2 bytes, the host %3")
                .arg(why)
                .arg(terminalBytes_)
                .arg(hostBytes_));
        QCoreApplication::exit(0);
    }

    // The link goes with the terminal, the listening socket with the host.
    void tearDown() {
        terminal_.reset();
        host_.reset();
        record_.close();
    }

  private:
    void onHostConnected(bool up) {
        if (!up) {
            Say(QStringLiteral("host: disconnected"));
            return;
        }
        QString peer;
        for (QTcpSocket* s : host_->findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
            // Shown after the host's own reader has taken the bytes; hooked once a socket.
            if (s->property("rigHooked").toBool()) continue;
            s->setProperty("rigHooked", true);
            connect(s, &QTcpSocket::readyRead, this,
                    [this] { showHostBytes(host_->takeReceived()); });
            peer = QStringLiteral("%1:%2").arg(s->peerAddress().toString()).arg(s->peerPort());
        }
        Say(QStringLiteral("host: connection %1 from %2").arg(host_->connectionCount()).arg(peer));
        if (!o_.banner.isEmpty()) show("host>", o_.banner, clock_.elapsed());
        if (!o_.sendOnConnect.isEmpty()) {
            host_->send(o_.sendOnConnect);
            show("host>", o_.sendOnConnect, clock_.elapsed());
        }
    }

    void showHostBytes(const QByteArray& bytes) {
        if (bytes.isEmpty()) return;
        hostBytes_ += bytes.size();
        show("host<", bytes, clock_.elapsed());
    }

    void showTerminalArrivals() {
        if (!terminal_) return;
        terminal_->takeReceived();  // reads what waits; the arrivals keep the bytes and times
        const auto& arrivals = terminal_->arrivals();
        if (arrivals.empty()) return;
        // One batch a showing, stamped with its first byte's arrival: a load's single-byte
        // writes would otherwise make a line each.
        QByteArray batch;
        batch.reserve(static_cast<qsizetype>(arrivals.size()));
        for (const auto& arrival : arrivals) batch.append(arrival.second);
        show("term<", batch, terminalOffsetMs_ + arrivals.front().first);
        terminalBytes_ += static_cast<qint64>(arrivals.size());
        terminal_->clearArrivals();
    }

    void show(const char* tag, const QByteArray& bytes, qint64 ms) {
        const QString stamp =
            QStringLiteral("%1.%2").arg(ms / 1000).arg(ms % 1000, 3, 10, QLatin1Char('0'));
        const QStringList rows = DumpRows(bytes);
        Say(QStringLiteral("%1 %2 %3 bytes").arg(stamp, QLatin1String(tag)).arg(bytes.size()));
        for (const QString& row : rows) Say(QStringLiteral("  ") + row);
        if (record_.isOpen()) {
            record_.write(QStringLiteral("%1 %2 %3\n")
                              .arg(stamp, QLatin1String(tag), HexText(bytes))
                              .toLatin1());
            record_.flush();
        }
    }

    void readConsole() {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // End of input (or an unreadable one): the rig goes on serving until stopped.
            stdin_->setEnabled(false);
            if (!pending_.isEmpty()) runLine(pending_);
            pending_.clear();
            return;
        }
        pending_.append(buf, n);
        for (;;) {
            const qsizetype end = pending_.indexOf('\n');
            if (end < 0) break;
            QByteArray line = pending_.left(end);
            pending_.remove(0, end + 1);
            if (line.endsWith('\r')) line.chop(1);
            runLine(line);
            if (stopping_) return;
        }
        if (pending_.size() > kMaxLine) {
            Complain(QStringLiteral("refused: a line longer than %1 bytes").arg(kMaxLine));
            pending_.clear();
        }
    }

    void runLine(const QByteArray& line) {
        const ConsoleCommand c = ParseConsoleLine(line);
        switch (c.kind) {
            case ConsoleCommand::Nothing:
                return;
            case ConsoleCommand::Help:
                Say(ConsoleHelp());
                return;
            case ConsoleCommand::Quit:
                stop(QStringLiteral("quit"));
                return;
            case ConsoleCommand::Refused:
                Complain(QStringLiteral("refused, nothing sent: %1").arg(c.why));
                return;
            case ConsoleCommand::ToProgramFromHost:
                if (!host_->connected()) {
                    Complain(QStringLiteral(
                        "refused, nothing sent: no program is connected to the host"));
                    return;
                }
                host_->send(c.bytes);
                show("host>", c.bytes, clock_.elapsed());
                return;
            case ConsoleCommand::ToProgramFromTerminal:
                try {
                    terminal_->send(c.bytes);
                    show("term>", c.bytes, clock_.elapsed());
                } catch (const std::exception& e) {
                    Complain(QString::fromLocal8Bit(e.what()));
                }
                return;
        }
    }

    Options o_;
    QElapsedTimer clock_;
    qint64 terminalOffsetMs_ = 0;
    std::unique_ptr<LoopbackHost> host_;
    std::unique_ptr<PtyTerminal> terminal_;
    QSocketNotifier* stdin_ = nullptr;
    QByteArray pending_;
    QFile record_;
    qint64 terminalBytes_ = 0;
    qint64 hostBytes_ = 0;
    bool stopping_ = false;
};

// The folder of a sibling corvane: beside the rig, or one up (build/ and build/rig/).
QString DefaultProgramDir() {
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {here.path(), here.absoluteFilePath(QStringLiteral(".."))}) {
        const QFileInfo program(QDir(candidate).filePath(QStringLiteral("corvane")));
        if (program.isFile() && program.isExecutable()) return QDir(candidate).canonicalPath();
    }
    return {};
}

bool ReadNumber(const QString& text, const QString& name, qint64 low, qint64 high, qint64& out) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < low || v > high) {
        Complain(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                     .arg(name)
                     .arg(low)
                     .arg(high)
                     .arg(text));
        return false;
    }
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-rig"));
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "A loopback rig for Corvane: plays the terminal on a pty linked as ports/comN under the\n"
        "program's folder, and a stand-in host on 127.0.0.1. Type commands on standard input\n"
        "(\"help\" lists them). Everything shown is tagged term< (the terminal received),\n"
        "term> (it sent), host< and host>.\n\n"
        "  corvane-rig write-load-file [--size N] [--number NN]\n"
        "writes a sample load file istlfNN.dat (byte i is i mod 251) into the program's folder."));
    p.addHelpOption();
    p.addPositionalArgument(QStringLiteral("write-load-file"),
                            QStringLiteral("Write a sample load file and exit."),
                            QStringLiteral("[write-load-file]"));
    const QCommandLineOption dirOpt(
        QStringLiteral("program-dir"),
        QStringLiteral("The program's folder (default: where corvane is)."), QStringLiteral("DIR"));
    const QCommandLineOption comOpt(QStringLiteral("com"),
                                    QStringLiteral("Terminal port comN (default 1)."),
                                    QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption portOpt(
        QStringLiteral("host-port"),
        QStringLiteral("Host port on 127.0.0.1 (default 8105, the preset Ludric)."),
        QStringLiteral("N"), QStringLiteral("8105"));
    const QCommandLineOption bannerOpt(
        QStringLiteral("banner"),
        QStringLiteral(
            "Greeting for each connection, CR LF added; \"\" for none (default: a short one)."),
        QStringLiteral("TEXT"), QStringLiteral("Ludric stand-in host (corvane-rig)"));
    const QCommandLineOption echoOpt(QStringLiteral("echo"),
                                     QStringLiteral("The host echoes what it receives."));
    const QCommandLineOption sendOpt(QStringLiteral("send-file"),
                                     QStringLiteral("The host sends this file on each connection."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption burstOpt(
        QStringLiteral("burst"),
        QStringLiteral("The host sends N bytes (i mod 251) on each connection."),
        QStringLiteral("N"));
    const QCommandLineOption recordOpt(
        QStringLiteral("record"),
        QStringLiteral("Record all traffic, time-stamped, as hex lines to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption baudOpt(
        QStringLiteral("baud"),
        QStringLiteral("The terminal reads at the pace of a line of N baud, 10 bits a character "
                       "(2400: 240 characters a second); 0 reads at once (default)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"),
                                        QStringLiteral("Stop after N seconds (default 600)."),
                                        QStringLiteral("N"), QStringLiteral("600"));
    const QCommandLineOption sizeOpt(
        QStringLiteral("size"), QStringLiteral("write-load-file: size in bytes (default 600)."),
        QStringLiteral("N"), QStringLiteral("600"));
    const QCommandLineOption numberOpt(
        QStringLiteral("number"), QStringLiteral("write-load-file: file number 0-99 (default 5)."),
        QStringLiteral("NN"), QStringLiteral("5"));
    p.addOptions({dirOpt, comOpt, portOpt, bannerOpt, echoOpt, sendOpt, burstOpt, recordOpt,
                  baudOpt, secondsOpt, sizeOpt, numberOpt});
    p.process(app);

    Options o;
    o.programDir = p.isSet(dirOpt) ? p.value(dirOpt) : DefaultProgramDir();
    if (o.programDir.isEmpty()) {
        Complain(QStringLiteral("no corvane beside this tool; give --program-dir DIR"));
        return 2;
    }
    if (!QFileInfo(o.programDir).isDir()) {
        Complain(QStringLiteral("%1 is not a folder").arg(o.programDir));
        return 2;
    }

    const QStringList args = p.positionalArguments();
    if (args.size() > 1 || (args.size() == 1 && args[0] != QLatin1String("write-load-file"))) {
        Complain(QStringLiteral("unknown command \"%1\" (see --help)").arg(args.join(' ')));
        return 2;
    }
    if (args.size() == 1) {
        qint64 size = 0, number = 0;
        if (!ReadNumber(p.value(sizeOpt), QStringLiteral("size"), 1, qint64(1) << 30, size) ||
            !ReadNumber(p.value(numberOpt), QStringLiteral("number"), 0, 99, number))
            return 2;
        QString path, why;
        if (!WriteSampleLoadFile(o.programDir, static_cast<int>(number), size, &path, &why)) {
            Complain(QStringLiteral("cannot write %1: %2").arg(path, why));
            return 1;
        }
        Say(QStringLiteral("wrote %1 (%2 bytes)").arg(path).arg(size));
        return 0;
    }

    qint64 com = 0, port = 0, seconds = 0, burst = 0, baud = 0;
    if (!ReadNumber(p.value(comOpt), QStringLiteral("com"), 1, 256, com) ||
        !ReadNumber(p.value(portOpt), QStringLiteral("host-port"), 1, 65535, port) ||
        !ReadNumber(p.value(secondsOpt), QStringLiteral("seconds"), 1, 7 * 24 * 3600, seconds) ||
        !ReadNumber(p.value(baudOpt), QStringLiteral("baud"), 0, 4000000, baud) ||
        (p.isSet(burstOpt) &&
         !ReadNumber(p.value(burstOpt), QStringLiteral("burst"), 1, qint64(1) << 30, burst)))
        return 2;
    o.com = static_cast<int>(com);
    o.hostPort = static_cast<quint16>(port);
    o.seconds = static_cast<int>(seconds);
    o.baud = static_cast<int>(baud);
    o.echo = p.isSet(echoOpt);
    o.recordPath = p.value(recordOpt);
    const QString banner = p.value(bannerOpt);
    if (!banner.isEmpty()) o.banner = banner.toUtf8() + "\r\n";
    if (p.isSet(sendOpt)) {
        QFile f(p.value(sendOpt));
        if (!f.open(QIODevice::ReadOnly)) {
            Complain(QStringLiteral("cannot read %1: %2").arg(f.fileName(), f.errorString()));
            return 2;
        }
        o.sendOnConnect = f.readAll();
    }
    if (burst > 0) o.sendOnConnect += SampleLoadBytes(burst);

    Rig rig(o);
    corvane::OnTerminationSignals(&rig, [&rig] { rig.stop(QStringLiteral("signal")); });
    if (!rig.start()) {
        rig.tearDown();
        return 1;
    }
    const int status = QCoreApplication::exec();
    rig.tearDown();
    return status;
}

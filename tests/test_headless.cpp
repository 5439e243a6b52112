// corvane --headless as a service runs it: no display, the rig's pty as the terminal and a
// loopback host, ended by a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/sample_load_file.h"
#include "rig/wait.h"

using namespace corvane;
using namespace corvane::rig;

namespace {

class Headless {
  public:
    explicit Headless(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
        process.setProcessEnvironment(env);
        process.start(QString(CORVANE_BINARY), args);
        EXPECT_TRUE(process.waitForStarted(10000));
    }
    ~Headless() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    void collect() {
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
    }
    // True once the program holds `device` open: the bytes a terminal sends before then would
    // be the line's, not the program's.
    bool waitForOpen(const QString& device, int ms = 10000) {
        const QString target = QFileInfo(device).canonicalFilePath();
        const QString fds = QStringLiteral("/proc/%1/fd").arg(process.processId());
        return RunUntil(
            [&] {
                for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::System))
                    if (fd.symLinkTarget() == target) return true;
                return false;
            },
            ms);
    }
    bool waitForEnd(int ms = 10000) {
        const bool ended = RunUntil([&] { return process.state() == QProcess::NotRunning; }, ms);
        collect();
        return ended;
    }
    void signal(int sig) { ::kill(static_cast<pid_t>(process.processId()), sig); }

    QProcess process;
    QByteArray out;
    QByteArray err;
};

QString HostOption(const LoopbackHost& host) {
    return QStringLiteral("127.0.0.1:%1").arg(host.port());
}

void ExpectBytesBothWays(PtyTerminal& terminal, LoopbackHost& host) {
    terminal.send("hello");
    ASSERT_TRUE(host.waitForBytes(5, 10000));
    EXPECT_EQ(host.takeReceived(), "hello");
    host.send(QByteArray("w\xff\xffo\0r", 6) + "ld");  // a doubled 0xFF is one
    ASSERT_TRUE(terminal.waitForBytes(7, 10000));
    EXPECT_EQ(terminal.takeReceived(), QByteArray("w\xffo\0rld", 7));
}

}  // namespace

TEST(Headless, LoadsTheResidentThenBridgesBothWaysAndEndsOnSigtermWithStatusZero) {
    QTemporaryDir dir;
    PtyTerminal terminal(dir.path(), 1);
    LoopbackHost host;
    ASSERT_TRUE(host.listening());
    ASSERT_TRUE(WriteSampleLoadFile(dir.path(), 5, 600));
    Headless run({"--headless", "--port", "com1:2400,e,7,1", "--program-dir", dir.path(), "--host",
                  HostOption(host), "--chunk-delay", "0", "--log"});
    ASSERT_TRUE(run.waitForOpen(terminal.slavePath()));

    terminal.send("L05x");
    ASSERT_TRUE(terminal.waitForBytes(600, 10000));
    EXPECT_EQ(terminal.takeReceived().left(600), SampleLoadBytes(600));
    ASSERT_TRUE(host.waitForConnection(10000));
    ASSERT_TRUE(host.waitForBytes(2, 10000));
    EXPECT_EQ(host.takeReceived(), "\r\r");
    RunFor(100);
    terminal.takeReceived();  // the rest of the load
    ExpectBytesBothWays(terminal, host);

    run.signal(SIGTERM);
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process.exitCode(), 0) << run.err.data();
    EXPECT_TRUE(host.waitForDisconnect(5000));
    // The log lines went to standard output as they happened, and with --log to the file.
    EXPECT_TRUE(run.out.contains("> 00  \xc2\xb7 Connected to 127.0.0.1")) << run.out.data();
    EXPECT_TRUE(run.out.contains("Disconnected from 127.0.0.1")) << run.out.data();
    QFile log(dir.filePath("log/000.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Connected to 127.0.0.1"));
}

TEST(Headless, WithTheResidentLoadedADevicePathRunsAtOnceAndSigintEndsIt) {
    QTemporaryDir dir;
    PtyTerminal terminal(dir.path(), 1);
    LoopbackHost host;
    ASSERT_TRUE(host.listening());
    Headless run({"--headless", "--port", terminal.linkPath(), "--host", HostOption(host),
                  "--resident-loaded", "Viking", "--program-dir", dir.path()});
    ASSERT_TRUE(host.waitForConnection(10000)) << run.err.data();
    ASSERT_TRUE(host.waitForBytes(2, 10000));
    EXPECT_EQ(host.takeReceived(), "\r\r");
    ExpectBytesBothWays(terminal, host);
    EXPECT_TRUE(terminal.takeReceived().isEmpty());  // no load was sent

    // A host that stops reading: what the bridge cannot hold is dropped, and the stop that
    // ends the episode says so once.
    host.setReading(false);
    for (int i = 0; i < 128; ++i) terminal.send(QByteArray(128 * 1024, 'x'));
    RunFor(200);
    host.setReading(true);  // so that the close completes at once
    run.signal(SIGINT);
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.process.exitCode(), 0) << run.err.data();
    EXPECT_TRUE(host.waitForDisconnect(5000));
    EXPECT_EQ(run.out.count("host not reading: "), 1) << run.out.data();
    EXPECT_FALSE(QFile::exists(dir.filePath("log/000.txt")));  // no --log, no file
}

TEST(Headless, ALostHostEndsTheRunWithStatusOneSoAServiceStartsAnother) {
    QTemporaryDir dir;
    PtyTerminal terminal(dir.path(), 1);
    LoopbackHost host;
    ASSERT_TRUE(host.listening());
    Headless run({"--headless", "--port", terminal.linkPath(), "--host", HostOption(host),
                  "--resident-loaded"});
    ASSERT_TRUE(host.waitForBytes(2, 10000)) << run.err.data();
    host.closeConnection();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.process.exitCode(), 1);
    EXPECT_TRUE(run.err.contains("the host ended the connection")) << run.err.data();

    // Nobody listening at all.
    const quint16 port = host.port();
    host.stopListening();
    Headless refused({"--headless", "--port", terminal.linkPath(), "--host",
                      QStringLiteral("127.0.0.1:%1").arg(port), "--resident-loaded"});
    ASSERT_TRUE(refused.waitForEnd());
    EXPECT_EQ(refused.process.exitCode(), 1);
    EXPECT_TRUE(refused.err.contains("no connection to the host 127.0.0.1")) << refused.err.data();
}

TEST(Headless, BadOptionsAndDevicesThatCannotBeOpenedEndWithStatusTwoAndAMessage) {
    QTemporaryDir dir;
    LoopbackHost host;
    ASSERT_TRUE(host.listening());
    const QString missing = dir.filePath("ttyUSB9");
    ASSERT_TRUE(QDir(dir.path()).mkpath("ports"));
    ASSERT_TRUE(QFile::link(missing, dir.filePath("ports/com3")));
    const QList<std::pair<QStringList, QByteArray>> cases = {
        {{"--headless", "--bogus"}, "Unknown option 'bogus'"},
        {{"--headless", "--system", "nosuch"}, "--system nosuch: no such host system"},
        {{"--headless", "--host", HostOption(host), "--chunk-delay", "2000"}, "--chunk-delay 2000"},
        {{"--headless", "--port", missing, "--host", HostOption(host)},
         "Can't open " + missing.toUtf8() + ":2400,e,7,1\nNo such file or directory"},
        // The link of com3 points at an adapter that is gone.
        {{"--headless", "--port", "com3", "--host", HostOption(host), "--program-dir", dir.path()},
         "Can't open com3:2400,e,7,1"},
    };
    for (const auto& [args, message] : cases) {
        Headless run(args);
        ASSERT_TRUE(run.waitForEnd()) << args.join(' ').toStdString();
        EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.process.exitCode(), 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.data();
    }
    RunFor(50);
    EXPECT_EQ(host.connectionCount(), 0);
}

TEST(Headless, HelpAndVersionNeedNoDisplayAndTheWindowWithoutOneSaysWhatToDo) {
    Headless help({"--help"});
    ASSERT_TRUE(help.waitForEnd());
    EXPECT_EQ(help.process.exitCode(), 0);
    EXPECT_TRUE(help.out.contains("--headless")) << help.err.data();
    Headless version({"--version"});
    ASSERT_TRUE(version.waitForEnd());
    EXPECT_EQ(version.process.exitCode(), 0);
    EXPECT_TRUE(version.out.startsWith("corvane ")) << version.out.data();
    // Qt alone would abort with advice to reinstall it.
    Headless window({"--fresh"});
    ASSERT_TRUE(window.waitForEnd());
    EXPECT_EQ(window.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.process.exitCode(), 2);
    EXPECT_TRUE(window.err.contains("no display")) << window.err.data();
    EXPECT_TRUE(window.err.contains("corvane --headless")) << window.err.data();
}

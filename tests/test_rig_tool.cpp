// corvane-rig as an operator runs it: its console, and its terminal and host on either side
// of a window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>

#include "app/w_host.h"
#include "links/bridge.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"
#include "logs/text_utils.h"
#include "resident/loader.h"
#include "rig/proc_stats.h"
#include "rig/sample_load_file.h"
#include "rig/terminal_console.h"
#include "rig/wait.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::rig;

namespace {

QByteArray Hex(const char* text) { return *ParseHexBytes(text); }

// The port is free when asked; nothing else on this machine should take it in between.
quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class RigProcess {
  public:
    explicit RigProcess(const QStringList& args) {
        process.setProgram(QStringLiteral(CORVANE_RIG_BINARY));
        process.setArguments(args);
        process.start();
    }
    ~RigProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    void collect() {
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
    }
    bool waitForOutput(const QByteArray& text, int ms = 10000) {
        return RunUntil(
            [&] {
                collect();
                return out.contains(text);
            },
            ms);
    }
    bool waitForEnd(int ms = 10000) {
        const bool ended = RunUntil([&] { return process.state() == QProcess::NotRunning; }, ms);
        collect();
        return ended;
    }
    void type(const QByteArray& line) { process.write(line + "\n"); }

    QProcess process;
    QByteArray out;
    QByteArray err;
};

// The bytes of all record lines with the tag, in order.
QByteArray Recorded(const QString& path, const QByteArray& tag) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3 || parts[1] != tag) continue;
        bytes += Hex(line.mid(parts[0].size() + parts[1].size() + 2).constData());
    }
    return bytes;
}

}  // namespace

TEST(RigConsole, HexLinesTakeOneOrTwoDigitBytesAndRefuseAnythingElse) {
    EXPECT_EQ(ParseHexBytes("1b 77 63"), QByteArray("\x1b\x77\x63"));
    EXPECT_EQ(ParseHexBytes(" 0  A\tFf "), QByteArray("\x00\x0a\xff", 3));
    QString why;
    for (const char* bad : {"1b zz 63", "123", "1b,77", "0x1b", "", "   "}) {
        EXPECT_FALSE(ParseHexBytes(bad, &why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
}

TEST(RigConsole, CommandsSayWhoSendsWhat) {
    ConsoleCommand c = ParseConsoleLine("text  two  blanks ");
    EXPECT_EQ(c.kind, ConsoleCommand::ToProgramFromTerminal);
    EXPECT_EQ(c.bytes, " two  blanks ");  // exactly as typed after the one separator
    c = ParseConsoleLine("request 5");
    EXPECT_EQ(c.bytes, "L05\r");
    EXPECT_EQ(ParseConsoleLine("request 12").bytes, "L12\r");
    c = ParseConsoleLine("host hex ff 41");
    EXPECT_EQ(c.kind, ConsoleCommand::ToProgramFromHost);
    EXPECT_EQ(c.bytes, QByteArray("\xff\x41"));
    EXPECT_EQ(ParseConsoleLine("host text x").bytes, "x");
    EXPECT_EQ(ParseConsoleLine("  ").kind, ConsoleCommand::Nothing);
    EXPECT_EQ(ParseConsoleLine("quit").kind, ConsoleCommand::Quit);
    for (const char* bad : {"hex 1b zz", "text", "request 123", "request x", "host", "host 41",
                            "Hex 41", "41 42", "quit now"}) {
        c = ParseConsoleLine(bad);
        EXPECT_EQ(c.kind, ConsoleCommand::Refused) << bad;
        EXPECT_TRUE(c.bytes.isEmpty()) << bad;
    }
}

TEST(RigConsole, DumpRowsShowHexAndPrintableText) {
    const QStringList rows = DumpRows(QByteArray("Hi\r\n", 4) + QByteArray(14, 'x'), 16);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0].startsWith("48 69 0d 0a 78"));
    EXPECT_TRUE(rows[0].endsWith("|Hi..xxxxxxxxxxxx|"));
    EXPECT_EQ(rows[1], QStringLiteral("78 78").leftJustified(47) + "  |xx|");
}

TEST(RigLoadFile, TheSampleShowsAnyShiftAndHoldsNo0xFF) {
    const QByteArray b = SampleLoadBytes(70000);
    ASSERT_EQ(b.size(), 70000);
    EXPECT_FALSE(b.contains('\xFF'));
    EXPECT_EQ(b[250], '\xFA');
    EXPECT_EQ(b[251], '\0');
    EXPECT_NE(b.mid(0, 256), b.mid(256, 256));  // a lost chunk would not go unseen

    QTemporaryDir dir;
    QString path, why;
    ASSERT_TRUE(WriteSampleLoadFile(dir.path(), 7, 1000, &path, &why)) << why.toStdString();
    EXPECT_EQ(path, LoadFilePath(dir.path(), 7));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), SampleLoadBytes(1000));
    EXPECT_FALSE(WriteSampleLoadFile(dir.path(), 100, 10, nullptr, &why));
    EXPECT_FALSE(WriteSampleLoadFile(dir.path() + "/missing", 5, 10, nullptr, &why));
}

TEST(RigProcStats, ReadsCpuAndMemoryOfAProcessAndNothingOfAMissingOne) {
    const auto rss = VmKiB("VmRSS");  // first: the peak read after it is never below it
    const auto hwm = VmKiB("VmHWM");
    ASSERT_TRUE(hwm && rss);
    EXPECT_GT(*rss, 1024);  // a Qt test process holds more than a MiB
    EXPECT_GE(*hwm, *rss);
    const auto cpu = CpuSeconds();
    ASSERT_TRUE(cpu);
    EXPECT_GE(*cpu, 0.0);
    EXPECT_FALSE(CpuSeconds(999999999));
    EXPECT_FALSE(VmKiB("VmHWM", 999999999));
    EXPECT_FALSE(VmKiB("NoSuchField"));
}

TEST(RigTool, WritesTheSampleLoadFileIntoTheProgramsFolder) {
    QTemporaryDir dir;
    RigProcess rig({"write-load-file", "--program-dir", dir.path(), "--size", "600"});
    ASSERT_TRUE(rig.waitForEnd());
    EXPECT_EQ(rig.process.exitCode(), 0) << rig.err.toStdString();
    QFile f(LoadFilePath(dir.path(), 5));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), SampleLoadBytes(600));
}

TEST(RigTool, ItsTerminalAndHostTalkThroughAWindowByteForByte) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList messages;
    SetMessageHandler([&](const QString& m) { messages << m; });
    const quint16 port = FreePort();
    const QString record = dir.filePath("record.txt");
    RigProcess rig({"--program-dir", dir.path(), "--host-port", QString::number(port), "--seconds",
                    "60", "--banner", "RIG BANNER", "--record", record});
    ASSERT_TRUE(rig.waitForOutput("ready:")) << rig.err.toStdString();

    {
        WHost w(dir.path());
        corvane::testing::ChooseHost(w, QStringLiteral("Ludric"), port);
        w.chkIsResidentLoaded->setChecked(true);
        w.b_start->click();
        ASSERT_TRUE(IsTerminalPortOpen(w)) << messages.join('\n').toStdString();
        ASSERT_TRUE(IsHostConnected(w));

        // The host's greeting reaches the rig's terminal through the window.
        ASSERT_TRUE(RunUntil([&] { return Recorded(record, "term<").size() >= 12; }, 10000));
        EXPECT_EQ(Recorded(record, "term<"), "RIG BANNER\r\n");
        ASSERT_TRUE(rig.waitForOutput("|RIG BANNER..|"));

        // What the terminal types reaches the rig's host, every byte value included; a line
        // that does not parse sends nothing.
        QByteArray all;
        QByteArray allHex = "hex";
        for (int v = 0; v < 256; ++v) {
            all.append(static_cast<char>(v));
            allHex += QByteArray(" ") + QByteArray::number(v, 16);
        }
        rig.type("text Hello, Ludric!");
        rig.type(allHex);
        rig.type("hex 41 zz 42");
        rig.type("text END");
        const QByteArray expected =
            "\r\r"
            "Hello, Ludric!" +
            all + "END";
        EXPECT_TRUE(
            RunUntil([&] { return Recorded(record, "host<").size() >= expected.size(); }, 10000));
        RunFor(100);
        EXPECT_EQ(Recorded(record, "host<"), expected);
        rig.collect();
        EXPECT_TRUE(rig.err.contains("refused, nothing sent: \"zz\"")) << rig.err.toStdString();
        EXPECT_FALSE(rig.err.contains("pty terminal")) << rig.err.toStdString();

        b_stop_Click(w);
        EXPECT_TRUE(rig.waitForOutput("host: disconnected"));
    }
    SetMessageHandler({});
    rig.type("quit");
    ASSERT_TRUE(rig.waitForEnd());
    EXPECT_EQ(rig.process.exitCode(), 0);
    EXPECT_TRUE(rig.out.contains("stopped: quit"));
    EXPECT_FALSE(QFileInfo(dir.filePath("ports/com1")).isSymLink());
}

TEST(RigTool, StopsCleanlyOnSigtermOrItsTimeLimitAndRemovesTheLink) {
    QTemporaryDir dir;
    const QString link = dir.filePath("ports/com3");
    {
        RigProcess rig({"--program-dir", dir.path(), "--com", "3", "--host-port",
                        QString::number(FreePort()), "--seconds", "60"});
        ASSERT_TRUE(rig.waitForOutput("ready:")) << rig.err.toStdString();
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        rig.process.terminate();
        ASSERT_TRUE(rig.waitForEnd());
        EXPECT_EQ(rig.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(rig.process.exitCode(), 0);
        EXPECT_TRUE(rig.out.contains("stopped: signal"));
        EXPECT_FALSE(QFileInfo(link).isSymLink());
    }
    {
        RigProcess rig({"--program-dir", dir.path(), "--com", "3", "--host-port",
                        QString::number(FreePort()), "--seconds", "1"});
        ASSERT_TRUE(rig.waitForEnd(15000));
        EXPECT_EQ(rig.process.exitCode(), 0);
        EXPECT_TRUE(rig.out.contains("stopped: time is up"));
        EXPECT_FALSE(QFileInfo(link).isSymLink());
    }
}

TEST(RigTool, ABusyHostPortIsReportedWithItsReason) {
    QTemporaryDir dir;
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    RigProcess rig({"--program-dir", dir.path(), "--host-port",
                    QString::number(holder.serverPort()), "--seconds", "30"});
    ASSERT_TRUE(rig.waitForEnd());
    EXPECT_NE(rig.process.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(rig.err);
    EXPECT_TRUE(
        err.contains(QStringLiteral("cannot listen on 127.0.0.1:%1: ").arg(holder.serverPort())))
        << err.toStdString();
    EXPECT_TRUE(err.contains("in use", Qt::CaseInsensitive)) << err.toStdString();
    EXPECT_FALSE(QFileInfo(dir.filePath("ports/com1")).isSymLink());
}

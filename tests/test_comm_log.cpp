#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "logs/comm_log.h"

namespace corvane {
namespace {

const QByteArray kCrLf("\r\n");

TEST(CommLines, ScreenLineHasTheMarkerBetweenTagAndText) {
    EXPECT_EQ(CommScreenLine("", "connected"), QStringLiteral(u"00  \u00F9 connected"));
    EXPECT_EQ(CommScreenLine("SSL", "x"), QStringLiteral(u"00 ssl \u00F9 x"));
    // An empty text leaves the line ending in a blank.
    EXPECT_EQ(CommScreenLine("", ""), QStringLiteral(u"00  \u00F9 "));
}

TEST(CommLines, FileLineIsEightBitWithTheMiddleDot) {
    const QString stamp = "12/06/2026 21:55:25.45";
    EXPECT_EQ(CommFileLine(stamp, "", "Connection refused"),
              QByteArray("12/06/2026 21:55:25.45> 00  \xB7 Connection refused"));
    EXPECT_EQ(CommFileLine(stamp, "Tag", ""), QByteArray("12/06/2026 21:55:25.45> 00 tag \xB7 "));
    EXPECT_TRUE(CommFileLine(stamp, "", "").endsWith("\xB7 "));
}

TEST(CommLines, FileLineEncodesWindows1252AndReplacesTheRest) {
    const QString text = QStringLiteral(u"\u00F9\u00E9\u20AC\u2013\u4E00\U0001F600");
    EXPECT_EQ(CommFileLine("", "", text), QByteArray("> 00  \xB7 \xF9\xE9\x80\x96??"));
    // Byte text (one character per byte) keeps its byte values.
    EXPECT_EQ(CommFileLine("", "", QString::fromLatin1("\x01\xFF", 2)),
              QByteArray("> 00  \xB7 \x01\xFF"));
}

TEST(CommLogPath, SingleSeparatorUnderTheProgramFolder) {
    EXPECT_EQ(CommLogPath("/opt/corvane"), "/opt/corvane/log/000.txt");
    EXPECT_EQ(CommLogPath("/opt/corvane/"), "/opt/corvane/log/000.txt");
    EXPECT_EQ(CommLogPath("/"), "/log/000.txt");
    EXPECT_EQ(CommLogPath("C:\\"), "C:\\log/000.txt");
}

TEST(RollLogView, GrowsThenDropsTheOldestAtCapacity) {
    LogView view;
    for (int i = 1; i <= 3; ++i) RollLogView(view, QString::number(i), kCrLf);
    EXPECT_EQ(view.Count, 3);
    EXPECT_EQ(view.Shown, 3);
    EXPECT_EQ(view.Lines[0], "1\r\n2\r\n3\r\n");

    for (int i = 4; i <= 31; ++i) RollLogView(view, QString("e%1").arg(i), kCrLf);
    EXPECT_EQ(view.Count, 30);
    EXPECT_EQ(view.Shown, 30);
    QString expected = "2\r\n3\r\n";
    for (int i = 4; i <= 31; ++i) expected += QString("e%1\r\n").arg(i);
    EXPECT_EQ(view.Lines[0], expected);
    EXPECT_EQ(view.Lines[1], "2");
    EXPECT_EQ(view.Lines[30], "e31");
    EXPECT_EQ(view.Lines.size(), 41);
}

}  // namespace
}  // namespace corvane

// ---- the writers on a window ----
namespace corvane {
namespace {

QStringList PaneLines(const QPlainTextEdit* pane) {
    return pane->toPlainText().split(u'\n', Qt::SkipEmptyParts);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

class CommLogWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        w = std::make_unique<WHost>(dir.path());
    }
    QString LogFile() const { return dir.filePath("log/000.txt"); }

    QTemporaryDir dir;
    std::unique_ptr<WHost> w;
};

TEST_F(CommLogWindow, UncheckedLogChangesNothingAndCheckingContinuesTheLists) {
    ASSERT_FALSE(w->x_log->isChecked());
    SSL_Error(*w, 10061, "refused");
    EXPECT_TRUE(w->t_CommLog->toPlainText().isEmpty());
    EXPECT_TRUE(w->t_DataLog->toPlainText().isEmpty());
    EXPECT_EQ(w->LogViews[0].Count, 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("log")));

    w->x_log->setChecked(true);
    SSL_Error(*w, 0, "first");
    w->x_log->setChecked(false);
    SSL_Error(*w, 0, "dropped");
    w->x_log->setChecked(true);
    SSL_Error(*w, 0, "second");
    EXPECT_EQ(PaneLines(w->t_CommLog),
              QStringList({CommScreenLine("", "first"), CommScreenLine("", "second")}));
    EXPECT_EQ(PaneLines(w->t_DataLog).size(), 2);
    EXPECT_EQ(ReadAll(LogFile()).count("\r\n"), 2);
}

TEST_F(CommLogWindow, OneEntryGivesOnePaneLineOneMarkerAndOneFileLine) {
    w->x_log->setChecked(true);
    ASSERT_FALSE(QFileInfo::exists(dir.filePath("log")));  // created by the first entry
    SSL_Error(*w, 10061, "Connection refused");

    const QString screen = QStringLiteral(u"00  \u00F9 Connection refused");
    EXPECT_EQ(PaneLines(w->t_CommLog), QStringList({screen}));
    EXPECT_EQ(w->LogViews[0].Lines[0], screen + "\r\n");
    EXPECT_EQ(PaneLines(w->t_DataLog), QStringList({QStringLiteral(u"\u00F9\u00F9")}));
    EXPECT_EQ(w->LogViews[1].Lines[0], QStringLiteral(u"\u00F9\u00F9\r\n"));

    const QByteArray file = ReadAll(LogFile());
    const QRegularExpression line(QStringLiteral(
        R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d\d> 00  \x{B7} Connection refused\r\n$)"));
    EXPECT_TRUE(line.match(QString::fromLatin1(file)).hasMatch()) << file.toStdString();
    EXPECT_EQ(file.size(), 22 + 2 + 6 + 18 + 2);  // stamp, "> ", "00  · ", text, CR LF
}

TEST_F(CommLogWindow, EveryStatusHandlerLogsItsTextAndEmptyTextEndsInABlank) {
    w->x_log->setChecked(true);
    SSL_ConnectionStatus(*w, "CONNECTED", 0, "connected");
    SSL_Disconnected(*w, 0, "closed by peer");
    SSL_Error(*w, 1, "timeout");
    SSL_SSLServerAuthentication(*w, "auth");
    SSL_SSLStatus(*w, "");
    EXPECT_EQ(PaneLines(w->t_CommLog),
              QStringList({CommScreenLine("", "connected"), CommScreenLine("", "closed by peer"),
                           CommScreenLine("", "timeout"), CommScreenLine("", "auth"),
                           QStringLiteral(u"00  \u00F9 ")}));
    const QByteArray file = ReadAll(LogFile());
    EXPECT_EQ(file.count("\r\n"), 5);
    EXPECT_TRUE(file.endsWith("\xB7 \r\n"));
}

TEST_F(CommLogWindow, FortyEntriesLeaveThirtyLinesInEachPane) {
    w->x_log->setChecked(true);
    for (int i = 1; i <= 40; ++i) SSL_SSLStatus(*w, QString("entry %1").arg(i));
    const QStringList comm = PaneLines(w->t_CommLog);
    ASSERT_EQ(comm.size(), 30);
    EXPECT_EQ(comm.first(), CommScreenLine("", "entry 11"));
    EXPECT_EQ(comm.last(), CommScreenLine("", "entry 40"));
    EXPECT_EQ(w->t_DataLog->toPlainText().count(QStringLiteral(u"\u00F9\u00F9")), 30);
    EXPECT_EQ(ReadAll(LogFile()).count("\r\n"), 40);  // the file keeps everything
}

TEST_F(CommLogWindow, PanesKeepTheirVisibility) {
    w->x_log->setChecked(true);
    ASSERT_TRUE(w->t_CommLog->isHidden());
    ASSERT_TRUE(w->t_DataLog->isHidden());
    SSL_Error(*w, 0, "while hidden");
    EXPECT_TRUE(w->t_CommLog->isHidden());
    EXPECT_TRUE(w->t_DataLog->isHidden());
    EXPECT_EQ(PaneLines(w->t_CommLog).size(), 1);

    w->t_CommLog->show();
    w->t_DataLog->show();
    SSL_Error(*w, 0, "while shown");
    EXPECT_FALSE(w->t_CommLog->isHidden());
    EXPECT_FALSE(w->t_DataLog->isHidden());
    EXPECT_EQ(PaneLines(w->t_DataLog).size(), 2);
}

TEST_F(CommLogWindow, UnwritableLogFileStillUpdatesThePanes) {
    {
        QFile blocker(dir.filePath("log"));  // a file where the folder should be
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.write("not a folder");
    }
    w->x_log->setChecked(true);
    for (int i = 0; i < 50; ++i) SSL_Error(*w, 0, QString("e%1").arg(i));
    EXPECT_EQ(PaneLines(w->t_CommLog).size(), 30);
    EXPECT_EQ(PaneLines(w->t_DataLog).size(), 30);
    EXPECT_EQ(ReadAll(dir.filePath("log")), QByteArray("not a folder"));
}

TEST_F(CommLogWindow, FullDiskStillUpdatesThePanes) {
    if (!QFileInfo::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    ASSERT_TRUE(QDir(dir.path()).mkpath("log"));
    ASSERT_TRUE(QFile::link("/dev/full", LogFile()));  // every write fails with "no space"
    w->x_log->setChecked(true);
    for (int i = 0; i < 5; ++i) SSL_Error(*w, 0, QString("e%1").arg(i));
    EXPECT_EQ(PaneLines(w->t_CommLog).size(), 5);
    EXPECT_EQ(PaneLines(w->t_DataLog).size(), 5);
}

}  // namespace
}  // namespace corvane

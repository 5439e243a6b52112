#include <gtest/gtest.h>

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

TEST(RollLogView, KeepsRollingLongAfterCapacity) {
    LogView view;
    for (int i = 1; i <= 1000; ++i) RollLogView(view, QString::number(i), kCrLf);
    EXPECT_EQ(view.Count, 30);
    EXPECT_EQ(view.Lines[1], "971");
    EXPECT_EQ(view.Lines[30], "1000");
    EXPECT_TRUE(view.Lines[0].startsWith("971\r\n972\r\n"));
    EXPECT_TRUE(view.Lines[0].endsWith("999\r\n1000\r\n"));
}

}  // namespace
}  // namespace corvane

#include <gtest/gtest.h>

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>

#include "logs/text_utils.h"

namespace corvane {
namespace {

TEST(DigitsOnly, KeepsDigitsInOrderAndDropsEverythingElse) {
    EXPECT_EQ(DigitsOnly("com12"), "12");
    EXPECT_EQ(DigitsOnly(""), "");
    EXPECT_EQ(DigitsOnly("abc"), "");
    EXPECT_EQ(DigitsOnly("-1.5"), "15");
    EXPECT_EQ(DigitsOnly(QStringLiteral(u"\u0661x9")), "9");  // only the ASCII digits count
}

TEST(Fields, SplitAPortEntryAtTheFirstDelimiter) {
    EXPECT_EQ(FieldBefore("com3:2400,e,7,1", ":"), "com3");
    EXPECT_EQ(FieldAfter("com3:2400,e,7,1", ":"), "2400,e,7,1");
    EXPECT_EQ(FieldBefore("a:b:c", ":"), "a");
    EXPECT_EQ(FieldAfter("a:b:c", ":"), "b:c");
    EXPECT_EQ(FieldAfter("a::b", "::"), "b");
}

TEST(Fields, MissingOrEdgeDelimiters) {
    EXPECT_EQ(FieldBefore("com3", ":"), "com3");
    EXPECT_EQ(FieldAfter("com3", ":"), "");
    EXPECT_EQ(FieldBefore(":x", ":"), "");
    EXPECT_EQ(FieldAfter(":x", ":"), "x");
    EXPECT_EQ(FieldBefore("x:", ":"), "x");
    EXPECT_EQ(FieldAfter("x:", ":"), "");
    EXPECT_EQ(FieldBefore("", ":"), "");
    EXPECT_EQ(FieldAfter("", ":"), "");
    EXPECT_EQ(FieldBefore("COM3", "m"), "COM3");  // case-sensitive
}

TEST(Fields, EmptyDelimiterIsFoundAtTheStart) {
    EXPECT_EQ(FieldBefore("com3:x", ""), "");
    EXPECT_EQ(FieldAfter("com3:x", ""), "com3:x");
}

TEST(TimeStampOf, ExactFormWithTimerHundredths) {
    const QDateTime clock(QDate(2026, 12, 6), QTime(21, 55, 25));
    EXPECT_EQ(TimeStampOf(clock, 78925.45), "12/06/2026 21:55:25.45");
    EXPECT_EQ(TimeStampOf(clock, 78925.0), "12/06/2026 21:55:25.00");
    EXPECT_EQ(TimeStampOf(clock, 78925.004), "12/06/2026 21:55:25.00");
    EXPECT_EQ(TimeStampOf(clock, 78925.984), "12/06/2026 21:55:25.98");
    EXPECT_EQ(TimeStampOf(clock, 78925.987), "12/06/2026 21:55:25.99");
    const QDateTime early(QDate(2026, 1, 2), QTime(3, 4, 5));
    EXPECT_EQ(TimeStampOf(early, 0.07), "01/02/2026 03:04:05.07");
}

TEST(TimeStampOf, FractionRoundingToAWholeSecondStaysTwoDigits) {
    const QDateTime clock(QDate(2026, 12, 6), QTime(23, 59, 59));
    for (double timer : {86399.995, 86399.996, 86399.999, 0.9999999, 5.995}) {
        const QString stamp = TimeStampOf(clock, timer);
        EXPECT_EQ(stamp, "12/06/2026 23:59:59.99") << timer;
    }
}

TEST(TimeStamp, CurrentStampIsAlways22Characters) {
    const QRegularExpression form(QStringLiteral(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d\d$)"));
    for (int i = 0; i < 200; ++i) {
        const QString stamp = TimeStamp();
        ASSERT_EQ(stamp.size(), 22) << stamp.toStdString();
        ASSERT_TRUE(form.match(stamp).hasMatch()) << stamp.toStdString();
    }
}

TEST(ShowMessage, InstalledHandlerReplacesTheBox) {
    QStringList seen;
    SetMessageHandler([&seen](const QString& message) { seen << message; });
    ShowMessage("Can't open com7:2400,e,7,1");
    ShowMessage("");
    SetMessageHandler(nullptr);
    EXPECT_EQ(seen, QStringList({"Can't open com7:2400,e,7,1", ""}));
}

}  // namespace
}  // namespace corvane

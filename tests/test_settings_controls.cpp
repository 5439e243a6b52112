#include <gtest/gtest.h>

#include <QLayout>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "app/settings_controls.h"
#include "app/up_down.h"

namespace corvane {
namespace {

TEST(ReadDecimalNumber, AcceptsDecimalForms) {
    EXPECT_EQ(ReadDecimalNumber("385"), 385.0);
    EXPECT_EQ(ReadDecimalNumber("12.6"), 12.6);
    EXPECT_EQ(ReadDecimalNumber("  -3 "), -3.0);
    EXPECT_EQ(ReadDecimalNumber("+7"), 7.0);
    EXPECT_EQ(ReadDecimalNumber("12."), 12.0);
    EXPECT_EQ(ReadDecimalNumber(".5"), 0.5);
    EXPECT_EQ(ReadDecimalNumber("1e3"), 1000.0);
    EXPECT_EQ(ReadDecimalNumber("2.5E-1"), 0.25);
    // Out-of-range exponents are still numbers; the caller's range test rejects them.
    ASSERT_TRUE(ReadDecimalNumber("1e999").has_value());
    EXPECT_GT(*ReadDecimalNumber("1e999"), 1000.0);
    EXPECT_EQ(ReadDecimalNumber("1e-999"), 0.0);
}

TEST(ReadDecimalNumber, RejectsEverythingElse) {
    for (const char* text : {"", " ", "-", "+", ".", "e5", "1e", "1e+", "12a", "a", "0x10", "1 2",
                             "1,5", "--1", "inf", "nan", "1.2.3"}) {
        EXPECT_FALSE(ReadDecimalNumber(text).has_value()) << text;
    }
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(12.6), 13);
    EXPECT_EQ(RoundHalfEven(12.4), 12);
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(999.5), 1000);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.6), -3);
}

TEST(UpDown, StepsWithinTheRangeAndSignalsOnlyChanges) {
    UpDown ud;
    QSignalSpy spy(&ud, &UpDown::valueChanged);
    ud.setValue(385);
    ud.setValue(385);
    ASSERT_EQ(spy.count(), 1);
    ud.stepUp();
    EXPECT_EQ(ud.value(), 386);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.last().at(0).toInt(), 386);

    ud.setValue(5000);
    EXPECT_EQ(ud.value(), 1000);
    ud.stepUp();
    EXPECT_EQ(ud.value(), 1000);
    ud.setValue(-4);
    EXPECT_EQ(ud.value(), 0);
    const int before = static_cast<int>(spy.count());
    ud.stepDown();
    EXPECT_EQ(ud.value(), 0);
    EXPECT_EQ(spy.count(), before);
}

TEST(UpDown, NarrowerRangeClampsTheValue) {
    UpDown ud;
    ud.setValue(900);
    ud.setRange(10, 500);
    EXPECT_EQ(ud.value(), 500);
    EXPECT_EQ(ud.minimum(), 10);
    EXPECT_EQ(ud.maximum(), 500);
    ud.setValue(0);
    EXPECT_EQ(ud.value(), 10);
}

TEST(UpDown, ArrowButtonsStepByOne) {
    UpDown ud;
    ud.resize(19, 19);
    ud.layout()->activate();
    ud.setValue(385);
    const QList<QToolButton*> arrows = ud.findChildren<QToolButton*>();
    ASSERT_EQ(arrows.size(), 2);
    QToolButton* up = arrows[0]->arrowType() == Qt::UpArrow ? arrows[0] : arrows[1];
    QToolButton* down = up == arrows[0] ? arrows[1] : arrows[0];
    EXPECT_GT(down->geometry().top(), up->geometry().top());
    up->click();
    EXPECT_EQ(ud.value(), 386);
    down->click();
    down->click();
    EXPECT_EQ(ud.value(), 384);
}

}  // namespace
}  // namespace corvane

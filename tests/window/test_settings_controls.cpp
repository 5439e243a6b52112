// The settings controls: the number rules of the chunk delay, the up-down, and the handlers
// on a window, run through its wiring, with the choices they hand to the engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "app/decimal_number.h"
#include "app/settings_controls.h"
#include "app/up_down.h"
#include "app/w_host.h"
#include "tests/window/window_fixture.h"

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
                             "1,5", "--1", "inf", "nan", "1.2.3", "5\n"}) {
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

class SettingsWindow : public testing::WindowTest {
  protected:
    QToolButton* Arrow(Qt::ArrowType type) {
        for (QToolButton* b : w->ud_blockdelay->findChildren<QToolButton*>()) {
            if (b->arrowType() == type) return b;
        }
        return nullptr;
    }
    // A mouse focus: the line edit selects nothing by itself for it, the handler does.
    bool FocusSelectsAll() {
        w->t_blockdelay->deselect();
        QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(w->t_blockdelay, &focusIn);
        return Until([this] { return w->t_blockdelay->selectedText() == w->t_blockdelay->text(); });
    }
    // Typing as the operator does: the box gets the focus (which selects all), then keys.
    void TypeOver(const QString& keys) {
        ASSERT_TRUE(FocusSelectsAll());
        QTest::keyClicks(w->t_blockdelay, keys);
    }
    EngineChoices Choices() {
        return Ask([](Engine& e) { return e.Choices(); });
    }
};

TEST_F(SettingsWindow, SystemEntryFillsHostUrlAndPort) {
    w->cboSystem->addItem("Ludric:localhost:8105:@elsewhere:8005");
    w->cboSystem->setCurrentIndex(w->cboSystem->count() - 1);
    emit w->cboSystem->activated(w->cboSystem->currentIndex());
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->l_host->text(), "Ludric");
    EXPECT_EQ(w->l_url->text(), "localhost");
    EXPECT_EQ(w->l_socket->text(), "8105");
    EXPECT_EQ(Choices().systemEntry, "Ludric:localhost:8105:@elsewhere:8005");

    // A short entry leaves the missing fields empty instead of failing.
    w->cboSystem->addItem("solo");
    w->cboSystem->setCurrentIndex(w->cboSystem->count() - 1);
    cboSystem_Click(*w);
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->l_host->text(), "solo");
    EXPECT_EQ(w->l_url->text(), "");
    EXPECT_EQ(w->l_socket->text(), "");
}

TEST_F(SettingsWindow, ResidentCheckBoxSwapsLoadingControlsAndTellsTheEngine) {
    const QWidget* loading[] = {w->label[3], w->label[11], w->t_blockdelay, w->ud_blockdelay};
    const QPalette platform = QApplication::palette();
    ASSERT_FALSE(w->cboResident->isEnabled());

    w->chkIsResidentLoaded->setChecked(true);
    for (const QWidget* c : loading) EXPECT_TRUE(c->isHidden()) << c->objectName().toStdString();
    EXPECT_TRUE(w->cboResident->isEnabled());
    EXPECT_EQ(w->cboResident->palette().color(QPalette::Base), platform.color(QPalette::Base));
    EXPECT_TRUE(Choices().residentLoaded);

    w->chkIsResidentLoaded->setChecked(false);
    for (const QWidget* c : loading) EXPECT_FALSE(c->isHidden());
    EXPECT_FALSE(w->cboResident->isEnabled());
    EXPECT_EQ(w->cboResident->palette().color(QPalette::Button), platform.color(QPalette::Button));
    EXPECT_FALSE(Choices().residentLoaded);
}

TEST_F(SettingsWindow, ChoosingATerminalKindMarksTheResidentLoaded) {
    ASSERT_TRUE(w->WaitUntilShown());
    const QString host = w->l_host->text();
    w->cboResident->setCurrentIndex(w->cboResident->findText("Viking"));
    emit w->cboResident->activated(w->cboResident->currentIndex());
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->l_terminal->text(), "Viking");
    EXPECT_TRUE(w->chkIsResidentLoaded->isChecked());
    EXPECT_TRUE(w->t_blockdelay->isHidden());
    EXPECT_TRUE(w->cboResident->isEnabled());
    EXPECT_EQ(w->l_host->text(), host);
    EXPECT_EQ(w->ud_blockdelay->value(), 385);
    EXPECT_TRUE(Choices().residentLoaded);

    w->chkIsResidentLoaded->setChecked(false);
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->l_terminal->text(), "Viking");  // the last kind stays shown
    EXPECT_FALSE(Choices().residentLoaded);
}

TEST_F(SettingsWindow, InvalidDelayTextGoesBackToTheLastValue) {
    ASSERT_EQ(w->t_blockdelay->text(), "385");
    TypeOver("200");
    EXPECT_EQ(w->ud_blockdelay->value(), 200);
    QTest::keyClick(w->t_blockdelay, Qt::Key_0);  // 2000 is above the range
    EXPECT_EQ(w->t_blockdelay->text(), "200");
    EXPECT_EQ(w->ud_blockdelay->value(), 200);

    QTest::keyClick(w->t_blockdelay, Qt::Key_X);  // a letter goes at once
    EXPECT_EQ(w->t_blockdelay->text(), "200");
    TypeOver("-");
    EXPECT_EQ(w->t_blockdelay->text(), "200");
    w->t_blockdelay->clear();  // the box cannot be emptied
    EXPECT_EQ(w->t_blockdelay->text(), "200");
    w->t_blockdelay->setText("1000.6");
    EXPECT_EQ(w->t_blockdelay->text(), "200");
    EXPECT_EQ(w->ud_blockdelay->value(), 200);
    EXPECT_EQ(Choices().chunkDelay, 200);  // the loader's value is the up-down's
}

TEST_F(SettingsWindow, FractionRoundsAndTheBoxShowsTheValue) {
    QSignalSpy edits(w->t_blockdelay, &QLineEdit::textChanged);
    TypeOver("12.6");
    EXPECT_EQ(w->ud_blockdelay->value(), 13);
    EXPECT_EQ(w->t_blockdelay->text(), "13");
    EXPECT_LT(edits.count(), 12);  // the nested re-runs end

    w->t_blockdelay->setText(" 2.5e1 ");
    EXPECT_EQ(w->ud_blockdelay->value(), 25);
    EXPECT_EQ(w->t_blockdelay->text(), "25");
    w->t_blockdelay->setText("0.5");  // a half goes to the even neighbour
    EXPECT_EQ(w->ud_blockdelay->value(), 0);
    EXPECT_EQ(w->t_blockdelay->text(), "0");
    EXPECT_EQ(Choices().chunkDelay, 0);
}

TEST_F(SettingsWindow, ArrowsStepTheBoxWithinZeroToThousand) {
    QToolButton* up = Arrow(Qt::UpArrow);
    QToolButton* down = Arrow(Qt::DownArrow);
    ASSERT_TRUE(up && down);
    up->click();
    EXPECT_EQ(w->t_blockdelay->text(), "386");
    EXPECT_EQ(Choices().chunkDelay, 386);
    down->click();
    down->click();
    EXPECT_EQ(w->t_blockdelay->text(), "384");

    w->t_blockdelay->setText("1000");
    up->click();
    EXPECT_EQ(w->ud_blockdelay->value(), 1000);
    EXPECT_EQ(w->t_blockdelay->text(), "1000");
    EXPECT_EQ(Choices().chunkDelay, 1000);
    w->t_blockdelay->setText("0");
    down->click();
    EXPECT_EQ(w->ud_blockdelay->value(), 0);
    EXPECT_EQ(w->t_blockdelay->text(), "0");
}

TEST_F(SettingsWindow, FocusSelectsTheWholeDelay) {
    ASSERT_TRUE(FocusSelectsAll());
    EXPECT_EQ(w->t_blockdelay->selectedText(), "385");
    w->t_blockdelay->deselect();
    t_blockdelay_GotFocus(*w);
    EXPECT_EQ(w->t_blockdelay->selectionStart(), 0);
    EXPECT_EQ(w->t_blockdelay->selectedText(), "385");
}

TEST_F(SettingsWindow, LogToFileAndThePortEntryReachTheEngine) {
    w->x_log->setChecked(true);
    EXPECT_TRUE(Choices().logToFile);
    w->x_log->setChecked(false);
    EXPECT_FALSE(Choices().logToFile);
    w->c_ports->setEditText("com7:9600,n,8,1");
    EXPECT_EQ(Choices().portEntry, "com7:9600,n,8,1");
    w->c_ports->setCurrentIndex(2);
    EXPECT_EQ(Choices().portEntry, "com3:2400,e,7,1");
}

}  // namespace
}  // namespace corvane

// The main window at start-up, the monitor toggle and the close path.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/engine_thread.h"
#include "app/inventory.h"
#include "app/lamp_label.h"
#include "app/up_down.h"
#include "app/w_host.h"
#include "tests/window/window_fixture.h"

using namespace corvane;
using corvane::testing::WindowTest;

using Window = WindowTest;

TEST_F(Window, StartsCollapsedWithEveryControlInItsStartState) {
    EXPECT_EQ(w->windowTitle(), "Corvane");
    EXPECT_EQ(w->width(), 385);   // 5775 twips
    EXPECT_EQ(w->height(), 333);  // 4995 twips
    EXPECT_EQ(w->c_ports->currentText(), "com1:2400,e,7,1");
    ASSERT_EQ(w->c_ports->count(), 20);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(w->c_ports->itemText(i), QString("com%1:2400,e,7,1").arg(i + 1));
    EXPECT_TRUE(w->c_ports->isEditable());
    EXPECT_EQ(w->t_blockdelay->text(), "385");
    EXPECT_EQ(w->ud_blockdelay->value(), 385);
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_FALSE(w->b_stop->isEnabled());
    EXPECT_TRUE(Red(w->status_RS232));
    EXPECT_TRUE(Red(w->status_SSL));
    EXPECT_FALSE(w->cboResident->isEnabled());
    EXPECT_EQ(w->cboResident->currentIndex(), -1);
    EXPECT_EQ(w->cboSystem->currentIndex(), -1);
    EXPECT_EQ(w->cboSystem->count(), 4);
    EXPECT_FALSE(w->chkIsResidentLoaded->isChecked());
    EXPECT_FALSE(w->x_log->isChecked());
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_FALSE(w->label[3]->isEnabled());
    EXPECT_EQ(w->b_ShowMonitor->text(), "Show monitor >>");
    for (QWidget* m : {static_cast<QWidget*>(w->t_CommLog), static_cast<QWidget*>(w->t_DataLog),
                       static_cast<QWidget*>(w->label[7]), static_cast<QWidget*>(w->t_skip),
                       static_cast<QWidget*>(w->t_bytes), static_cast<QWidget*>(w->status),
                       static_cast<QWidget*>(w->l_ports)})
        EXPECT_TRUE(m->isHidden()) << m->objectName().toStdString();
    EXPECT_EQ(w->l_ports->text(), "12");
    EXPECT_EQ(w->t_skip->text(), "0");
    EXPECT_EQ(w->t_host->text(), "0D");
    EXPECT_EQ(w->t_term->text(), "0D");
    EXPECT_TRUE(w->l_milestone->text().isEmpty());
    EXPECT_TRUE(w->l_loginMode->text().isEmpty());
    // No maximise, no resize.
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());

    // The engine starts where the controls do: its view is the one shown, its choices are
    // the controls' values, and its pump timer runs from the load on.
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(Ask([](Engine& e) { return e.View(); }), w->Shown());
    const EngineChoices choices = Ask([](Engine& e) { return e.Choices(); });
    EXPECT_EQ(choices.portEntry, "com1:2400,e,7,1");
    EXPECT_EQ(choices.chunkDelay, 385);
    EXPECT_FALSE(choices.residentLoaded);
    EXPECT_FALSE(choices.logToFile);
    EXPECT_EQ(Ask([](Engine& e) { return e.ProgramDir(); }), Dir());
    EXPECT_EQ(Ask([](Engine& e) { return e.CrLf; }), "\r\n");
}

TEST_F(Window, EveryControlIsFoundByItsName) {
    for (const char* name :
         {"frame(0)",     "frame(1)",     "frame(2)",      "c_ports",       "pic",
          "b_start",      "b_stop",       "lblSystem",     "cboSystem",     "l_terminal",
          "l_host",       "l_socket",     "l_url",         "l_loginMode",   "l_milestone",
          "status_RS232", "status_SSL",   "mile_RS232",    "Mile_SSL",      "chkIsResidentLoaded",
          "cboResident",  "t_blockdelay", "ud_blockdelay", "x_log",         "b_host",
          "t_host",       "b_term",       "t_term",        "b_ShowMonitor", "t_CommLog",
          "t_DataLog",    "t_skip",       "t_bytes",       "status",        "l_ports"}) {
        EXPECT_NE(w->findChild<QObject*>(name), nullptr) << name;
    }
    for (int i = 0; i < 12; ++i)
        EXPECT_NE(w->findChild<QLabel*>(QString("label(%1)").arg(i)), nullptr) << i;
    EXPECT_EQ(w->frame[0]->title(), "Communications Port Setting ");
    EXPECT_EQ(w->frame[2]->title(), "IST Resident Loading Status ");
    EXPECT_EQ(w->label[11]->text(), "Chunk delay:");

    // The window is made from the inventory, which the Windows window shares: each control
    // sits in its container at its design geometry, in its font and starting state.
    for (const inventory::Control& c : inventory::Controls()) {
        const QString name = QString::fromLatin1(c.name.data(), qsizetype(c.name.size()));
        const QWidget* control = w->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << c.name;
        const QString inside = QString::fromLatin1(c.inside.data(), qsizetype(c.inside.size()));
        EXPECT_EQ(control->parentWidget()->objectName(), inside.isEmpty() ? "w_host" : inside)
            << c.name;
        EXPECT_EQ(control->geometry(),
                  QRect(Twips(c.left), Twips(c.top), Twips(c.width), Twips(c.height)))
            << c.name;
        EXPECT_EQ(control->isEnabled(), c.enabled) << c.name;
        EXPECT_EQ(control->isHidden(), !c.visible) << c.name;
        if (c.kind != inventory::Kind::Panel) {
            EXPECT_EQ(control->font().bold(), c.font != inventory::Font::Plain) << c.name;
            EXPECT_EQ(control->font().fixedPitch(), c.font == inventory::Font::SmallFixed)
                << c.name;
        }
    }
}

TEST_F(Window, MonitorToggleWidensAndRestoresExactly) {
    const int collapsed = w->width();
    w->b_ShowMonitor->click();
    EXPECT_EQ(w->width(), 940);  // 14100 twips
    EXPECT_EQ(w->b_ShowMonitor->text(), "<< Hide monitor");
    EXPECT_FALSE(w->t_DataLog->isHidden());
    EXPECT_FALSE(w->l_ports->isHidden());
    w->b_ShowMonitor->click();
    EXPECT_EQ(w->width(), collapsed);
    EXPECT_EQ(w->b_ShowMonitor->text(), "Show monitor >>");
    EXPECT_TRUE(w->t_CommLog->isHidden());
}

TEST_F(Window, OperatorCloseWithNothingOpenStopsQuietly) {
    w->CloseByOperator();
    EXPECT_TRUE(w->IsClosing());
    EXPECT_TRUE(w->isHidden());
    ASSERT_TRUE(Until([this] { return w->IsUnloaded(); }));
    EXPECT_TRUE(Ask([](Engine& e) { return e.bUnloaded; }));
    EXPECT_FALSE(Ask([](Engine& e) { return e.sTimerActive; }));
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_FALSE(w->label[3]->isEnabled());
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_TRUE(w->t_blockdelay->isEnabled());
}

TEST(Program, StartsAndEndsWithStatusZeroWhenClosed) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    corvane::testing::RunWindowProgram(path + "/config", {"--program-dir", path}, 1000);
}

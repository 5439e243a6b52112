// The window's choices kept between runs, in a temporary config folder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include "app/engine_thread.h"
#include "app/remembered_settings.h"
#include "app/settings_controls.h"
#include "app/up_down.h"
#include "app/w_host.h"
#include "tests/window/window_fixture.h"

using namespace corvane;

TEST(RememberedSettings, SavedChoicesComeBackThroughTheControlsAndTheirHandlers) {
    QTemporaryDir dir;
    const QString file = dir.filePath("Corvane.conf");
    {
        WHost w(dir.path());
        w.c_ports->setEditText("/dev/serial/by-id/usb-Maker_Cable-port0:2400,e,7,1");
        w.cboSystem->setCurrentIndex(3);
        cboSystem_Click(w);
        w.cboResident->setCurrentIndex(3);
        cboResident_Click(w);  // ticks the box
        w.chkIsResidentLoaded->setChecked(false);
        w.t_blockdelay->setText("120");
        w.x_log->setChecked(true);
        w.b_ShowMonitor->click();
        QSettings s(file, QSettings::IniFormat);
        SaveOperatorSettings(w, s);
    }
    WHost w(dir.path());
    EXPECT_EQ(w.c_ports->currentText(), "com1:2400,e,7,1");  // a new window reads nothing
    QSettings s(file, QSettings::IniFormat);
    EXPECT_TRUE(RestoreOperatorSettings(w, s).isEmpty());
    ASSERT_TRUE(w.WaitUntilShown());
    EXPECT_EQ(w.c_ports->currentText(), "/dev/serial/by-id/usb-Maker_Cable-port0:2400,e,7,1");
    EXPECT_EQ(w.cboSystem->currentIndex(), 3);
    EXPECT_EQ(w.l_host->text(), "Ludric");
    EXPECT_EQ(w.l_url->text(), "localhost");
    EXPECT_EQ(w.l_socket->text(), "8105");
    EXPECT_EQ(w.l_terminal->text(), "Viking");
    EXPECT_FALSE(w.chkIsResidentLoaded->isChecked());
    EXPECT_FALSE(w.cboResident->isEnabled());  // the box's handler ran
    EXPECT_FALSE(w.t_blockdelay->isHidden());
    EXPECT_EQ(w.ud_blockdelay->value(), 120);
    EXPECT_EQ(w.t_blockdelay->text(), "120");
    EXPECT_TRUE(w.x_log->isChecked());
    EXPECT_FALSE(w.t_DataLog->isHidden());
    EXPECT_EQ(w.width(), 940);
    // The handlers handed every choice to the engine.
    const EngineChoices choices = w.Channel().Ask([](Engine& e) { return e.Choices(); });
    EXPECT_EQ(choices.portEntry, "/dev/serial/by-id/usb-Maker_Cable-port0:2400,e,7,1");
    EXPECT_EQ(choices.systemEntry, w.cboSystem->itemText(3).toStdString());
    EXPECT_FALSE(choices.residentLoaded);
    EXPECT_EQ(choices.chunkDelay, 120);
    EXPECT_TRUE(choices.logToFile);

    // A numbered entry of the list is selected as such.
    w.c_ports->setCurrentIndex(11);
    SaveOperatorSettings(w, s);
    WHost again(dir.path());
    RestoreOperatorSettings(again, s);
    EXPECT_EQ(again.c_ports->currentIndex(), 11);
}

TEST(RememberedSettings, UnusableValuesLeaveTheStartStateAndSaySoInTheLog) {
    QTemporaryDir dir;
    QSettings s(dir.filePath("Corvane.conf"), QSettings::IniFormat);
    s.setValue("logToFile", true);
    s.setValue("system", "cyber1:old.example:8005");  // a preset that changed
    s.setValue("residentKind", "VT100");
    s.setValue("residentLoaded", "maybe");
    s.setValue("chunkDelay", "5000");
    s.setValue("port", "  ");
    s.setValue("monitorShown", "no");
    WHost w(dir.path());
    const QStringList complaints = RestoreOperatorSettings(w, s);
    ASSERT_EQ(complaints.size(), 6) << complaints.join('\n').toStdString();
    EXPECT_TRUE(complaints.at(0).contains("cyber1:old.example:8005"));
    EXPECT_EQ(w.cboSystem->currentIndex(), -1);
    EXPECT_EQ(w.cboResident->currentIndex(), -1);
    EXPECT_FALSE(w.chkIsResidentLoaded->isChecked());
    EXPECT_EQ(w.ud_blockdelay->value(), 385);
    EXPECT_EQ(w.c_ports->currentText(), "com1:2400,e,7,1");
    EXPECT_TRUE(w.t_DataLog->isHidden());
    ASSERT_TRUE(w.WaitUntilShown());
    EXPECT_TRUE(w.l_host->text().isEmpty());

    // "Log to File" came back first, so the lines are in the log file as well as the pane.
    QFile log(dir.filePath("log/000.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    for (const QString& c : complaints) EXPECT_TRUE(text.contains(c.toLatin1())) << qPrintable(c);
    EXPECT_TRUE(w.t_CommLog->toPlainText().contains("not 0 to 1000 ms, 385 kept"));
    EXPECT_EQ(w.t_DataLog->toPlainText().count(QStringLiteral("\u00f9\u00f9")), 6);

    for (const char* delay : {"-1", "abc", "12.5", ""}) {
        QSettings t(dir.filePath("other.conf"), QSettings::IniFormat);
        t.setValue("chunkDelay", delay);
        WHost v(dir.path());
        EXPECT_EQ(RestoreOperatorSettings(v, t).size(), 1) << delay;
        EXPECT_EQ(v.ud_blockdelay->value(), 385) << delay;
    }
}

TEST(Program, RemembersTheWindowsChoicesAcrossRunsAndFreshStartsFromTheStartState) {
    QTemporaryDir dir;
    const QString file = dir.filePath("config/Corvane/Corvane.conf");
    {
        QSettings s(file, QSettings::IniFormat);
        s.setValue("port", "com5:2400,e,7,1");
        s.setValue("system", "Ludric:localhost:8105:@cyberserv.org:8005");
        s.setValue("chunkDelay", 5000);
    }
    const std::string config = dir.filePath("config").toStdString();
    const std::string programDir = dir.path().toStdString();
    const std::string err =
        corvane::testing::RunWindowProgram(config, {"--program-dir", programDir}, 1500);
    EXPECT_NE(err.find("Remembered chunk delay \"5000\" is not usable"), std::string::npos) << err;
    {
        QSettings s(file, QSettings::IniFormat);
        EXPECT_EQ(s.value("port").toString(), "com5:2400,e,7,1");
        EXPECT_EQ(s.value("system").toString(), "Ludric:localhost:8105:@cyberserv.org:8005");
        EXPECT_EQ(s.value("chunkDelay").toInt(), 385);
        EXPECT_EQ(s.value("monitorShown").toString(), "false");
    }
    EXPECT_EQ(
        corvane::testing::RunWindowProgram(config, {"--program-dir", programDir, "--fresh"}, 1500)
            .find("Remembered"),
        std::string::npos);
    QSettings s(file, QSettings::IniFormat);
    EXPECT_EQ(s.value("port").toString(), "com1:2400,e,7,1");
    EXPECT_EQ(s.value("system").toString(), "");
}

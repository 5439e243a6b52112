// The one main window: every control of the inventory, as a view of the engine. It shows the
// engine's values in its controls and turns each operator action into the engine's call; the
// bridge itself lives in the engine, on its own thread.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>

#include "links/engine.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;

namespace corvane {

class EngineThread;
class UpDown;
class LampLabel;

// Design geometry is in twips; the screen has 15 twips to a pixel.
constexpr int Twips(int twips) { return twips / 15; }

class WHost : public QWidget {
    Q_OBJECT

  public:
    // programDir is the folder of load files, ports/ and log/; empty means the executable's.
    // Makes the engine, on a thread of its own.
    explicit WHost(const QString& programDir = QString(), QWidget* parent = nullptr);
    ~WHost() override;

    // ---- controls, by their names in the inventory ----
    std::array<QGroupBox*, 3> frame{};
    std::array<QLabel*, 12> label{};
    QComboBox* c_ports = nullptr;
    QWidget* pic = nullptr;
    QPushButton* b_start = nullptr;
    QPushButton* b_stop = nullptr;
    QLabel* lblSystem = nullptr;
    QComboBox* cboSystem = nullptr;
    QLabel* l_terminal = nullptr;
    QLabel* l_host = nullptr;
    QLabel* l_socket = nullptr;
    QLabel* l_url = nullptr;
    QLabel* l_loginMode = nullptr;
    QLabel* l_milestone = nullptr;
    LampLabel* status_RS232 = nullptr;
    LampLabel* status_SSL = nullptr;
    QLabel* mile_RS232 = nullptr;
    QLabel* Mile_SSL = nullptr;
    QCheckBox* chkIsResidentLoaded = nullptr;
    QComboBox* cboResident = nullptr;
    QLineEdit* t_blockdelay = nullptr;
    UpDown* ud_blockdelay = nullptr;
    QCheckBox* x_log = nullptr;
    QPushButton* b_host = nullptr;
    QLineEdit* t_host = nullptr;
    QPushButton* b_term = nullptr;
    QLineEdit* t_term = nullptr;
    QPushButton* b_ShowMonitor = nullptr;
    QPlainTextEdit* t_CommLog = nullptr;
    QPlainTextEdit* t_DataLog = nullptr;
    QLineEdit* t_skip = nullptr;
    QLineEdit* t_bytes = nullptr;
    QLabel* status = nullptr;
    QLabel* l_ports = nullptr;

    // The program's folder (load files, ports/, log/), without a trailing separator unless it
    // is the root.
    QString ProgramDir() const { return programDir_; }

    // The channel to the engine: every call into it goes through here.
    EngineThread& Channel() { return *channel_; }
    // Handles events until the controls show the engine's view as it is now (after every
    // call posted before); false when that took longer than timeoutMs.
    bool WaitUntilShown(int timeoutMs = 5000);
    // The view the controls show.
    const EngineView& Shown() const { return shown_; }
    // The message box the engine's message put up, while it is up.
    QMessageBox* MessageShown() const { return box_; }

    // The operator's own close command (title bar, system menu, keyboard): runs the stop first.
    void CloseByOperator();
    // Start-up state, run once by the constructor.
    void Form_Load();

    // The window was closed: the engine's close is under way or done.
    bool IsClosing() const { return closing_; }
    // The engine has unloaded after the close.
    bool IsUnloaded() const { return unloaded_; }
    // Whether the engine's unload ends the program (the program's own window) or not (tests).
    bool EndsProgramOnUnload = false;

  protected:
    void closeEvent(class QCloseEvent* event) override;

  private:
    void BuildControls();
    void WireEvents();
    void ShowView(const EngineView& view);
    void OnMessage(const QString& text);
    void OnUnloaded();

    // The operator's actions on the bridge, as the engine's calls.
    void b_start_Click();
    void b_stop_Click();
    void status_RS232_DblClick();
    void status_SSL_DblClick();

    QString programDir_;
    std::unique_ptr<EngineThread> channel_;
    EngineView shown_;
    QPointer<QMessageBox> box_;
    bool nextCloseByOperator_ = false;
    bool closing_ = false;
    bool unloaded_ = false;
};

}  // namespace corvane

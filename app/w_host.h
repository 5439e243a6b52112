// The one main window: every control of the bridge, both link components, the pump's timer
// and the state the routines share. The window only builds controls and wires their events;
// the behaviour lives in the routines of app/, links/, relay/, resident/ and logs/.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;
class QTimer;

namespace corvane {

class HostSocket;
class SerialPort;
class UpDown;
class LampLabel;

// One rolling log pane: the last `Capacity` lines, joined into Lines[0] for the pane.
struct LogView {
    int Count = 0;
    int Capacity = 30;
    int Shown = 0;
    QStringList Lines = QStringList(41);
};

// Design geometry is in twips; the screen has 15 twips to a pixel.
constexpr int Twips(int twips) { return twips / 15; }

class WHost : public QWidget {
    Q_OBJECT

  public:
    // programDir is the folder of load files, ports/ and log/; empty means the executable's.
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
    QTimer* sTimer = nullptr;
    // Wakes the pump once the serial line has room again, while only a full line holds it up.
    QTimer* LineRoomWake = nullptr;
    SerialPort* Comm = nullptr;
    HostSocket* SSL = nullptr;

    // ---- state shared by the routines (one copy per window, so a test's window is fresh) ----
    QByteArray sToHost;      // text waiting for the host
    QByteArray sToTerminal;  // text waiting for the terminal
    bool bFlushToTerminal = false;
    bool bLoadingResident = false;
    std::optional<qint64> sLastTermIn;  // whole seconds, when the pump last read terminal input
    int nLoadFileRequest = 0;           // -1 while a request is awaited
    bool bIacPending = false;           // an unpaired 0xFF at the end of the last host event
    qint64 nHostDropped = 0;            // terminal input dropped while the host did not read
    QByteArray CrLf;
    std::array<LogView, 2> LogViews{};

    // Guards and flags that the nested waits need.
    bool bOpeningHost = false;  // an OpenHost is waiting; a second one does nothing
    bool bUnloaded = false;     // the window was closed: every nested wait ends at once
    // Whether activity restarts a sleeping pump; tests that tick it by hand turn it off.
    bool PumpWakes = true;

    // The program's folder (load files, ports/, log/), always without a trailing separator
    // unless it is the root.
    QString ProgramDir() const { return programDir_; }

    // Called with the file line of every communication-log entry, whether or not "Log to
    // File" is checked: an unattended run prints them as they happen. Empty in the window.
    std::function<void(const QString& line)> CommLogSink;

    // Whole seconds of local time; replaceable so tests need not sleep through quiet seconds.
    std::function<qint64()> NowSeconds;
    // Pause of the loader (chunk delay, settle time); replaceable so tests can measure pauses.
    std::function<void(int ms)> Sleep;

    // The operator's own close command (title bar, system menu, keyboard): runs the stop first.
    void CloseByOperator();

    // Start-up state, run once by the constructor.
    void Form_Load();
    void Form_QueryUnload(int& cancel, int unloadMode);
    void Form_Unload(int& cancel);

    // Whether closing this window ends the program (the program's own window) or not (tests).
    bool EndsProgramOnUnload = false;

  protected:
    void closeEvent(class QCloseEvent* event) override;

  private:
    void BuildControls();
    void WireEvents();

    QString programDir_;
    bool nextCloseByOperator_ = false;
};

}  // namespace corvane

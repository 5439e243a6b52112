#include "app/w_host.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <string>

#include "app/engine_thread.h"
#include "app/inventory.h"
#include "app/lamp_label.h"
#include "app/message_box.h"
#include "app/monitor_panel.h"
#include "app/program_dir.h"
#include "app/settings_controls.h"
#include "app/up_down.h"

namespace corvane {

namespace {

QString FolderOf(const QString& dir) {
    QString d = dir.isEmpty() ? QString::fromStdString(ExecutableDir()) : dir;
    d = QDir::cleanPath(d);  // no trailing separator except for the root
    return d;
}

// Runs the GotFocus handler of the chunk-delay box.
class FocusFilter : public QObject {
  public:
    FocusFilter(WHost& w, QObject* parent) : QObject(parent), w_(w) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            // Qt selects on tab focus by itself and clears on mouse focus afterwards: select
            // once the focus change is complete.
            QTimer::singleShot(0, watched, [this] { t_blockdelay_GotFocus(w_); });
        }
        return false;
    }

  private:
    WHost& w_;
};

// A pane's new text in one assignment, hidden meanwhile so it is not redrawn line by line;
// it keeps the visibility the monitor toggle gave it.
void RedrawPane(QPlainTextEdit* pane, const std::string& text) {
    const bool shown = !pane->isHidden();
    pane->setVisible(false);
    pane->setPlainText(FromEngineText(text));
    if (shown) pane->setVisible(true);
}

}  // namespace

WHost::WHost(const QString& programDir, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      programDir_(FolderOf(programDir)) {
    BuildControls();
    channel_ = std::make_unique<EngineThread>(ToEngineText(programDir_));
    WireEvents();
    Form_Load();
}

WHost::~WHost() {
    // The box answers no engine once the engine goes; the engine goes before the controls.
    delete box_;
    channel_.reset();
}

void WHost::WireEvents() {
    WHost& w = *this;
    EngineThread* engine = channel_.get();
    connect(engine, &EngineThread::ViewChanged, this,
            [this](const EngineView& view) { ShowView(view); });
    connect(engine, &EngineThread::Message, this, [this](const QString& text) { OnMessage(text); });
    connect(engine, &EngineThread::Unloaded, this, [this] { OnUnloaded(); });

    connect(b_start, &QPushButton::clicked, this, [this] { b_start_Click(); });
    connect(b_stop, &QPushButton::clicked, this, [this] { b_stop_Click(); });
    connect(status_RS232, &LampLabel::doubleClicked, this, [this] { status_RS232_DblClick(); });
    connect(status_SSL, &LampLabel::doubleClicked, this, [this] { status_SSL_DblClick(); });
    // The engine holds the entry as the box does, whether picked or typed.
    connect(c_ports, &QComboBox::currentTextChanged, this, [engine](const QString& text) {
        engine->Post([entry = ToEngineText(text)](Engine& e) { e.ChoosePortEntry(entry); });
    });
    connect(cboSystem, &QComboBox::activated, this, [&w] { cboSystem_Click(w); });
    connect(cboResident, &QComboBox::activated, this, [&w] { cboResident_Click(w); });
    connect(chkIsResidentLoaded, &QCheckBox::stateChanged, this,
            [&w] { chkIsResidentLoaded_Click(w); });
    connect(t_blockdelay, &QLineEdit::textChanged, this, [&w] { t_blockdelay_Change(w); });
    t_blockdelay->installEventFilter(new FocusFilter(w, this));
    connect(ud_blockdelay, &UpDown::valueChanged, this, [&w] { ud_blockdelay_Change(w); });
    connect(x_log, &QCheckBox::toggled, this, [&w] { x_log_Click(w); });
    connect(b_host, &QPushButton::clicked, this, [&w] { b_host_Click(w); });
    connect(b_term, &QPushButton::clicked, this, [&w] { b_term_Click(w); });
    connect(b_ShowMonitor, &QPushButton::clicked, this, [&w] { b_ShowMonitor_Click(w); });
}

void WHost::Form_Load() {
    // No maximise and no size command: the window flags leave out the maximise button and
    // the fixed size leaves nothing to drag. Collapse to the left column.
    setFixedWidth(Twips(inventory::CollapsedWidth()));
    ud_blockdelay->setValue(385);
    for (const std::string& entry : inventory::Items("c_ports"))
        c_ports->addItem(FromEngineText(entry));
    {
        QSignalBlocker quiet(c_ports);  // selecting the first entry triggers nothing else
        c_ports->setCurrentIndex(0);
    }
    b_stop->setEnabled(false);
}

void WHost::b_start_Click() {
    // The start opens the port of the entry the box holds now.
    channel_->Post([entry = ToEngineText(c_ports->currentText())](Engine& e) {
        e.ChoosePortEntry(entry);
        e.Start();
    });
}

void WHost::b_stop_Click() {
    channel_->Post([](Engine& e) { e.Stop(); });
}

void WHost::status_RS232_DblClick() {
    channel_->Post([entry = ToEngineText(c_ports->currentText())](Engine& e) {
        e.ChoosePortEntry(entry);
        e.LampDoubleClick(false);
    });
}

void WHost::status_SSL_DblClick() {
    channel_->Post([](Engine& e) { e.LampDoubleClick(true); });
}

void WHost::ShowView(const EngineView& view) {
    l_milestone->setText(FromEngineText(view.milestone));
    l_loginMode->setText(FromEngineText(view.loginMode));
    if (BackColor(status_RS232) != view.lampRS232) SetBackColor(status_RS232, view.lampRS232);
    if (BackColor(status_SSL) != view.lampSSL) SetBackColor(status_SSL, view.lampSSL);
    label[3]->setText(FromEngineText(view.statusLine));
    label[3]->setEnabled(view.statusLineEnabled);
    ud_blockdelay->setEnabled(view.chunkDelayEnabled);
    label[11]->setEnabled(view.chunkDelayEnabled);
    t_blockdelay->setEnabled(view.chunkDelayEnabled);
    c_ports->setEnabled(view.portEntryEnabled);
    b_start->setEnabled(view.startEnabled);
    b_stop->setEnabled(view.stopEnabled);
    l_host->setText(FromEngineText(view.hostName));
    l_url->setText(FromEngineText(view.hostUrl));
    l_socket->setText(FromEngineText(view.hostSocket));
    l_terminal->setText(FromEngineText(view.terminalKind));
    if (view.commPane != shown_.commPane) RedrawPane(t_CommLog, view.commPane);
    if (view.dataPane != shown_.dataPane) RedrawPane(t_DataLog, view.dataPane);
    shown_ = view;
}

void WHost::OnMessage(const QString& text) {
    EngineThread* engine = channel_.get();
    auto answered = [engine] { engine->Post([](Engine& e) { e.MessageAnswered(); }); };
    // A closed window shows nothing more; the routine that asked goes on at once.
    if (closing_) {
        answered();
        return;
    }
    box_ = ShowMessage(text, this, [this, answered] {
        box_.clear();
        answered();
    });
}

void WHost::OnUnloaded() {
    unloaded_ = true;
    if (EndsProgramOnUnload) QCoreApplication::exit(0);
}

bool WHost::WaitUntilShown(int timeoutMs) {
    struct Wait {
        bool done = false;
        QEventLoop* loop = nullptr;
    };
    auto wait = std::make_shared<Wait>();
    QEventLoop loop;
    wait->loop = &loop;
    channel_->Then([](Engine& e) { e.Publish(); },
                   [wait] {
                       wait->done = true;
                       if (wait->loop) wait->loop->quit();
                   });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    wait->loop = nullptr;
    return wait->done;
}

void WHost::CloseByOperator() {
    nextCloseByOperator_ = true;
    close();
    nextCloseByOperator_ = false;
}

void WHost::closeEvent(QCloseEvent* event) {
    // The engine runs the close (the stop first when the operator closes) and says when it has
    // unloaded; the window hides meanwhile. A second close finds it closing.
    if (!closing_) {
        closing_ = true;
        const bool byOperator = nextCloseByOperator_ || event->spontaneous();
        channel_->Post([byOperator](Engine& e) { e.Close(byOperator); });
    }
    event->accept();
}

}  // namespace corvane

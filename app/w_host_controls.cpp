// The window's controls: names, captions, geometry, fonts, colours and start states.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>
#include <utility>

#include "app/engine_thread.h"
#include "app/lamp_label.h"
#include "app/ports_box.h"
#include "app/up_down.h"
#include "app/w_host.h"
#include "links/host_connection.h"

namespace corvane {

namespace {

const QColor kPaleYellow(255, 255, 192);
const QColor kYellow(255, 255, 0);

void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
}

// A pale yellow, bordered, centred display label.
QLabel* DisplayLabel(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setFrameStyle(QFrame::Box | QFrame::Plain);
    l->setAlignment(Qt::AlignCenter);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, kPaleYellow);
    l->setPalette(p);
    return l;
}

QFont SmallFixedFont() {
    QFont f(QStringLiteral("Monospace"), 6);
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setBold(true);
    return f;
}

}  // namespace

void WHost::BuildControls() {
    setObjectName(QStringLiteral("w_host"));
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("network-wired")));
    setFont(QFont(QStringLiteral("Arial"), 9));
    // The layout is fixed: client area as designed, 14130 x 4995 twips; Form_Load collapses it.
    setFixedSize(Twips(14130), Twips(4995));

    QFont frameFont(QStringLiteral("Arial"), 9);
    frameFont.setBold(true);
    const QString frameTitles[3] = {QStringLiteral("Communications Port Setting "),
                                    QStringLiteral("PLATO Network Connection"),
                                    QStringLiteral("IST Resident Loading Status ")};
    for (int i = 0; i < 3; ++i) {
        frame[i] = new QGroupBox(frameTitles[i], this);
        frame[i]->setObjectName(QStringLiteral("frame(%1)").arg(i));
        frame[i]->setFont(frameFont);
    }
    Place(frame[0], 60, 60, 5655, 705);
    Place(frame[1], 60, 765, 5655, 2040);
    Place(frame[2], 60, 2805, 5655, 1005);
    QFont plain(QStringLiteral("Arial"), 9);
    plain.setBold(false);  // set, not inherited: the frames around these controls are bold

    // Frame 0: the port entry and the start and stop buttons.
    c_ports = new PortsBox(frame[0]);  // also offers the serial devices present
    c_ports->setEditable(true);
    c_ports->setInsertPolicy(QComboBox::NoInsert);
    c_ports->setFont(plain);
    Place(c_ports, 120, 255, 3315, 315);
    pic = new QWidget(frame[0]);
    Place(pic, 3450, 255, 765, 315);
    b_start = new QPushButton(QStringLiteral("\u25B6"), pic);
    Place(b_start, 0, 0, 375, 315);
    b_start->setToolTip(QStringLiteral("Start"));
    b_stop = new QPushButton(QStringLiteral("\u25A0"), pic);
    Place(b_stop, 390, 0, 375, 315);
    b_stop->setToolTip(QStringLiteral("Stop"));

    // Frame 1: host system and link status.
    lblSystem = new QLabel(QStringLiteral("System:"), frame[1]);
    Place(lblSystem, 135, 345, 660, 225);
    cboSystem = new QComboBox(frame[1]);
    cboSystem->setEditable(false);
    for (const auto& entry : SystemPresets()) cboSystem->addItem(FromEngineText(entry));
    cboSystem->setCurrentIndex(-1);
    Place(cboSystem, 1200, 285, 4350, 345);

    struct Caption {
        int index;
        const char* text;
        QWidget* parent;
        int l, t, w, h;
    };
    const Caption captions[] = {
        {1, "Terminal:", frame[1], 120, 720, 780, 225},
        {0, "Host:", frame[1], 120, 1035, 435, 225},
        {2, "Port:", frame[1], 120, 1350, 375, 225},
        {4, "URL:", frame[1], 120, 1665, 420, 225},
        {5, "Login mode:", frame[1], 3495, 720, 1035, 225},
        {8, "COM", frame[1], 3570, 1065, 405, 225},
        {9, "SSL", frame[1], 4125, 1065, 345, 225},
        {10, "MILE", frame[1], 4860, 1065, 405, 225},
        {6, "Milestone:", frame[1], 3495, 1665, 840, 225},
        {11, "Chunk delay:", frame[2], 3615, 615, 1065, 225},
        // The loader's status line takes the free width up to "Chunk delay:" so that its
        // longest text ("LOADING FILE nn BLOCK bb BYTE hhhh") can be read in a fixed font.
        {3, "HOST NOT CONNECTED", frame[2], 120, 675, 3435, 180},
        {7, "Skip:", this, 5805, 4635, 405, 225},
    };
    for (const Caption& c : captions) {
        label[c.index] = new QLabel(QString::fromLatin1(c.text), c.parent);
        label[c.index]->setObjectName(QStringLiteral("label(%1)").arg(c.index));
        label[c.index]->setFont(plain);
        Place(label[c.index], c.l, c.t, c.w, c.h);
    }
    label[3]->setFont(SmallFixedFont());
    label[3]->setEnabled(false);

    l_terminal = DisplayLabel(frame[1]);
    Place(l_terminal, 1200, 690, 2220, 285);
    l_host = DisplayLabel(frame[1]);
    Place(l_host, 1200, 1005, 2220, 285);
    l_socket = DisplayLabel(frame[1]);
    Place(l_socket, 1200, 1320, 2220, 285);
    l_url = DisplayLabel(frame[1]);
    Place(l_url, 1200, 1635, 2220, 285);
    l_loginMode = DisplayLabel(frame[1]);
    Place(l_loginMode, 4590, 690, 960, 285);
    l_milestone = DisplayLabel(frame[1]);
    Place(l_milestone, 4590, 1635, 960, 285);

    status_RS232 = new LampLabel(frame[1]);
    status_RS232->setFrameStyle(QFrame::Box | QFrame::Plain);
    SetBackColor(status_RS232, LampDown);
    Place(status_RS232, 3660, 1290, 255, 255);
    status_SSL = new LampLabel(frame[1]);
    status_SSL->setFrameStyle(QFrame::Box | QFrame::Plain);
    SetBackColor(status_SSL, LampDown);
    Place(status_SSL, 4170, 1290, 255, 255);

    mile_RS232 = new QLabel(QStringLiteral("\u2022"), frame[1]);
    Mile_SSL = new QLabel(QStringLiteral("\u2022"), frame[1]);
    for (QLabel* m : {mile_RS232, Mile_SSL}) {
        m->setFrameStyle(QFrame::Box | QFrame::Plain);
        m->setAlignment(Qt::AlignCenter);
        m->setAutoFillBackground(true);
        QPalette p = m->palette();
        p.setColor(QPalette::Window, kYellow);
        m->setPalette(p);
    }
    Place(mile_RS232, 4770, 1290, 255, 255);
    Place(Mile_SSL, 5115, 1290, 255, 255);

    // Frame 2: resident loading.
    chkIsResidentLoaded = new QCheckBox(QStringLiteral("Resident is loaded"), frame[2]);
    chkIsResidentLoaded->setFont(plain);
    Place(chkIsResidentLoaded, 120, 300, 1890, 225);
    cboResident = new QComboBox(frame[2]);
    cboResident->setEditable(false);
    cboResident->setFont(plain);
    cboResident->addItems({QStringLiteral("IST-I"), QStringLiteral("IST-II"),
                           QStringLiteral("IST-III"), QStringLiteral("Viking")});
    cboResident->setCurrentIndex(-1);
    cboResident->setEnabled(false);
    cboResident->setAutoFillBackground(true);
    {
        QPalette p = cboResident->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        cboResident->setPalette(p);
    }
    Place(cboResident, 2070, 240, 1350, 345);
    t_blockdelay = new QLineEdit(QStringLiteral("385"), frame[2]);
    t_blockdelay->setFont(plain);
    Place(t_blockdelay, 4740, 570, 510, 330);
    ud_blockdelay = new UpDown(frame[2]);
    ud_blockdelay->setRange(0, 1000);
    Place(ud_blockdelay, 5265, 585, 285, 285);

    // The left column below the frames.
    x_log = new QCheckBox(QStringLiteral("Log to File"), this);
    Place(x_log, 45, 3855, 1335, 255);
    b_host = new QPushButton(QStringLiteral("to Host"), this);
    Place(b_host, 3090, 3885, 990, 285);
    t_host = new QLineEdit(QStringLiteral("0D"), this);
    Place(t_host, 4140, 3885, 1575, 285);
    b_term = new QPushButton(QStringLiteral("to Term"), this);
    Place(b_term, 3090, 4245, 990, 285);
    t_term = new QLineEdit(QStringLiteral("0D"), this);
    Place(t_term, 4140, 4245, 1575, 285);
    b_ShowMonitor = new QPushButton(QStringLiteral("Show monitor >>"), this);
    Place(b_ShowMonitor, 4140, 4605, 1575, 330);

    // The monitor panel, hidden until the operator shows it.
    for (QPlainTextEdit** pane : {&t_CommLog, &t_DataLog}) {
        *pane = new QPlainTextEdit(this);
        (*pane)->setFont(SmallFixedFont());
        (*pane)->setLineWrapMode(QPlainTextEdit::NoWrap);
        QPalette p = (*pane)->palette();
        p.setColor(QPalette::Base, kPaleYellow);
        (*pane)->setPalette(p);
    }
    Place(t_CommLog, 5820, 135, 2415, 4065);
    Place(t_DataLog, 8265, 135, 5775, 4065);
    t_skip = new QLineEdit(QStringLiteral("0"), this);
    Place(t_skip, 6255, 4605, 375, 285);
    t_bytes = new QLineEdit(this);
    Place(t_bytes, 12120, 4605, 1095, 285);
    status = new QLabel(this);
    status->setFrameStyle(QFrame::Box | QFrame::Plain);
    status->setAutoFillBackground(true);
    {
        QPalette p = status->palette();
        p.setColor(QPalette::Window, QColor(255, 0, 0));
        status->setPalette(p);
    }
    Place(status, 13260, 4605, 255, 285);
    l_ports = DisplayLabel(this);
    l_ports->setText(QStringLiteral("12"));
    Place(l_ports, 13560, 4605, 495, 285);
    for (QWidget* m : std::initializer_list<QWidget*>{t_CommLog, t_DataLog, label[7], t_skip,
                                                      t_bytes, status, l_ports}) {
        m->setVisible(false);
    }

    // The frames' bold font is for their titles only: their controls use the plain font.
    for (QGroupBox* f : frame) {
        for (QWidget* child : f->findChildren<QWidget*>()) {
            if (child != label[3]) child->setFont(plain);
        }
    }

    // Every control is found by its name from the inventory.
    const std::pair<QWidget*, const char*> names[] = {
        {c_ports, "c_ports"},
        {pic, "pic"},
        {b_start, "b_start"},
        {b_stop, "b_stop"},
        {lblSystem, "lblSystem"},
        {cboSystem, "cboSystem"},
        {l_terminal, "l_terminal"},
        {l_host, "l_host"},
        {l_socket, "l_socket"},
        {l_url, "l_url"},
        {l_loginMode, "l_loginMode"},
        {l_milestone, "l_milestone"},
        {status_RS232, "status_RS232"},
        {status_SSL, "status_SSL"},
        {mile_RS232, "mile_RS232"},
        {Mile_SSL, "Mile_SSL"},
        {chkIsResidentLoaded, "chkIsResidentLoaded"},
        {cboResident, "cboResident"},
        {t_blockdelay, "t_blockdelay"},
        {ud_blockdelay, "ud_blockdelay"},
        {x_log, "x_log"},
        {b_host, "b_host"},
        {t_host, "t_host"},
        {b_term, "b_term"},
        {t_term, "t_term"},
        {b_ShowMonitor, "b_ShowMonitor"},
        {t_CommLog, "t_CommLog"},
        {t_DataLog, "t_DataLog"},
        {t_skip, "t_skip"},
        {t_bytes, "t_bytes"},
        {status, "status"},
        {l_ports, "l_ports"},
    };
    for (const auto& [object, name] : names) object->setObjectName(QString::fromLatin1(name));
}

}  // namespace corvane

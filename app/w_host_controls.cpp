// The window's controls, made from the inventory: each control's kind picks its Qt widget,
// and the inventory gives its name, caption, geometry, font and start state.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <map>
#include <string_view>

#include "app/engine_thread.h"
#include "app/inventory.h"
#include "app/lamp_label.h"
#include "app/ports_box.h"
#include "app/up_down.h"
#include "app/w_host.h"

namespace corvane {

namespace {

using inventory::Kind;

QColor ToQColor(inventory::Rgb c) { return QColor(c.r, c.g, c.b); }

void SetBackground(QWidget* w, QPalette::ColorRole role, const QColor& colour) {
    w->setAutoFillBackground(true);
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

QFont FontFor(inventory::Font font) {
    if (font == inventory::Font::SmallFixed) {
        QFont f(QStringLiteral("Monospace"), 6);
        f.setStyleHint(QFont::TypeWriter);
        f.setFixedPitch(true);
        f.setBold(true);
        return f;
    }
    QFont f(QStringLiteral("Arial"), 9);
    // Set, not inherited: the frames around most controls are bold.
    f.setBold(font == inventory::Font::Bold);
    return f;
}

QLabel* BorderedLabel(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFrameStyle(QFrame::Box | QFrame::Plain);
    return l;
}

QWidget* Make(const inventory::Control& c, QWidget* parent) {
    const QString caption = QString::fromUtf8(c.caption.data(), qsizetype(c.caption.size()));
    switch (c.kind) {
        case Kind::Frame:
            return new QGroupBox(caption, parent);
        case Kind::Panel:
            return new QWidget(parent);
        case Kind::Button:
            return new QPushButton(caption, parent);
        case Kind::Label:
            return new QLabel(caption, parent);
        case Kind::DisplayLabel: {
            QLabel* l = BorderedLabel(caption, parent);
            l->setAlignment(Qt::AlignCenter);
            SetBackground(l, QPalette::Window, ToQColor(inventory::kPaleYellow));
            return l;
        }
        case Kind::Lamp: {
            auto* l = new LampLabel(parent);
            l->setFrameStyle(QFrame::Box | QFrame::Plain);
            SetBackColor(l, LampDown);
            return l;
        }
        case Kind::SmallLamp: {
            QLabel* l = BorderedLabel(caption, parent);
            l->setAlignment(Qt::AlignCenter);
            SetBackground(l, QPalette::Window, ToQColor(inventory::kYellow));
            return l;
        }
        case Kind::StatusBox: {
            QLabel* l = BorderedLabel(caption, parent);
            SetBackground(l, QPalette::Window, ToQColor(inventory::kRed));
            return l;
        }
        case Kind::EditCombo: {
            auto* box = new PortsBox(parent);  // also offers the serial devices present
            box->setEditable(true);
            box->setInsertPolicy(QComboBox::NoInsert);
            return box;
        }
        case Kind::ListCombo: {
            auto* box = new QComboBox(parent);
            box->setEditable(false);
            for (const std::string& item : inventory::Items(c.name))
                box->addItem(FromEngineText(item));
            box->setCurrentIndex(-1);
            // A list that starts unusable shows the button face until it can be used.
            if (!c.enabled)
                SetBackground(box, QPalette::Base, box->palette().color(QPalette::Button));
            return box;
        }
        case Kind::CheckBox:
            return new QCheckBox(caption, parent);
        case Kind::TextBox:
            return new QLineEdit(caption, parent);
        case Kind::UpDown: {
            auto* steps = new UpDown(parent);
            steps->setRange(c.minimum, c.maximum);
            return steps;
        }
        case Kind::LogPane: {
            auto* pane = new QPlainTextEdit(parent);
            pane->setLineWrapMode(QPlainTextEdit::NoWrap);
            QPalette p = pane->palette();
            p.setColor(QPalette::Base, ToQColor(inventory::kPaleYellow));
            pane->setPalette(p);
            return pane;
        }
    }
    return new QWidget(parent);
}

template <typename T>
void Take(T*& member, QWidget* made) {
    member = static_cast<T*>(made);
}

}  // namespace

void WHost::BuildControls() {
    setObjectName(QStringLiteral("w_host"));
    setWindowTitle(
        QString::fromUtf8(inventory::kTitle.data(), qsizetype(inventory::kTitle.size())));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("network-wired")));
    setFont(FontFor(inventory::Font::Plain));
    // The layout is fixed: client area as designed; Form_Load collapses it.
    setFixedSize(Twips(inventory::kClientWidth), Twips(inventory::kClientHeight));

    std::map<std::string_view, QWidget*> made;
    for (const inventory::Control& c : inventory::Controls()) {
        QWidget* parent = c.inside.empty() ? this : made.at(c.inside);
        QWidget* w = Make(c, parent);
        w->setObjectName(QString::fromLatin1(c.name.data(), qsizetype(c.name.size())));
        if (c.kind != Kind::Panel) w->setFont(FontFor(c.font));
        if (!c.toolTip.empty())
            w->setToolTip(QString::fromUtf8(c.toolTip.data(), qsizetype(c.toolTip.size())));
        w->setGeometry(Twips(c.left), Twips(c.top), Twips(c.width), Twips(c.height));
        if (!c.enabled) w->setEnabled(false);
        if (!c.visible) w->setVisible(false);
        made[c.name] = w;
    }

    for (int i = 0; i < 3; ++i) Take(frame[i], made.at("frame(" + std::to_string(i) + ")"));
    for (int i = 0; i < 12; ++i) Take(label[i], made.at("label(" + std::to_string(i) + ")"));
    Take(c_ports, made.at("c_ports"));
    Take(pic, made.at("pic"));
    Take(b_start, made.at("b_start"));
    Take(b_stop, made.at("b_stop"));
    Take(lblSystem, made.at("lblSystem"));
    Take(cboSystem, made.at("cboSystem"));
    Take(l_terminal, made.at("l_terminal"));
    Take(l_host, made.at("l_host"));
    Take(l_socket, made.at("l_socket"));
    Take(l_url, made.at("l_url"));
    Take(l_loginMode, made.at("l_loginMode"));
    Take(l_milestone, made.at("l_milestone"));
    Take(status_RS232, made.at("status_RS232"));
    Take(status_SSL, made.at("status_SSL"));
    Take(mile_RS232, made.at("mile_RS232"));
    Take(Mile_SSL, made.at("Mile_SSL"));
    Take(chkIsResidentLoaded, made.at("chkIsResidentLoaded"));
    Take(cboResident, made.at("cboResident"));
    Take(t_blockdelay, made.at("t_blockdelay"));
    Take(ud_blockdelay, made.at("ud_blockdelay"));
    Take(x_log, made.at("x_log"));
    Take(b_host, made.at("b_host"));
    Take(t_host, made.at("t_host"));
    Take(b_term, made.at("b_term"));
    Take(t_term, made.at("t_term"));
    Take(b_ShowMonitor, made.at("b_ShowMonitor"));
    Take(t_CommLog, made.at("t_CommLog"));
    Take(t_DataLog, made.at("t_DataLog"));
    Take(t_skip, made.at("t_skip"));
    Take(t_bytes, made.at("t_bytes"));
    Take(status, made.at("status"));
    Take(l_ports, made.at("l_ports"));
}

}  // namespace corvane

#include "app/lamp_label.h"

#include <QMouseEvent>

namespace corvane {

void LampLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    QLabel::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

void SetBackColor(QWidget* widget, int color) {
    widget->setAutoFillBackground(true);
    QPalette p = widget->palette();
    p.setColor(widget->backgroundRole(),
               QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
    widget->setPalette(p);
}

int BackColor(const QWidget* widget) {
    const QColor c = widget->palette().color(widget->backgroundRole());
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

}  // namespace corvane

// A label used as a lamp: a coloured, bordered box that reports double-clicks.
#pragma once

#include <QLabel>

namespace corvane {

class LampLabel : public QLabel {
    Q_OBJECT

  public:
    using QLabel::QLabel;

  signals:
    void doubleClicked();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// Background colours as numbers with red in the lowest byte (255 is red, 65280 green).
void SetBackColor(QWidget* widget, int color);
// The widget's background colour as such a number.
int BackColor(const QWidget* widget);

}  // namespace corvane

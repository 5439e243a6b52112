// The up-down control of the chunk delay: two arrow buttons stepping an integer value.
#pragma once

#include <QWidget>

class QToolButton;

namespace corvane {

class UpDown : public QWidget {
    Q_OBJECT

  public:
    explicit UpDown(QWidget* parent = nullptr);

    int value() const { return value_; }
    // Clamps to the range; emits valueChanged when the value differs.
    void setValue(int v);
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    void setRange(int min, int max);
    void stepUp() { setValue(value_ + 1); }
    void stepDown() { setValue(value_ - 1); }

  signals:
    void valueChanged(int value);

  private:
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int value_ = 0;
    int min_ = 0;
    int max_ = 1000;
};

}  // namespace corvane

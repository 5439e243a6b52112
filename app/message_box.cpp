#include "app/message_box.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <memory>
#include <utility>

namespace corvane {

namespace {

// While the box is up: drops the operator's input to every window but a box (this one, or one
// shown over it), and ends the box once its owner is closed.
class HeldInput : public QObject {
  public:
    HeldInput(QWidget* owner, QMessageBox* box) : QObject(box), owner_(owner), box_(box) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        // A close hides the window on purpose; a minimise hides it spontaneously.
        if (owner_ && watched == owner_ && event->type() == QEvent::Hide && !event->spontaneous()) {
            box_->done(QMessageBox::Ok);
            return false;
        }
        return IsOperatorInput(event->type()) && watched->isWidgetType() &&
               !qobject_cast<QMessageBox*>(static_cast<QWidget*>(watched)->window());
    }

  private:
    static bool IsOperatorInput(QEvent::Type type) {
        switch (type) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::DragEnter:
            case QEvent::Drop:
                return true;
            default:
                return false;
        }
    }

    QPointer<QWidget> owner_;
    QMessageBox* box_;
};

}  // namespace

QMessageBox* ShowMessage(const QString& message, QWidget* owner, std::function<void()> ended) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Orvalle Information"),
                                message, QMessageBox::Ok, owner);
    // Not modal to the toolkit: the filter holds back the input instead, and a close goes
    // through.
    box->setWindowModality(Qt::NonModal);
    auto* held = new HeldInput(owner, box);  // goes with the box, and with it the filter
    auto once = std::make_shared<std::function<void()>>(std::move(ended));
    QObject::connect(box, &QDialog::finished, box, [box, held, once] {
        qApp->removeEventFilter(held);
        box->deleteLater();
        const std::function<void()> end = std::exchange(*once, nullptr);
        if (end) end();
    });
    qApp->installEventFilter(held);
    box->show();
    return box;
}

}  // namespace corvane

#include "logs/text_utils.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QTime>
#include <cmath>

namespace corvane {

namespace {

MessageHandler& messageHandler() {
    static MessageHandler handler;
    return handler;
}

}  // namespace

QString DigitsOnly(const QString& text) {
    QString digits;
    digits.reserve(text.size());
    for (QChar c : text) {
        if (c >= u'0' && c <= u'9') digits.append(c);
    }
    return digits;
}

QString FieldBefore(const QString& text, const QString& delimiter) {
    if (delimiter.isEmpty()) return QString();
    const qsizetype at = text.indexOf(delimiter);
    if (at < 0) return text;
    return text.left(at);
}

QString FieldAfter(const QString& text, const QString& delimiter) {
    if (delimiter.isEmpty()) return text;
    const qsizetype at = text.indexOf(delimiter);
    if (at < 0) return QString();
    return text.mid(at + delimiter.size());
}

QString TimeStamp() {
    // The timer and the clock are separate readings; only the timer gives the hundredths.
    const double timer = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    return TimeStampOf(QDateTime::currentDateTime(), timer);
}

QString TimeStampOf(const QDateTime& clock, double timerSeconds) {
    double fraction = 0.0;
    if (std::isfinite(timerSeconds)) fraction = timerSeconds - std::floor(timerSeconds);
    long long hundredths = std::llround(fraction * 100.0);
    // From .995 on the fraction rounds to a whole second; the stamp keeps its width instead.
    if (hundredths > 99) hundredths = 99;
    if (hundredths < 0) hundredths = 0;
    return clock.toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")) + u'.' +
           QStringLiteral("%1").arg(hundredths, 2, 10, QLatin1Char('0'));
}

namespace {

// While the box is up: drops the operator's input to every window but a box (this one, or one
// shown over it), and ends the box's wait once its owner is closed.
class HeldInput : public QObject {
  public:
    HeldInput(QWidget* owner, QEventLoop& wait) : owner_(owner), wait_(wait) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        // A close hides the window on purpose; a minimise hides it spontaneously.
        if (owner_ && watched == owner_ && event->type() == QEvent::Hide && !event->spontaneous()) {
            wait_.quit();
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
    QEventLoop& wait_;
};

}  // namespace

void ShowMessage(const QString& message, QWidget* owner) {
    if (const MessageHandler handler = messageHandler()) {
        handler(message);
        return;
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Orvalle Information"), message,
                    QMessageBox::Ok, owner);
    // Not modal to the toolkit: it drops, without a trace, a window manager's close that
    // reaches a window a modal box blocks, and the operator's close would be lost. The filter
    // holds back the input instead, and the close goes through.
    box.setWindowModality(Qt::NonModal);
    QEventLoop wait;
    HeldInput held(owner, wait);
    QObject::connect(&box, &QDialog::finished, &wait, &QEventLoop::quit);
    qApp->installEventFilter(&held);
    box.show();
    wait.exec();
    qApp->removeEventFilter(&held);
}

void SetMessageHandler(MessageHandler handler) { messageHandler() = std::move(handler); }

}  // namespace corvane

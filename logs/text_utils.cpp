#include "logs/text_utils.h"

#include <QApplication>
#include <QMessageBox>
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

void ShowMessage(const QString& message) {
    if (const MessageHandler handler = messageHandler()) {
        handler(message);
        return;
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Orvalle Information"), message,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void SetMessageHandler(MessageHandler handler) { messageHandler() = std::move(handler); }

}  // namespace corvane

// Small stateless text routines, and the one message box of the program.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

class QWidget;

namespace corvane {

// The characters 0 to 9 of the text, in order.
QString DigitsOnly(const QString& text);
// The part before the first delimiter; the whole text when there is none; "" for an empty
// delimiter.
QString FieldBefore(const QString& text, const QString& delimiter);
// The part after the first delimiter; "" when there is none; the whole text for an empty
// delimiter.
QString FieldAfter(const QString& text, const QString& delimiter);

// "MM/DD/YYYY HH:MM:SS.hh", always 22 characters, of the current local time.
QString TimeStamp();
// The same for a given clock reading and a timer reading in seconds since midnight, whose
// fraction gives the hundredths (a fraction that rounds up to a whole second shows .99).
QString TimeStampOf(const QDateTime& clock, double timerSeconds);

// A box titled "Orvalle Information" with the information icon and one OK button, over
// `owner`. It returns when the box is answered, when the owner is closed, or when the program
// ends. While it is up, the operator's input reaches no other window, as with a modal box, but
// a close of the owner does.
void ShowMessage(const QString& message, QWidget* owner = nullptr);
// Replaces the box (tests capture the message instead of blocking); an empty handler
// restores the box.
using MessageHandler = std::function<void(const QString&)>;
void SetMessageHandler(MessageHandler handler);

}  // namespace corvane

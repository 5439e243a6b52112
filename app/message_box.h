// The one message box of the program: a port that cannot be opened.
#pragma once

#include <QString>
#include <functional>

class QMessageBox;
class QWidget;

namespace corvane {

// Shows a box titled "Orvalle Information" with the information icon and one OK button over
// `owner`, and returns at once. `ended` runs once, when the operator answers the box or when
// its owner is closed. While it is up, the operator's input reaches no other window, as with
// a modal box, but a close of the owner does: the toolkit would drop a window manager's close
// of a window that a modal box blocks. The box deletes itself when it ends.
QMessageBox* ShowMessage(const QString& message, QWidget* owner, std::function<void()> ended);

}  // namespace corvane

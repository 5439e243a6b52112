// Everything the host sends, on its way to the terminal.
#pragma once

#include <QByteArray>

namespace corvane {

class WHost;

void SSL_DataIn(WHost& w, const QByteArray& text, bool endOfLine);

// Undoes the 0xFF doubling of one event: a doubled 0xFF becomes one, a lone 0xFF goes;
// `pending` carries an unpaired 0xFF into the next event.
QByteArray CleanIac(const QByteArray& text, bool& pending);

}  // namespace corvane

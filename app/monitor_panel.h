// The monitor toggle and the two manual send rows.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvane {

class WHost;

void b_ShowMonitor_Click(WHost& w);
void b_term_Click(WHost& w);
void b_host_Click(WHost& w);

// The bytes of a hex byte line: tokens split at single blanks, each 1 or more hex digits
// with a value up to FF. An empty text gives no bytes; an empty token, a non-hex character
// or a value above FF gives no value at all.
std::optional<QByteArray> ParseHexLine(const QString& text);

}  // namespace corvane

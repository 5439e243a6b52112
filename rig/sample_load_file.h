// Sample resident load files for trying and measuring the loader without a real one.
#pragma once

#include <QByteArray>
#include <QString>

namespace corvane::rig {

// Byte i is i mod 251: a lost, doubled or shifted byte shows at once (251 does not divide
// the chunk size), and no byte is 0xFF.
QByteArray SampleLoadBytes(qint64 size);

// Writes istlfNN.dat of the given size into the folder; false with the reason on failure.
bool WriteSampleLoadFile(const QString& programDir, int number, qint64 size,
                         QString* path = nullptr, QString* why = nullptr);

}  // namespace corvane::rig

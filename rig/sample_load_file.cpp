#include "rig/sample_load_file.h"

#include <QSaveFile>

#include "resident/loader.h"

namespace corvane::rig {

QByteArray SampleLoadBytes(qint64 size) {
    QByteArray bytes(size > 0 ? size : 0, Qt::Uninitialized);
    for (qint64 i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

bool WriteSampleLoadFile(const QString& programDir, int number, qint64 size, QString* path,
                         QString* why) {
    const QString target = LoadFilePath(programDir, number);
    if (path) *path = target;
    if (number < 0 || number > 99 || size < 1) {
        if (why) *why = QStringLiteral("the number must be 0 to 99 and the size at least 1");
        return false;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(SampleLoadBytes(size)) != size ||
        !file.commit()) {
        if (why) *why = file.errorString();
        return false;
    }
    return true;
}

}  // namespace corvane::rig

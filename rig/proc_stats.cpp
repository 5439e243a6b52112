#include "rig/proc_stats.h"

#include <unistd.h>

#include <QFile>
#include <QList>

namespace corvane::rig {

namespace {

QByteArray ReadProc(qint64 pid, const char* what) {
    const QString path = pid == 0 ? QStringLiteral("/proc/self/%1").arg(QLatin1String(what))
                                  : QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(what));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

}  // namespace

std::optional<double> CpuSeconds(qint64 pid) {
    const QByteArray stat = ReadProc(pid, "stat");
    // The command name may hold blanks and parentheses: fields count from the last ")".
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // After the name: state is field 3 of the whole line, utime 14, stime 15.
    if (fields.size() < 13) return std::nullopt;
    bool okU = false, okS = false;
    const double ticks = fields[11].toDouble(&okU) + fields[12].toDouble(&okS);
    if (!okU || !okS) return std::nullopt;
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::optional<qint64> VmKiB(const char* field, qint64 pid) {
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : ReadProc(pid, "status").split('\n')) {
        if (!line.startsWith(key)) continue;
        bool ok = false;
        const qint64 kib = line.mid(key.size()).trimmed().split(' ').value(0).toLongLong(&ok);
        if (ok) return kib;
    }
    return std::nullopt;
}

}  // namespace corvane::rig

#include "rig/proc_stats.h"

#include <unistd.h>

#include <QDir>
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

namespace {

// The run time of every thread in nanoseconds, from the scheduler's own account: idle figures
// of a tenth of a percent need more than the 10 ms clock ticks of /proc/PID/stat.
std::optional<double> SchedulerSeconds(qint64 pid) {
    const QString tasks =
        pid == 0 ? QStringLiteral("/proc/self/task") : QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty()) return std::nullopt;
    double ns = 0;
    for (const QString& t : threads) {
        QFile f(tasks + QLatin1Char('/') + t + QStringLiteral("/schedstat"));
        if (!f.open(QIODevice::ReadOnly)) continue;  // the thread ended meanwhile
        bool ok = false;
        const double run = f.readAll().split(' ').value(0).toDouble(&ok);
        if (!ok) return std::nullopt;
        ns += run;
    }
    return ns / 1e9;
}

}  // namespace

std::optional<double> CpuSeconds(qint64 pid) {
    if (const auto precise = SchedulerSeconds(pid)) return precise;
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

#include "links/serial_devices.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>

namespace corvane {

namespace {

// Kernel names of one kind ("ttyUSB"), in number order, ttyUSB2 before ttyUSB10.
QStringList NamesOfKind(const QDir& dev, const QString& prefix) {
    QStringList names;
    for (const QString& name : dev.entryList({prefix + u'*'}, QDir::AllEntries | QDir::System)) {
        const QString number = name.mid(prefix.size());
        bool ok = false;
        number.toUInt(&ok);
        if (ok) names << name;
    }
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        return a.mid(prefix.size()).toUInt() < b.mid(prefix.size()).toUInt();
    });
    return names;
}

// A ttyS node exists for every possible port; only one with hardware behind it answers.
bool Answers(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool answers = false;
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
        answers = info.type != PORT_UNKNOWN;
    } else {
        int lines = 0;
        answers = ::ioctl(fd, TIOCMGET, &lines) == 0;
    }
    ::close(fd);
    return answers;
}

// Device (resolved) -> its first stable name under serial/by-id.
QHash<QString, QString> StableNames(const QDir& dev) {
    QHash<QString, QString> names;
    const QDir byId(dev.filePath(QStringLiteral("serial/by-id")));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target)) names.insert(target, link.filePath());
    }
    return names;
}

}  // namespace

QStringList SerialDevices(const QString& deviceFolder) {
    const QDir dev(deviceFolder);
    const QHash<QString, QString> stable = StableNames(dev);
    QStringList devices;
    auto add = [&](const QString& path) {
        const QString target = QFileInfo(path).canonicalFilePath();
        devices << stable.value(target, path);
    };
    for (const QString& prefix : {QStringLiteral("ttyUSB"), QStringLiteral("ttyACM")}) {
        for (const QString& name : NamesOfKind(dev, prefix)) {
            const QString path = dev.filePath(name);
            if (QFileInfo::exists(path)) add(path);  // a link to a device that went is skipped
        }
    }
    for (const QString& name : NamesOfKind(dev, QStringLiteral("ttyS"))) {
        const QString path = dev.filePath(name);
        if (Answers(path)) add(path);
    }
    return devices;
}

std::optional<DeviceEntry> ParseDeviceEntry(const QString& entry) {
    if (!entry.startsWith(u'/')) return std::nullopt;
    const qsizetype colon = entry.lastIndexOf(u':');
    if (colon > 0) {
        const QString rest = entry.mid(colon + 1);
        if (rest.isEmpty() || rest.contains(u',')) return DeviceEntry{entry.left(colon), rest};
    }
    return DeviceEntry{entry, kDeviceDefaultSettings};
}

QString DeviceOpenFailure(const DeviceEntry& entry, const QString& reason, bool accessRefused) {
    QString message = QStringLiteral("Can't open ") + entry.device + u':' + entry.settings;
    QString why = reason;
    if (accessRefused) {
        if (!why.isEmpty()) why += QStringLiteral(": ");
        why += QStringLiteral("add your user to the group dialout");
    }
    if (!why.isEmpty()) message += u'\n' + why;
    return message;
}

bool DeviceAccessRefused(const QString& device) {
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES;
}

}  // namespace corvane

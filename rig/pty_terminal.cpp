#include "rig/pty_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "rig/wait.h"

namespace corvane::rig {

namespace {

[[noreturn]] void Fail(const QString& what) {
    throw std::runtime_error(QStringLiteral("pty terminal: %1").arg(what).toStdString());
}

QString ErrorText(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

void MakeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
}

constexpr int kSendBoundMs = 10000;

// Which terminal made the link now at each path (the rig runs on one thread).
QHash<QString, const PtyTerminal*>& LinkOwners() {
    static QHash<QString, const PtyTerminal*> owners;
    return owners;
}

}  // namespace

PtyTerminal::PtyTerminal(const QString& programDir, int portNumber) {
    clock_.start();
    char name[256] = {};
    if (::openpty(&masterFd_, &slaveFd_, name, nullptr, nullptr) != 0)
        Fail(QStringLiteral("openpty: %1").arg(ErrorText(errno)));
    slavePath_ = QString::fromLocal8Bit(name);
    for (int fd : {masterFd_, slaveFd_}) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        MakeRaw(fd);
    }

    const QDir dir(programDir);
    if (!dir.mkpath(QStringLiteral("ports"))) {
        closeAll();
        Fail(QStringLiteral("cannot create %1/ports").arg(programDir));
    }
    linkPath_ = dir.filePath(QStringLiteral("ports/com%1").arg(portNumber));
    const QByteArray link = QFile::encodeName(linkPath_);
    if (QFileInfo(linkPath_).isSymLink() || QFileInfo::exists(linkPath_))
        ::unlink(link.constData());
    if (::symlink(name, link.constData()) != 0) {
        const int e = errno;
        closeAll();
        Fail(QStringLiteral("cannot link %1 -> %2: %3").arg(linkPath_, slavePath_, ErrorText(e)));
    }
    struct stat st {};
    if (::lstat(link.constData(), &st) == 0) linkInode_ = st.st_ino;
    LinkOwners()[linkPath_] = this;

    readNotifier_ = new QSocketNotifier(masterFd_, QSocketNotifier::Read);
    QObject::connect(readNotifier_, &QSocketNotifier::activated, readNotifier_,
                     [this] { drain(); });
    lineTimer_ = new QTimer(readNotifier_);
    lineTimer_->setTimerType(Qt::PreciseTimer);
    lineTimer_->setInterval(1);
    QObject::connect(lineTimer_, &QTimer::timeout, readNotifier_, [this] { lineStep(); });
}

void PtyTerminal::setLineRate(int baud, double bitsPerChar) {
    baud_ = baud > 0 ? baud : 0;
    bitsPerChar_ = bitsPerChar > 0 ? bitsPerChar : 10;
    lineFreeAt_ = clock_.nsecsElapsed();
    if (baud_ == 0 && lineTimer_) lineTimer_->stop();
    if (readNotifier_) readNotifier_->setEnabled(true);
}

int PtyTerminal::unread() const {
    int n = 0;
    return masterFd_ >= 0 && ::ioctl(masterFd_, FIONREAD, &n) == 0 ? n : 0;
}

void PtyTerminal::take(const char* bytes, qsizetype n) {
    const qint64 now = clock_.elapsed();
    received_.append(bytes, n);
    readTotal_ += n;
    for (qsizetype i = 0; i < n; ++i) arrivals_.emplace_back(now, bytes[i]);
}

void PtyTerminal::followFraming(std::function<double()> bits) { framing_ = std::move(bits); }

qint64 PtyTerminal::charTimeNs() const {
    const double bits = framing_ ? framing_() : bitsPerChar_;
    return static_cast<qint64>(1e9 * (bits > 0 ? bits : 10) / baud_);
}

void PtyTerminal::lineStep() {
    if (masterFd_ < 0) return;
    const qint64 now = clock_.nsecsElapsed();
    if (!lineTimer_->isActive()) {
        // The line was idle: it starts on what has just been written, now.
        lineFreeAt_ = now;
        readNotifier_->setEnabled(false);
        lineTimer_->start();
        return;
    }
    const qint64 charNs = charTimeNs();
    const qint64 due = (now - lineFreeAt_) / charNs;
    if (due <= 0) return;
    char buf[65536];
    const ssize_t n =
        ::read(masterFd_, buf, static_cast<size_t>(std::min<qint64>(due, sizeof buf)));
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        lineTimer_->stop();  // no slave is open (see drain): stop looking
        return;
    }
    const qint64 got = n > 0 ? n : 0;
    take(buf, got);
    if (got < due) {
        // Ran dry: the next character starts when it is written.
        lineFreeAt_ = now;
        if (unread() == 0) {
            lineTimer_->stop();
            readNotifier_->setEnabled(true);
        }
    } else {
        lineFreeAt_ += got * charNs;
    }
}

PtyTerminal::~PtyTerminal() {
    closeAll();
    const QByteArray link = QFile::encodeName(linkPath_);
    struct stat st {};
    if (!link.isEmpty() && ::lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode) &&
        st.st_ino == linkInode_ && LinkOwners().value(linkPath_) == this)
        ::unlink(link.constData());
    if (LinkOwners().value(linkPath_) == this) LinkOwners().remove(linkPath_);
}

void PtyTerminal::drain() {
    if (masterFd_ < 0) return;
    if (baud_ > 0) {
        lineStep();
        return;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(masterFd_, buf, sizeof buf);
        if (n > 0) {
            take(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: no slave is open. Cannot happen while the rig holds its own slave
            // descriptor; stop listening rather than spin on it.
            if (readNotifier_) readNotifier_->setEnabled(false);
        }
        return;  // 0 (raw, VMIN=0: nothing waits) or EAGAIN
    }
}

void PtyTerminal::send(const QByteArray& bytes) {
    if (masterFd_ < 0) Fail(QStringLiteral("send after hang-up"));
    const QDeadlineTimer deadline(kSendBoundMs);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(masterFd_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            Fail(QStringLiteral("write: %1").arg(ErrorText(errno)));
        // The line is full: let the program (same thread) take some, within the bound.
        if (deadline.hasExpired())
            Fail(QStringLiteral("the program did not take %1 of %2 bytes within %3 ms")
                     .arg(bytes.size() - done)
                     .arg(bytes.size())
                     .arg(kSendBoundMs));
        RunUntil(
            [this] {
                if (masterFd_ < 0) return true;
                pollfd p{masterFd_, POLLOUT, 0};
                return ::poll(&p, 1, 0) > 0 && (p.revents & POLLOUT);
            },
            20);
        if (masterFd_ < 0) Fail(QStringLiteral("hung up while sending"));
    }
}

QByteArray PtyTerminal::takeReceived() {
    drain();
    QByteArray out;
    out.swap(received_);
    return out;
}

QByteArray PtyTerminal::readFor(int ms) {
    RunFor(ms);
    return takeReceived();
}

bool PtyTerminal::waitForBytes(int n, int timeoutMs) {
    return RunUntil(
        [this, n] {
            drain();
            return received_.size() >= n;
        },
        timeoutMs);
}

void PtyTerminal::hangUp() {
    drain();
    closeAll();
}

void PtyTerminal::closeAll() {
    lineTimer_ = nullptr;  // a child of the notifier
    if (readNotifier_) {
        readNotifier_->setEnabled(false);
        delete readNotifier_;
        readNotifier_ = nullptr;
    }
    if (masterFd_ >= 0) ::close(masterFd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
    masterFd_ = -1;
    slaveFd_ = -1;
}

}  // namespace corvane::rig

#include "rig/wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

namespace corvane::rig {

bool RunUntil(const std::function<bool()>& cond, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired()) return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // Without a timer of our own the loop could find nothing pending: do not spin.
        QThread::usleep(200);
    }
    return true;
}

void RunFor(int ms) {
    RunUntil([] { return false; }, ms);
}

}  // namespace corvane::rig

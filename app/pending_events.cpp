#include "app/pending_events.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace corvane {

void DoEventsNow() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void DoEventsWaiting() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace corvane

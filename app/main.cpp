#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

#include "app/start_up.h"
#include "app/w_host.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    std::unique_ptr<corvane::WHost> window(corvane::Main());

    // A log-off or kill closes the window as the platform does: the program ends at once,
    // without the operator's stop, and exits with status 0.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&window] {
            char c;
            [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
            window->close();
            QCoreApplication::exit(0);
        });
        std::signal(SIGTERM, OnSignal);
        std::signal(SIGHUP, OnSignal);
        std::signal(SIGINT, OnSignal);
    }
    return QApplication::exec();
}

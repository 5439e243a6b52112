#include <QApplication>
#include <memory>

#include "app/start_up.h"
#include "app/termination_signals.h"
#include "app/w_host.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    std::unique_ptr<corvane::WHost> window(corvane::Main());

    // A log-off or kill closes the window as the platform does: the program ends at once,
    // without the operator's stop, and exits with status 0.
    corvane::OnTerminationSignals(&app, [&window] {
        window->close();
        QCoreApplication::exit(0);
    });
    return QApplication::exec();
}

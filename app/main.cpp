#include <QApplication>
#include <QSettings>
#include <cstdio>
#include <memory>

#include "app/command_line.h"
#include "app/headless.h"
#include "app/remembered_settings.h"
#include "app/start_up.h"
#include "app/termination_signals.h"
#include "app/w_host.h"

namespace {

void Print(std::FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

void Name(QCoreApplication& app) {
    app.setOrganizationName(QStringLiteral("Corvane"));
    app.setApplicationName(QStringLiteral("Corvane"));
}

}  // namespace

int main(int argc, char** argv) {
    // Read before any application object: --help, --version and --headless need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const corvane::CommandLine options = corvane::ParseCommandLine(arguments);
    using Mode = corvane::CommandLine::Mode;
    switch (options.mode) {
        case Mode::Help:
        case Mode::Version:
            Print(stdout, options.text);
            return 0;
        case Mode::Error:
            Print(stderr, QStringLiteral("corvane: %1\nTry corvane --help.\n").arg(options.text));
            return 2;
        case Mode::Headless: {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QApplication app(argc, argv);
            Name(app);
            return corvane::RunHeadless(options);
        }
        case Mode::Window:
            break;
    }
    if (const QString why = corvane::NoDisplayReason(); !why.isEmpty()) {
        Print(stderr, QStringLiteral("corvane: %1\n").arg(why));
        return 2;
    }

    QApplication app(argc, argv);
    Name(app);
    // A log-off or kill closes the window as the platform does: the program ends at once,
    // without the operator's stop, and exits with status 0. Installed first, so that a signal
    // during the start still ends the program this way (it is handled once the loop runs).
    std::unique_ptr<corvane::WHost> window;
    corvane::OnTerminationSignals(&app, [&window] {
        if (window) window->close();
        QCoreApplication::exit(0);
    });
    QString why;
    const QString programDir = corvane::ProgramDirFor(options.programDir, &why);
    if (!why.isEmpty()) {
        Print(stderr, QStringLiteral("corvane: %1\n").arg(why));
        return 2;
    }
    window.reset(corvane::Main(programDir));
    QSettings settings;  // the user's config folder: Corvane/Corvane.conf
    if (!options.fresh) {
        for (const QString& line : corvane::RestoreOperatorSettings(*window, settings))
            Print(stderr, QStringLiteral("corvane: %1\n").arg(line));
    }

    const int status = QApplication::exec();
    // The stop and the unload leave these controls as the operator left them.
    corvane::SaveOperatorSettings(*window, settings);
    return status;
}

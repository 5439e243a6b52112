#include <pthread.h>

#include <QApplication>
#include <QSettings>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/engine_thread.h"
#include "app/hand_over.h"
#include "app/program_dir.h"
#include "app/remembered_settings.h"
#include "app/start_up.h"
#include "app/termination_signals.h"
#include "app/tsan_qt.h"
#include "app/w_host.h"

namespace {

void Print(std::FILE* to, const std::string& text) {
    std::fputs(text.c_str(), to);
    std::fflush(to);
}

void Name(QCoreApplication& app) {
    app.setOrganizationName(QStringLiteral("Corvane"));
    app.setApplicationName(QStringLiteral("Corvane"));
}

// The three termination signals, held back until the window's engine handles them.
sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

int main(int argc, char** argv) {
    // Read before any application object: --help, --version and --headless need no display.
    const std::vector<std::string> arguments(argv, argv + argc);
    const corvane::CommandLine options = corvane::ParseCommandLine(arguments);
    using Mode = corvane::CommandLine::Mode;
    switch (options.mode) {
        case Mode::Help:
        case Mode::Version:
            Print(stdout, options.text);
            return 0;
        case Mode::Error:
            Print(stderr, "corvane: " + options.text + "\nTry corvane --help.\n");
            return 2;
        case Mode::Headless:
            // The headless program has no Qt at all; none of it is loaded here either.
            corvane::HandOverToHeadless(argc, argv);
        case Mode::Window:
            break;
    }
    if (const std::string why = corvane::NoDisplayReason(); !why.empty()) {
        Print(stderr, "corvane: " + why + "\n");
        return 2;
    }
    std::string why;
    const std::string programDir = corvane::ProgramDirFor(options.programDir, &why);
    if (!why.empty()) {
        Print(stderr, "corvane: " + why + "\n");
        return 2;
    }

    // A log-off or kill closes the window as the platform does: the program ends without the
    // operator's stop, and exits with status 0. The engine's thread handles the signals, and it
    // starts with the window: until then they are held back (every thread started meanwhile
    // inherits that), so a signal during the start still ends the program this way.
    const sigset_t held = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &held, nullptr);

    QApplication app(argc, argv);
    Name(app);
    std::unique_ptr<corvane::WHost> window(corvane::Main(QString::fromStdString(programDir)));
    corvane::WHost* const w = window.get();
    corvane::EngineThread& channel = w->Channel();
    corvane::OnTerminationSignals(channel.io(), [&channel, w] {
        // From the engine's thread to the window's. A signal while the close runs already
        // ends the program at once.
        channel.PostBack([w] {
            if (w->IsClosing())
                QCoreApplication::exit(0);
            else
                w->close();
        });
    });
    pthread_sigmask(SIG_UNBLOCK, &held, nullptr);

    QSettings settings;  // the user's config folder: Corvane/Corvane.conf
    if (!options.fresh) {
        for (const QString& line : corvane::RestoreOperatorSettings(*window, settings))
            Print(stderr, "corvane: " + line.toStdString() + "\n");
    }

    const int status = QApplication::exec();
    // The stop and the unload leave these controls as the operator left them.
    corvane::SaveOperatorSettings(*window, settings);
    return status;
}

// A fresh window (and its engine, on the engine's own thread) in a temporary program folder;
// on demand a real pty as the terminal and a real loopback host, on the test's io_context,
// whose waits also handle the window's events.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <asio/io_context.hpp>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine_thread.h"
#include "app/lamp_label.h"
#include "app/settings_controls.h"
#include "app/w_host.h"
#include "rig/child_process.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/wait.h"

namespace corvane::testing {

// The window program as a desktop starts it, on the offscreen platform with its config folder
// `config`; after runMs it is ended as a log-off ends it (SIGTERM), and must end with status 0
// and not before. Returns what it wrote on standard error.
inline std::string RunWindowProgram(const std::string& config,
                                    const std::vector<std::string>& arguments, int runMs) {
    asio::io_context io;
    std::vector<std::string> env =
        rig::ChildProcess::Environment({"QT_QPA_PLATFORM", "XDG_CONFIG_HOME"});
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("XDG_CONFIG_HOME=" + config);
    rig::ChildProcess program(io, CORVANE_BINARY, arguments, env);
    // Still running: it shows its window and waits for the operator.
    EXPECT_FALSE(program.waitForExit(runMs)) << program.err();
    program.signal(SIGTERM);
    EXPECT_TRUE(program.waitForExit(10000));
    EXPECT_EQ(program.termSignal(), 0);
    EXPECT_EQ(program.exitCode(), 0) << program.err();
    return program.err();
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        rig::SetBetweenTurns([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
        w = std::make_unique<WHost>(dir.path());
        w->show();
    }

    void TearDown() override {
        w.reset();
        terminal.reset();
        host.reset();
        rig::SetBetweenTurns({});
    }

    // The terminal on com1 and a host on 127.0.0.1, chosen in cboSystem as the operator does.
    void WithLinks() {
        terminal = std::make_unique<rig::PtyTerminal>(io, Dir(), 1);
        host = std::make_unique<rig::LoopbackHost>(io);
        ASSERT_TRUE(host->listening());
        ChooseHost("Ludric", host->port());
    }
    void ChooseHost(const QString& name, std::uint16_t port) {
        w->cboSystem->addItem(QStringLiteral("%1:127.0.0.1:%2").arg(name).arg(port));
        w->cboSystem->setCurrentIndex(w->cboSystem->count() - 1);
        emit w->cboSystem->activated(w->cboSystem->currentIndex());
        ASSERT_TRUE(w->WaitUntilShown());
    }

    // Runs the rig's side and the window's events until cond() holds, at most ms.
    bool Until(const std::function<bool()>& cond, int ms = 5000) {
        return rig::RunUntil(io, cond, ms);
    }
    // A question to the engine, on its thread.
    template <class F>
    auto Ask(F ask) {
        return w->Channel().Ask(std::move(ask));
    }
    bool PortOpen() {
        return Ask([](Engine& e) { return e.IsTerminalPortOpen(); });
    }
    bool HostConnected() {
        return Ask([](Engine& e) { return e.IsHostConnected(); });
    }
    // Runs the application's event loop as the program does (the rig's side too), until the
    // program ends it; its exit status, or 99 when it did not end within ms.
    int RunProgramLoop(int ms = 10000) {
        QTimer rig;
        QObject::connect(&rig, &QTimer::timeout, [this] {
            if (io.stopped()) io.restart();
            io.poll();
        });
        rig.start(2);
        QTimer::singleShot(ms, &rig, [] { QCoreApplication::exit(99); });
        return QCoreApplication::exec();
    }
    static bool Green(const QWidget* lamp) { return BackColor(lamp) == LampUp; }
    static bool Red(const QWidget* lamp) { return BackColor(lamp) == LampDown; }

    std::string Dir() const { return dir.path().toStdString(); }

    QTemporaryDir dir;
    asio::io_context io;
    std::unique_ptr<WHost> w;
    std::unique_ptr<rig::PtyTerminal> terminal;
    std::unique_ptr<rig::LoopbackHost> host;
};

}  // namespace corvane::testing

// A fresh window between a real pty (the terminal) and a real loopback host, for the tests
// that drive the bridge end to end.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/lamp_label.h"
#include "app/settings_controls.h"
#include "app/w_host.h"
#include "links/host_connection.h"
#include "links/lamps.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "logs/text_utils.h"
#include "relay/pump.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/wait.h"
#include "rig/window_bridge.h"

namespace corvane::testing {

using rig::ChooseHost;

inline QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) b.append(static_cast<char>(v));
    return b;
}

inline QByteArray AllByteValues() {
    QByteArray b;
    for (int v = 0; v < 256; ++v) b.append(static_cast<char>(v));
    return b;
}

class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        SetMessageHandler([this](const QString& m) { messages << m; });
        w = std::make_unique<WHost>(dir.path());
        w->NowSeconds = [this] { return clock; };
        w->show();
        terminal = std::make_unique<rig::PtyTerminal>(dir.path(), 1);
        host = std::make_unique<rig::LoopbackHost>();
        ASSERT_TRUE(host->listening());
        ChooseHost(*w, QStringLiteral("Ludric"), host->port());
    }

    void TearDown() override {
        w.reset();
        terminal.reset();
        host.reset();
        SetMessageHandler({});
    }

    // Both links opened by double-clicks on their lamps, as the operator does.
    void OpenBothByLamps() {
        QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
        ASSERT_TRUE(IsTerminalPortOpen(*w)) << messages.join('\n').toStdString();
        QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
        ASSERT_TRUE(IsHostConnected(*w));
        ASSERT_TRUE(host->waitForConnection(5000));
    }

    // The pump ticked by hand, so a test sees each tick; the links stay real.
    void PausePump() {
        w->PumpWakes = false;
        w->sTimer->stop();
    }
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) sTimer_Timer(*w);
    }
    // The terminal reads at the pace of a real line, and the program sees the pty's backlog
    // as the device's output queue (the reader returned).
    SerialPort::OutputQueueReader TerminalReadsAt(int baud) {
        return rig::ReadAtLineRate(*w, *terminal, baud);
    }

    // Lets bytes written on one side reach the other side's buffers without a tick.
    void Settle(int ms = 30) { rig::RunFor(ms); }

    QTemporaryDir dir;
    qint64 clock = 1'000'000;
    QStringList messages;
    std::unique_ptr<WHost> w;
    std::unique_ptr<rig::PtyTerminal> terminal;
    std::unique_ptr<rig::LoopbackHost> host;
};

}  // namespace corvane::testing

// Runs every window test inside one QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/tsan_qt.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As in the program: a closed window leaves the loop running until the engine has unloaded.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

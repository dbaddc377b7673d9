#include "platform/root.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>

// Managers live for the whole process by design and Qt's platform plugins
// keep their allocations until exit: leak reports would only show those.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

// Every test program runs with a QApplication (offscreen), so widgets,
// queued signals and timers work as in the program.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("ZRV_BOARD", "sim", 1);
    // A test that reaches the board without its own root (no SimEnv) must
    // still write its log lines and files into a scratch folder, never into
    // the host's /data: the tests run as root on a real machine.
    QTemporaryDir scratchRoot;
    if (!scratchRoot.isValid()) return 2;
    setenv("ZRV_ROOT", scratchRoot.path().toLocal8Bit().constData(), 1);
    Root::setRoot(scratchRoot.path().toStdString());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

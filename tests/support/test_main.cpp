#include "platform/root.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>

// Qt Test's check macros are gtest checks in every test program: the build
// puts support/qt_checks.h before each of its sources.
#ifndef ZRV_QT_CHECK_
#error "tests/CMakeLists.txt must put support/qt_checks.h before every test source"
#endif

// Leak checking is on. The reports that are Qt's own and not ours are
// listed in support/lsan.supp, each with its reason; the same list is built
// into every test program (so listing the tests needs no environment) and
// handed to the programs the tests start (ZRV_LSAN_SUPP).
extern "C" const char* __lsan_default_suppressions() { return "leak:libqoffscreen.so\n"; }

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

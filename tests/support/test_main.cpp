#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

// Managers live for the whole process by design and Qt's platform plugins
// keep their allocations until exit: leak reports would only show those.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

// Every test program runs with a QApplication (offscreen), so widgets,
// queued signals and timers work as in the program.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("ZRV_BOARD", "sim", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

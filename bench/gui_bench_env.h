#pragma once
// The Qt application the page benchmarks draw in (offscreen), made once.
#include "ui/shell/shell_text.h"

#include <QApplication>

namespace benchgui {

inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "zrv_bench";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
    ShellText::installFont();
}

}  // namespace benchgui

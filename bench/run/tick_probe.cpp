// Linked with the program's own main() into a second executable: counts the
// panel's 10 ms ticks and appends one line a second, "<second> <ticks>", to
// the file named by ZRV_TICK_PROBE_OUT. The program itself is unchanged.
#include "ui/shell/mainwindow.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<unsigned long> g_ticks{0};

void writer(std::string path) {
    unsigned long last = 0;
    for (int second = 1;; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const unsigned long now = g_ticks.load();
        if (FILE* f = std::fopen(path.c_str(), "a")) {
            std::fprintf(f, "%d %lu\n", second, now - last);
            std::fclose(f);
        }
        last = now;
    }
}

void followTicks() {
    const char* out = std::getenv("ZRV_TICK_PROBE_OUT");
    if (!out) return;
    // Runs once the event loop is up, after start-up has made the tick timer.
    QTimer::singleShot(0, [] {
        if (g_timer) QObject::connect(g_timer.data(), &QTimer::timeout, [] { ++g_ticks; });
    });
    std::thread(writer, std::string(out)).detach();
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(followTicks)

// The reference of the idle program: a bare Qt window of the panel's size
// with a 10 ms timer that does nothing, on the same platform plugin.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(800, 480);
    window.show();
    unsigned long ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(10);
    return app.exec();
}

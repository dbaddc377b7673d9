#include "core/app_shutdown.h"

#include "core/console.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/usbserver.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_manage.h"
#include "protocol/k57_wifi_config.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"
#include "ui/shell/syncupdate.h"
#include "video_engine/c331_manage.h"
#include "video_io/vimrasource.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Every signal's handling as the program set it up, before the display
// platform was loaded.
struct sigaction g_ownHandling[NSIG];
bool g_ownHandlingKnown[NSIG] = {};

bool sameHandling(const struct sigaction& a, const struct sigaction& b) {
    return a.sa_handler == b.sa_handler && (a.sa_flags & SA_SIGINFO) == (b.sa_flags & SA_SIGINFO);
}

// The console is often left in the middle of a line (the debug prints end
// without a newline, a terminal echoes "^C"): the line that says why the
// program stops starts on one of its own. The log file gets the line alone,
// at the caller's place.
void stopLine(_LogType level, const std::string& text, LogPlace at = {}) {
    Console::print("\n");
    writeLogMsg(level, text, at);
}

extern "C" void onSignal(int sig) {
    const int saved = errno;
    const char b = char(sig);
    if (g_signalPipe[1] >= 0) (void)!::write(g_signalPipe[1], &b, 1);
    errno = saved;
}

// A write to a pipe whose reader has gone (the console of "| head") and one
// past the file size limit raise these signals, whose default ends the
// process. Caught, the write fails instead, and the writer counts what it
// lost. A handler, not SIG_IGN: a handler goes back to the default in the
// programs the shell runner starts, as it was before, where an ignored
// signal would stay ignored in them.
extern "C" void onWriteSignal(int) {}

// Qt's messages take the console's road (standard error), as Qt's own
// handler would print them, so they neither wait for a console nobody reads
// nor bring a name they quote to it raw. Qt's X11 platform reports a broken
// display connection with a warning and then calls exit(1) while every
// worker still runs.
void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    Console::printErr("%s\n", qFormatLogMessage(type, context, text).toLocal8Bit().constData());
    if (type == QtWarningMsg && text.startsWith(QLatin1String("The X11 connection broke"))) {
        stopLine(WARNING, "display lost: stopping");
        AppShutdown::stopWorkersAndPersist();
        AppShutdown::drainConsole();
        std::_Exit(0);
    }
    // Qt aborts once a fatal message is handled: its line goes out first.
    if (type == QtFatalMsg) AppShutdown::drainConsole();
}

}  // namespace

namespace AppShutdown {

void installSignalHandlers() {
    if (g_signalPipe[0] >= 0) return;
    // Qt's framebuffer platforms (linuxfb, the device's, and eglfs) would
    // otherwise take SIGINT, SIGTERM, SIGTSTP and SIGCONT while the
    // QApplication is built, and their handler ends the process at once
    // with status 1: what the program answered would not be stored. Set
    // before any thread runs, as the environment must be.
    ::setenv("QT_QPA_NO_SIGNAL_HANDLER", "1", 1);
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        writeLogMsg(ERROR, "no signal pipe: SIGTERM and SIGINT end the program without persisting");
        return;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    // A terminal that goes (its window closed, the login dropped) hangs up:
    // the console is gone, and the program stops as on SIGTERM, storing what
    // it answered, where the default would end it at once. Started with it
    // ignored ("nohup"), it goes on.
    struct sigaction hangup;
    if (::sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN) ::sigaction(SIGHUP, &sa, nullptr);
    // Where the program was started with the signal ignored it stays so, in
    // its children as before.
    sa.sa_handler = onWriteSignal;
    for (const int sig : {SIGPIPE, SIGXFSZ}) {
        struct sigaction was;
        if (::sigaction(sig, nullptr, &was) == 0 && was.sa_handler != SIG_IGN) ::sigaction(sig, &sa, nullptr);
    }
    // Every signal as set up here, for watchSignals to give back what the
    // display platform takes. SIGTSTP and SIGCONT keep what they had: Ctrl+Z
    // suspends the program as any other, and it goes on when continued.
    for (int sig = 1; sig < NSIG; ++sig)
        g_ownHandlingKnown[sig] = ::sigaction(sig, nullptr, &g_ownHandling[sig]) == 0;
    qInstallMessageHandler(onMessage);
}

void drainConsole() {
    // A console that does not take the last lines does not hold the stop.
    Console::drain(kConsoleDrain);
}

void watchSignals() {
    // Whatever a display platform took while it was loaded (one that does
    // not heed the variable above, a later Qt) is the program's again.
    std::string taken;
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction now;
        if (!g_ownHandlingKnown[sig] || ::sigaction(sig, nullptr, &now) != 0 || sameHandling(now, g_ownHandling[sig]))
            continue;
        ::sigaction(sig, &g_ownHandling[sig], nullptr);
        const char* name = sigdescr_np(sig);
        taken += (taken.empty() ? "" : ", ") + std::to_string(sig) + " (" + (name ? name : "real-time") + ")";
    }
    if (!taken.empty())
        writeLogMsg(WARNING, "the display platform took signals " + taken + "; the program's handling restored");
    if (g_signalPipe[0] < 0 || !QCoreApplication::instance()) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char b = 0;
        while (::read(g_signalPipe[0], &b, 1) == 1) {
        }
        stopLine(INFO, "signal " + std::to_string(int(b)) + ": stopping");
        QCoreApplication::quit();
    });
}

void stopWorkersAndPersist() {
    static std::atomic<bool> done{false};
    if (done.exchange(true)) return;
    // The links first, so no new change comes in; the c331 thread last, as
    // the links' writers raise its flag.
    if (udpnetManage* p = udpnetManage::p_udpnetManage) p->stop();
    if (networkManage* p = networkManage::p_networkManage) p->stop();
    if (Qd_uart_inout* p = Qd_uart_inout::p_uart) p->stop();
    if (Qd_uart_inout_4G* p = Qd_uart_inout_4G::p_uart_4g) p->stop();
    if (K57_WIFI_CONFIG* p = K57_WIFI_CONFIG::p_wifi) p->stop();
    if (UsbServer* p = UsbServer::p_UsbServer) p->stop();
    if (vimrasource* p = vimrasource::p_vimra_source) p->stop();
    if (fpga_manage* p = fpga_manage::p_fpga_manage) p->stop();
    c331_manage* c331 = c331_manage::p_c331_manage;
    if (c331) c331->stop();
    // The c331 thread may have handed a brightness change over after the
    // FPGA thread's last pass: the image file below keeps it, and so must
    // its flash record, or the next start brings the older one back.
    if (fpga_manage* p = fpga_manage::p_fpga_manage) p->finish_brightness();

    // Change signals already raised wait in the GUI thread's queue.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    // What the refresh dispatcher still holds (a slot pass behind its pause
    // included) and a change the c331 thread had not taken up yet.
    const int untaken = c331 ? c331->apply_flag.exchange(0) : 0;
    SyncUpdate::pInstance()->persistAtStop(untaken);
    // The image file's writer is given a bound: a disk that hangs does not
    // keep the program from ending.
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    const bool stored = !model || model->drainImageFile();
    // Lines counted since their last line, with no tick left to write the
    // count when it falls due.
    LineLimiter::writeHeldCounts();
    if (stored)
        writeLogMsg(INFO, "worker threads stopped, parameters persisted");
    else
        writeLogMsg(ERROR, "worker threads stopped, parameter image file not written");
}

}  // namespace AppShutdown

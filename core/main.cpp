#include "core/app_shutdown.h"
#include "core/config_engine.h"
#include "core/console.h"
#include "core/file_checks.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_manage.h"
#include "fpga/usb_upgrade.h"
#include "platform/board.h"
#include "platform/instance_lock.h"
#include "platform/root.h"
#include "platform/tick_cpu.h"
#include "protocol/k57_wifi_config.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"
#include "video_engine/c331_manage.h"
#include "video_io/vimrasource.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/shell_start.h"

#include <QApplication>

#include <cstdlib>

namespace {

// The device's loader starts us while the rest of the board is still
// settling; a PC run may shorten the wait. Only decimal digits up to the
// longest wait are taken: strtoul would make "-1" a wait of 49 days, with
// nothing said and no signal heard, and "2s" no wait at all.
void startDelay() {
    constexpr unsigned long kDefaultMs = 3000, kMostMs = 600000;
    unsigned long ms = kDefaultMs;
    if (const char* v = std::getenv("ZRV_START_DELAY_MS")) {
        const std::string text(v);
        const bool digits = !text.empty() && text.size() <= 6 && text.find_first_not_of("0123456789") == std::string::npos;
        if (digits && std::stoul(text) <= kMostMs)
            ms = std::stoul(text);
        else
            writeLogMsg(WARNING, "ZRV_START_DELAY_MS \"" + text + "\" is not a wait of 0 to " + std::to_string(kMostMs) +
                                     " ms; the 3 s wait serves");
    }
    Utils::sleep_ms(unsigned(ms));
}

}  // namespace

int main(int argc, char** argv) {
    // Before any file is opened: a closed console's number would go to it.
    Console::holdStandardDescriptors();
    // Before anything touches a file or a device of the root: a second start
    // beside a running one ends here.
    Root::setFromEnvironment();
    const InstanceLock::Outcome lock = InstanceLock::take();
    const std::string where = Root::root().empty() ? std::string("/") : Root::root();
    if (lock.state == InstanceLock::Outcome::HeldByOther) {
        const std::string who = lock.holder ? "process " + std::to_string(lock.holder) : "a process of another namespace";
        Console::printErr("zrvK57N already runs on the root %s (%s holds %s); this start ends\n", where.c_str(),
                          who.c_str(), Root::path(InstanceLock::kLockFile).c_str());
        AppShutdown::drainConsole();
        return 1;
    }
    if (lock.state == InstanceLock::Outcome::Unguarded)
        writeLogMsg(WARNING, "no lock against a second start on " + where + ": " + lock.problem + "; running unguarded");
    AppShutdown::installSignalHandlers();
    Board::installFromEnvironment();

    startDelay();
    // Before the periodic threads start: they join this CPU (the GUI thread
    // last, once the threads it starts itself are running).
    tick_cpu::choose();
    ConfigEngine::pInstance();
    // Before the FPGA thread exists: it alone stages an application.
    usbupgrade::removeLeftStagedApplication();
    // Before anything lists or reads the folders: a write cut off by a power
    // cut or a kill leaves its temporary beside the file it was to replace.
    FileCheck::removeLeftTemporaries();
    // The parameter image before any manager reads it.
    ZrvRamPara::pInstance();
    // Wired before any worker can raise the change signal, so no change
    // made in the first moments is lost. Delivered once the loop runs.
    shell_connect_model();
    // The input-source manager and its driver objects; construction touches
    // no bus and no line.
    vimrasource::pInstance();
    // The FPGA manager sets the lines' start levels and starts its thread,
    // which waits for the c331 thread's start gate and for the source
    // thread to release each FPGA.
    fpga_manage::pInstance();
    // The source thread: receivers out of reset, EDID check, output clocks,
    // then the FPGAs are released.
    vimrasource::p_vimra_source->initialize();
    // The c331 thread identifies and initialises the chip, then opens the
    // FPGA thread's start gate.
    c331_manage::pInstance();
    // Touch activity for the idle return.
    lcd_touch::pInstance();
    // The PC links and the Wi-Fi access point, each with its own threads.
    udpnetManage::pInstance();
    Qd_uart_inout::pInstance();
    networkManage::pInstance();
    Qd_uart_inout_4G::pInstance();
    K57_WIFI_CONFIG::pInstance();

    QApplication app(argc, argv);
    AppShutdown::watchSignals();
    shell_gui_start();
    const int status = app.exec();
    // Before static destruction takes the board from under the workers.
    AppShutdown::stopWorkersAndPersist();
    AppShutdown::drainConsole();
    return status;
}

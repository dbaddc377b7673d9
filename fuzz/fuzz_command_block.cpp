// The command block the PC leaves for the FPGA manager (clock, on/off
// schedule, brightness), and the two records the manager reads back from the
// flash behind FPGA 0 at a start, on two simulated FPGAs brought up once.
// After each input the brightness task and the schedule run on what was
// taken. The only shell command a block may lead to is the clock setting
// with checked numbers, and it goes to the recording runner: anything else
// traps.
#include "fuzz_env.h"

#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/fileops.h"
#include "sim/sim_devices.h"
#include "sim/sim_scenario.h"
#include "video_engine/c331_manage.h"
#include "video_io/source_handover.h"

#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace fpgareg;

namespace {

fpga_manage* g_manager = nullptr;
ManualClock* g_clock = nullptr;

SimBoard& sim() { return static_cast<SimBoard&>(Board::get()); }

void turn(int ticks) {
    for (int i = 0; i < ticks; ++i) {
        g_clock->advanceMs(10);
        g_manager->thread_turn();
        c331_manage::get()->apply_flag.store(0);
    }
}

void bringUp() {
    simAttachDevices(sim());
    g_clock = static_cast<ManualClock*>(&Board::get().clock());
    g_clock->setMs(1000000);
    auto* model = new ZrvRamPara;
    model->load();
    ZrvRamPara::p_zrvrampara_config = model;
    sim().scenario().setCardsOnPort(0, 2);
    g_manager = new fpga_manage;
    fpga_manage::p_fpga_manage = g_manager;
    if (g_manager->initialize(false) != 0) __builtin_trap();
    for (int k = 0; k < 2; ++k) {
        sim().simGpio().setLine(k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset, 1);
        source_handover::g_output_clock_state[k].store(2);
    }
    g_fpga_c331_start.store(1);
    for (int i = 0; i < 3000 && !g_manager->get_fpga_status(); ++i) turn(1);
    if (!g_manager->get_fpga_status()) __builtin_trap();
}

// A record as the flash driver programs it: four bytes of room in front.
void storeRecord(u32 address, const uint8_t* data, size_t size, u32 bytes) {
    u8 record[4 + 64] = {};
    std::memcpy(record + 4, data, std::min<size_t>(size, bytes));
    g_manager->store_record(address, record, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzenv::init();
    bringUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool records = data[0] & 1;
    ++data;
    --size;
    if (records) {
        // The brightness record, then the schedule's, as a start reads them.
        const size_t first = std::min<size_t>(size, kBrightRecordBytes);
        storeRecord(FLASH_BRIGHT, data, first, kBrightRecordBytes);
        storeRecord(FLASH_ONOFF, data + first, size - first, kOnOffRecordBytes);
        g_manager->record_bright_change();
        g_manager->record_onoff_time(kRecordFlash);
    } else {
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            std::memset(fpga_manage::MCU_RAM_CMD, 0, sizeof fpga_manage::MCU_RAM_CMD);
            std::memcpy(fpga_manage::MCU_RAM_CMD, data, std::min(size, sizeof fpga_manage::MCU_RAM_CMD));
            fpga_manage::MCU_RAM_CMD[0] = 0xAA;
        }
        g_manager->Dealwith_mcu_ram();
    }
    // The task and the schedule run on what was taken, a task period apart.
    for (int i = 0; i < 3; ++i) {
        g_clock->advanceMs(10000);
        g_manager->Extension_function();
    }

    // The clock setting is a date with checked numbers, then the hardware
    // clock, each a line of its own; the hardware clock only after a date.
    static const QRegularExpression date(
        QStringLiteral("^date \"[0-9]{1,4}-[0-9]{1,2}-[0-9]{1,2} [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\"$"));
    const auto commands = sim().simShell().commands();
    for (size_t i = 0; i < commands.size(); ++i) {
        const bool isDate = date.match(QString::fromStdString(commands[i])).hasMatch();
        const bool afterDate = i > 0 && date.match(QString::fromStdString(commands[i - 1])).hasMatch();
        if (!isDate && !(commands[i] == "hwclock -wu" && afterDate)) __builtin_trap();
    }
    if (!commands.empty()) {
        sim().simShell().clear();
        FileOps::removePath(SimShell::logDevicePath());
    }
    return 0;
}

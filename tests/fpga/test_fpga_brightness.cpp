// The command block's schedule and brightness kinds, the brightness write,
// the task with its half-hour table and light sensor, and the on/off
// schedule, on the simulated FPGAs in virtual time.
#include "fpga_env.h"
#include "protocol/frame_helpers.h"
#include "sim/sim_c331.h"
#include "support/quiet_c331_ops.h"
#include "ui/service/advancedoption.h"
#include "ui/settings/imagequality.h"
#include "ui/shell/mainwindow.h"

#include <QPushButton>
#include <QSlider>

#include <ctime>
#include <thread>

namespace {
// Where the records lie in the flash behind FPGA 0 (sectors 1741 and 1742).
constexpr u32 FLASH_ONOFF = 0x6CD000;
constexpr u32 FLASH_BRIGHT = 0x6CE000;

class Brightness : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        board().scenario().setCardsOnPort(0, 2);
    }
    void up() { ASSERT_TRUE(bringUpBoth()); }
    // A command block of `kind` with store byte `store` and data, length
    // `len` (the data's size when 0); what the register write answers (0
    // done, 1 refused, 2 not done).
    int run(u8 kind, u8 store, const Bytes& data, int len = -1) {
        if (len < 0) len = int(data.size());
        Bytes b = {0xAA, kind, store, 0, 0, 0, u8(len), u8(len >> 8)};
        b.insert(b.end(), data.begin(), data.end());
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            std::memcpy(fpga_manage::MCU_RAM_CMD, b.data(), b.size());
        }
        const int answer = m->write_to_register(2, 0x04, 0x04, 0);
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        std::memset(fpga_manage::MCU_RAM_CMD, 0, 16);
        return answer;
    }
    void at(int day, int hour, int minute) {
        std::tm t{};
        t.tm_year = 130;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        clock->setWallTime(t);
        m->IT8563WE_Get(&m->current_time);
    }
    // One run of the idle work once the task is due.
    void taskRun() {
        clock->advanceMs(10 * fpga_manage::kTaskTicks);
        m->Extension_function();
    }
    // Changes stand for the quiet second; one pass stores the record.
    void quietSecond() {
        clock->advanceMs(10 * fpga_manage::kRecordQuietTicks);
        m->thread_turn();
    }
    // A new manager over the same FPGAs and flash (the old one stopped in
    // order).
    void restart() {
        m.reset();
        fpga_manage::p_fpga_manage = nullptr;
        for (int k = 0; k < 2; ++k) fpga[k]->clearLog();
        m = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = m.get();
        ASSERT_EQ(m->initialize(false), 0);
    }
    // A restart, the reload of the stored record once the FPGAs run, and the
    // task's first run (the outputs stay released).
    void restartAndReload() {
        restart();
        // The FPGAs run only once the start gate opened.
        g_fpga_c331_start.store(1);
        m->write_to_register(fpgareg::RUN_MARK, 0xFF, fpgareg::RUNNING, 0);
        m->record_bright_change();
        taskRun();
    }
    u16 panel() {
        QMutexLocker lock(&c331_manage::get()->mutex);
        return model->live_image.word(RamOffset::BRIGHTNESS);
    }
    // The panel's change as the c331 thread hands it over, and one pass.
    void panelChange(u16 v) {
        setPanel(v);
        fpga_handover::raise_brightness();
        m->thread_turn();
    }
    // The record a panel value gives: a fixed level used as it is.
    static Bytes panelRecord(u8 v) {
        Bytes r = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16};
        r.insert(r.end(), 48, v);
        return r;
    }
    Bytes rec(u32 address, u32 len) { return flash[0]->read(address, len); }
    // The brightness record without bytes 3-5 (the change it holds), and
    // that change.
    Bytes record() {
        Bytes r = rec(FLASH_BRIGHT, 57);
        std::fill(r.begin() + 3, r.begin() + 6, 0);
        return r;
    }
    u32 recordGen() {
        const Bytes g = rec(FLASH_BRIGHT + 3, 3);
        return u32(g[0]) | u32(g[1]) << 8 | u32(g[2]) << 16;
    }
    // What a power cut leaves and the next start finds: the image file as
    // last written, the flash, a new manager.
    void powerCutAndStart() {
        model->load();
        restart();
        up();
    }
    u32 erases(u32 address) { return flash[0]->eraseCount(address / 0x1000); }
    u8 reg6(int k) { return fpga[k]->reg(6); }
    // The panel's setter: the word written, a change of it counted.
    void setPanel(u16 v) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        model->live_image.setWord(RamOffset::BRIGHTNESS, v);
        model->countBrightnessWrite();
    }
    // The word spoiled behind everyone's back: no change counted.
    void spoilWord(u16 v) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        model->live_image.setWord(RamOffset::BRIGHTNESS, v);
    }
    static Bytes table() {
        Bytes d = {1};
        for (int i = 0; i < 48; ++i) d.push_back(u8(i % 16 + 1));
        return d;
    }
};

TEST_F(Brightness, ScheduleBlockArmsFourEntriesStoresExactlyItsBytesAndActsOncePerDay) {
    up();
    const Bytes entries = {6, 0x08, 0x30, 0x20, 0x00, 0x09, 0x00, 0x21, 0x00, 0x10, 0x00, 0x22, 0x00,
                           0x11, 0x00, 0x23, 0x00, 0x12, 0x00, 0x23, 0x30, 0x13, 0x00, 0x23, 0x45};
    run(2, 0xAA, entries, 17);
    EXPECT_EQ(m->onoff_count, 4);
    EXPECT_TRUE(m->onoff[3].on_armed && m->onoff[3].off_armed);
    EXPECT_EQ((Vals{m->onoff[0].on_hour, m->onoff[0].on_minute, m->onoff[0].off_hour}), (Vals{8, 30, 20}));
    Bytes stored = {0xAA, 2, 0xAA, 0, 0, 0, 17, 0};
    stored.insert(stored.end(), entries.begin(), entries.begin() + 17);
    stored.push_back(0xFF);
    EXPECT_EQ(rec(FLASH_ONOFF, 26), stored);
    EXPECT_EQ(image(0, 66), 1);

    auto screenWrites = [&] { return fpga[0]->writesTo(0); };
    const size_t before = screenWrites().size();
    at(2, 8, 30);  // the run's first check falls on a time
    m->Extension_function();
    m->Extension_function();
    ASSERT_EQ(screenWrites().size(), before + 1);
    EXPECT_EQ(screenWrites().back() & 0x04, 0);  // code 1: shown
    at(2, 20, 0);
    m->Extension_function();
    EXPECT_EQ(screenWrites().back() & 0x04, 0x04);  // code 0: blacked out
    at(2, 8, 30);  // the same time again that day
    m->Extension_function();
    EXPECT_EQ(screenWrites().size(), before + 2);
    at(3, 0, 0);  // a new day re-arms
    m->Extension_function();
    at(3, 8, 30);
    m->Extension_function();
    EXPECT_EQ(screenWrites().size(), before + 3);

    // "U" erases the record and stops the schedule; nothing is written.
    const u32 e = erases(FLASH_ONOFF);
    run(2, 0x55, {1, 0x08, 0x30, 0x20, 0x00});
    EXPECT_EQ((Vals{erases(FLASH_ONOFF), rec(FLASH_ONOFF, 1)[0], image(0, 66)}), (Vals{e + 1, 0xFF, 0}));
}

TEST_F(Brightness, CommandBlockLevelsEraseAndRefusedLengths) {
    up();
    run(3, 0xAA, {0, 8});
    EXPECT_EQ((Vals{reg6(0), reg6(1)}), (Vals{127, 127}));
    quietSecond();
    // Bytes 3-5: the change it holds, the first counted.
    EXPECT_EQ(rec(FLASH_BRIGHT, 11), (Bytes{0xAA, 3, 0xAA, 1, 0, 0, 2, 0, 0, 8, 0xFF}));
    run(3, 0, {0, 0});  // level 0 is the lowest step, not full brightness
    EXPECT_EQ(reg6(0), 15);
    run(3, 0, {16, 200});
    EXPECT_EQ(reg6(1), 200);

    const u32 writes6 = u32(fpga[0]->writesTo(6).size()), e2 = erases(FLASH_ONOFF), e3 = erases(FLASH_BRIGHT);
    run(3, 0xAA, table(), 48);                         // half-hour table one level short
    run(3, 0xAA, {0}, 1);                              // fixed level without its level
    run(2, 0xAA, {3, 0x08, 0x30, 0x20, 0x00}, 12);     // three entries need 13 bytes
    run(2, 0xAA, Bytes(20, 0), 1017);                  // beyond the block
    run(3, 0xAA, {0, 8}, 0);
    EXPECT_EQ((Vals{fpga[0]->writesTo(6).size(), erases(FLASH_ONOFF), erases(FLASH_BRIGHT), image(0, 66)}),
              (Vals{writes6, e2, e3, 0}));

    // "U" with an automatic mode erases the record: the next reload turns the
    // task off at level 16.
    m->Extension_function();
    EXPECT_EQ(m->g_change[14], 1u);
    run(3, 0x55, {2});
    m->Extension_function();
    EXPECT_EQ((Vals{m->g_change[14], m->g_change[16], m->g_change[17]}), (Vals{0, 16, 0}));
    quietSecond();
    EXPECT_EQ((Vals{erases(FLASH_BRIGHT), rec(FLASH_BRIGHT, 1)[0]}), (Vals{e3 + 1, 0xFF}));
}

TEST_F(Brightness, StoredLevelComesBackAfterARestart) {
    up();
    run(3, 0xAA, {0, 8});
    restart();
    up();
    ASSERT_TRUE(runUntil([&] { return !fpga[1]->writesTo(6).empty(); }, 1200));
    EXPECT_EQ((Vals{fpga[0]->writesTo(6).back(), fpga[1]->writesTo(6).back()}), (Vals{127, 127}));
    // The record was read into a buffer of its own: the block the PC reads
    // holds no command that a later run of register 2 would carry out again.
    EXPECT_EQ((Vals{fpga_manage::MCU_RAM_CMD[0], fpga_manage::MCU_RAM_CMD[12]}), (Vals{0, 0x01}));
}

TEST_F(Brightness, PanelWordIsWrittenAndStoredAsAFixedLevel) {
    up();
    setPanel(3);
    EXPECT_EQ(m->set_fpga_bri_val(), 1);
    EXPECT_EQ((Vals{reg6(0), reg6(1)}), (Vals{15, 15}));
    quietSecond();
    Bytes stored = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
    stored.insert(stored.end(), 48, 15);
    EXPECT_EQ(record(), stored);
    run(3, 0, {16, 50});
    setPanel(3);
    EXPECT_EQ(m->set_fpga_bri_val(), 1);
    EXPECT_EQ(reg6(0), 7);  // 7.65
    setPanel(1000);  // the word is 16 bits: never beyond full brightness
    m->set_fpga_bri_val();
    EXPECT_EQ(reg6(1), 255);

    // FPGA 1 reads back another value: 0, the flag stays, nothing stored.
    quietSecond();
    const u32 e = erases(FLASH_BRIGHT);
    board().simGpio().setLine(GpioName::kFpga1Reset, 0);
    setPanel(60);
    fpga_handover::raise_brightness();
    m->pass();
    quietSecond();
    EXPECT_EQ((Vals{fpga_handover::g_bri_set_flag.load(), erases(FLASH_BRIGHT)}), (Vals{1, e}));
    // No pass follows the stop: the record takes the value all the same,
    // for the next start to write to both.
    m->stop();
    EXPECT_EQ(record(), panelRecord(153));
}

TEST_F(Brightness, NoLinkedPortSendsNothingButStoresThePanelValue) {
    board().scenario().setCardsOnPort(0, 0);
    up();
    setPanel(40);
    EXPECT_EQ(m->set_fpga_bri_val(), 1);
    EXPECT_TRUE(fpga[0]->writesTo(6).empty());
    quietSecond();
    EXPECT_EQ(rec(FLASH_BRIGHT + 9, 1)[0], 102);
}

TEST_F(Brightness, HalfHourTableAndOwnWordsComingBack) {
    up();
    run(3, 0xAA, table());
    m->Extension_function();  // reload: the table and the task
    quietSecond();
    at(2, 23, 59);
    taskRun();
    EXPECT_EQ((Vals{m->bri_last_slot, reg6(0), reg6(1)}), (Vals{47, 16 * 16 - 1, 255}));
    at(3, 0, 10);
    taskRun();
    EXPECT_EQ((Vals{m->bri_last_slot, reg6(0)}), (Vals{0, 15}));

    // The word written from the table comes back from the c331 thread: the
    // table's record stays and so does the level.
    const Bytes stored = rec(FLASH_BRIGHT, 57);
    EXPECT_EQ(model->live_image.word(RamOffset::BRIGHTNESS), 6);  // 5.88
    fpga_handover::raise_brightness();
    m->pass();
    EXPECT_EQ((Vals{rec(FLASH_BRIGHT, 57) == stored, reg6(0)}), (Vals{1, 15}));

    run(3, 0, {0, 8});
    fpga_handover::raise_brightness();
    m->pass();
    EXPECT_EQ((Vals{reg6(0), reg6(1), rec(FLASH_BRIGHT, 57) == stored}), (Vals{127, 127, 1}));
    // A change at the panel after that is the panel's.
    setPanel(80);
    fpga_handover::raise_brightness();
    m->pass();
    quietSecond();
    EXPECT_EQ((Vals{reg6(0), rec(FLASH_BRIGHT, 7)[6]}), (Vals{204, 49}));
}

TEST_F(Brightness, SensorFoundReadFilteredAndCountedWhenSilent) {
    board().scenario().setCardsOnPort(5, 3);
    board().scenario().setSensor(5, SimSensor{true, 10, false, false});
    board().scenario().setCardsOnPort(14, 1);  // one on FPGA 1 comes later in the search
    board().scenario().setSensor(14, SimSensor{true, 1, false, false});
    up();
    runUntil([&] { return m->total_cards.load() == 6; }, 300);
    run(3, 0xAA, {2});
    m->Extension_function();  // the reload, and the task's first run
    EXPECT_EQ((Vals{m->g_change[27], m->g_change[28], m->g_change[16], reg6(0)}), (Vals{2, 0x5000, 15, 239}));
    const auto sent = fpga[0]->sentFrames().back();
    EXPECT_EQ((Vals{sent.first, sent.second.size(), sent.second[0], sent.second[1], sent.second[9], sent.second[13]}),
              (Vals{5, 19, 0x00, 0x50, 0x61, 0x02}));
    for (int i = 0; i < 4; ++i) taskRun();
    EXPECT_EQ(m->g_change[16], 11u);
    board().scenario().setSensor(5, SimSensor{true, 3, false, true});  // invalid reading: level stays
    taskRun();
    EXPECT_EQ(m->g_change[16], 11u);
    board().scenario().setSensor(5, SimSensor{true, 13, false, false});
    taskRun();
    EXPECT_EQ((Vals{m->g_change[16], reg6(0)}), (Vals{12, 191}));

    board().scenario().setSensor(5, SimSensor{true, 10, true, false});
    for (int i = 0; i < 9; ++i) taskRun();
    EXPECT_EQ((Vals{m->g_change[26], m->g_change[16]}), (Vals{9, 12}));
    taskRun();
    EXPECT_EQ((Vals{m->g_change[26], m->g_change[16], reg6(1)}), (Vals{0, 16, 255}));
}

TEST_F(Brightness, CommandBlocksFromAProtocolThreadWhileTheTaskRuns) {
    up();
    run(3, 0xAA, table());
    m->Extension_function();
    std::thread pc([&] {
        for (int i = 0; i < 20; ++i) run(3, i % 2 ? 0xAA : 0, i % 2 ? table() : Bytes{0, u8(i % 16)});
    });
    for (int i = 0; i < 20; ++i) {
        at(2, i, 0);
        taskRun();
    }
    pc.join();
    m->Extension_function();
    quietSecond();
    // The last block stored the table; its reload brought the table back.
    EXPECT_EQ((Vals{m->bri_mode, m->HalfHourValue[47], rec(FLASH_BRIGHT, 1)[0]}), (Vals{1, 16, 0xAA}));
}

TEST_F(Brightness, ADragReachesTheFpgasAtOnceAndCostsOneEraseASecondAfterItsLastChange) {
    up();
    const u32 e = erases(FLASH_BRIGHT);
    // A slider dragged for 3 s, a change every 20 ms, ending at 87: each
    // change reaches both FPGAs at once; the record waits for a second
    // without a change, counted from the last one.
    for (int i = 0; i < 150; ++i) {
        clock->advanceMs(20);
        const u16 v = i == 149 ? 87 : u16(i % 100);
        panelChange(v);
        if (v == 50) { EXPECT_EQ((Vals{reg6(0), reg6(1)}), (Vals{127, 127})); }  // 127.5
        ASSERT_EQ(erases(FLASH_BRIGHT), e) << "erased " << (i + 1) * 20 << " ms into the drag";
    }
    EXPECT_EQ((Vals{reg6(0), reg6(1)}), (Vals{221, 221}));  // 221.85
    for (int pass = 0; pass < 99; ++pass) {
        clock->advanceMs(10);
        m->thread_turn();
    }
    EXPECT_EQ(erases(FLASH_BRIGHT), e) << "erased 0.99 s after the last change";
    for (int pass = 0; pass < 300; ++pass) {
        clock->advanceMs(10);
        m->thread_turn();
    }
    EXPECT_EQ(erases(FLASH_BRIGHT), e + 1);
    EXPECT_EQ(record(), panelRecord(221));

    // What the flash already holds is not written again: the panel's value
    // again, a level changed and changed back within the second (the image
    // file's word gives that record back), the same schedule. The PC's
    // record, the same bytes as the flash holds, is a later change: stored
    // again, once per settled store, and so is an erase.
    const u32 e3 = erases(FLASH_BRIGHT);
    panelChange(87);
    quietSecond();
    panelChange(40);
    clock->advanceMs(500);
    panelChange(87);
    quietSecond();
    EXPECT_EQ(erases(FLASH_BRIGHT), e3);
    for (const Bytes& data : {Bytes{16, 200}, Bytes{16, 200}, Bytes{2}, Bytes{2}}) {
        run(3, data.size() == 1 ? 0x55 : 0xAA, data);
        quietSecond();
    }
    const Bytes entries = {1, 0x08, 0x30, 0x20, 0x00};
    run(2, 0xAA, entries);
    run(2, 0xAA, entries);
    EXPECT_EQ((Vals{erases(FLASH_BRIGHT), erases(FLASH_ONOFF), rec(FLASH_ONOFF, 9)[8]}), (Vals{e3 + 4, 1, 1}));
}

TEST_F(Brightness, AnOrderlyStopInTheQuietSecondStoresThePendingValue) {
    up();
    panelChange(64);
    clock->advanceMs(500);
    m->thread_turn();
    EXPECT_EQ(rec(FLASH_BRIGHT, 1)[0], 0xFF);
    m->stop();
    EXPECT_EQ(record(), panelRecord(163));  // 163.2
}

// Written over the protocol while the video processor is still being
// identified (it never gives its id) or initialised, with the FPGAs' start
// gate still shut, or once it runs with only FPGA 0's output released (and
// FPGA 0 brought up) or both released (and neither brought up yet); then an
// orderly stop as the program makes it: the FPGA thread, the c331 thread,
// what is left of the brightness, the image file. An FPGA never started is
// neither read nor written, nor is the flash behind FPGA 0 before it was
// brought up: the value comes back from the image file, or from the record
// where FPGA 0 ran.
TEST_F(Brightness, AStopTouchesNoFpgaNeverStartedAndTheChangeComesBackAtTheNextStart) {
    auto chip = std::dynamic_pointer_cast<SimC331>(board().spiModel(c331reg::kSpiDevice));
    ASSERT_TRUE(chip);
    chip->setChipId(0x23);
    c331_manage* c331 = c331_manage::get();
    const int fd = c331->c331_fd;
    c331->c331_fd = c331->drv->initialize();
    // Thread state, gate, FPGAs whose output is released, FPGA 0 brought up,
    // percentage and the value, b x 255 / 100 with the fraction dropped:
    // 221.85, 84.15, 178.5, 102.
    const struct {
        u8 state;
        bool gate;
        int released;
        bool up;
        u16 percent;
        u8 value;
    } rows[] = {{0, false, 2, false, 87, 221},
                {5, false, 2, false, 33, 84},
                {6, true, 1, true, 70, 178},
                {6, true, 2, false, 40, 102}};
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.state));
        g_fpga_c331_start.store(0);
        restart();
        // Out of reset, an FPGA answers and logs what reaches it.
        for (int k = 0; k < 2; ++k) {
            if (k < row.released) {
                release(k);
            } else {
                source_handover::g_output_clock_state[k].store(0);
                board().simGpio().setLine(k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset, 1);
            }
        }
        g_fpga_c331_start.store(row.gate ? 1 : 0);
        if (row.up) {
            ASSERT_TRUE(runUntil([&] { return image(0, fpgareg::RUN_MARK) == fpgareg::RUNNING; }, 3000));
        }
        const Bytes before = rec(FLASH_BRIGHT, 57);
        const int seen[2] = {fpga[0]->commandsSeen(), fpga[1]->commandsSeen()};
        const size_t flashSeen[2] = {flash[0]->commands().size(), flash[1]->commands().size()};
        c331->thread_state = row.state;
        {
            // The protocol's RAM write of the word.
            const u8 bytes[2] = {u8(row.percent), u8(row.percent >> 8)};
            QMutexLocker lock(&c331->mutex);
            ASSERT_EQ(model->ZrvRamParaDeal(bytes, 2, RamOffset::BRIGHTNESS), 0);
            c331->raise_apply(1);
        }
        if (row.state == 0) c331->thread_step();
        EXPECT_EQ(c331->thread_state.load(), row.state);
        m->stop();
        c331->stop();
        m->finish_brightness();
        model->ram_para_persist(1);
        for (int k = 0; k < 2; ++k) {
            if (!row.gate || k >= row.released) { EXPECT_EQ(fpga[k]->commandsSeen(), seen[k]) << "FPGA " << k; }
            if (!row.up) { EXPECT_EQ(flash[k]->commands().size(), flashSeen[k]) << "flash " << k; }
        }
        EXPECT_EQ(row.up ? record() : rec(FLASH_BRIGHT, 57), row.up ? panelRecord(row.value) : before);

        powerCutAndStart();
        EXPECT_TRUE(runUntil([&] { return reg6(0) == row.value && reg6(1) == row.value; }, 1500))
            << int(reg6(0)) << " " << int(reg6(1));
        EXPECT_EQ(panel(), row.percent);
        quietSecond();
        EXPECT_EQ(record(), panelRecord(row.value));
    }
    c331->c331_fd = fd;
    c331->thread_state = 0;
    c331->apply_flag = 0;
}

TEST_F(Brightness, EveryPercentageComesBackAfterStoreRestartAndReload) {
    up();
    // Value 127 stored: the panel shows 50 (49.8).
    flash[0]->preload(FLASH_BRIGHT, {0xAA, 3, 0xAA, 0, 0, 0, 2, 0, 16, 127});
    spoilWord(999);
    restartAndReload();
    EXPECT_EQ(panel(), 50);
    std::vector<int> drifted;
    for (u16 b = 0; b <= 100; ++b) {
        setPanel(b);
        ASSERT_EQ(m->set_fpga_bri_val(), 1);
        spoilWord(999);
        restartAndReload();
        // Stored truncated, 127.5 and 221.85, read back rounded.
        if (b == 50) { EXPECT_EQ(rec(FLASH_BRIGHT + 9, 1)[0], 127); }
        if (b == 87) { EXPECT_EQ(rec(FLASH_BRIGHT + 9, 1)[0], 221); }
        if (panel() != b) drifted.push_back(b);
    }
    EXPECT_EQ(drifted, std::vector<int>{});
}

TEST_F(Brightness, APanelWriteLeavesTheRunningTableActingUntilTheReload) {
    up();
    at(2, 0, 10);
    run(3, 0xAA, table());
    m->Extension_function();  // the reload and a new slot, 0: level 1
    EXPECT_EQ(reg6(0), 15);
    panelChange(50);
    EXPECT_EQ((Vals{reg6(0), m->bri_mode}), (Vals{127, 1}));
    // The slot's second write is the table's level again, not the panel's
    // value read as a level (full brightness); the word keeps the panel's
    // value until the flash holds it.
    taskRun();
    EXPECT_EQ((Vals{reg6(0), reg6(1), panel()}), (Vals{15, 15, 50}));
    at(2, 0, 40);
    taskRun();  // slot 1: level 2
    EXPECT_EQ((Vals{reg6(0), panel()}), (Vals{31, 50}));
    // The store holds the panel's value as a fixed level; from then on the
    // word follows the table (12.2), and the reload takes the record.
    quietSecond();
    EXPECT_EQ(record(), panelRecord(127));
    taskRun();
    EXPECT_EQ((Vals{reg6(0), panel()}), (Vals{31, 12}));
    restartAndReload();
    EXPECT_EQ((Vals{m->bri_mode, reg6(0), panel()}), (Vals{16, 127, 50}));
}

// A fixed level in 16 steps stored by the PC (level 4: 4 x 16 - 1 = 63,
// shown as 25 %, 24.7), then 80 % set at the panel a second after the FPGAs
// run: 80 x 255 / 100 = 204 holds through the task's five repeats and
// after a restart.
TEST_F(Brightness, AFixedLevelInSixteenStepsGivesWayToThePanelsValue) {
    up();
    run(3, 0xAA, {0, 4});
    m->Extension_function();  // the reload: the task repeats level 4
    EXPECT_EQ((Vals{reg6(0), panel(), m->bri_mode}), (Vals{63, 25, 0}));
    clock->advanceMs(1000);
    panelChange(80);
    EXPECT_EQ((Vals{reg6(0), reg6(1), panel()}), (Vals{204, 204, 80}));
    for (int i = 0; i < 6; ++i) {
        taskRun();
        EXPECT_EQ((Vals{reg6(0), reg6(1), panel()}), (Vals{204, 204, 80})) << "task run " << i + 1;
    }
    quietSecond();
    EXPECT_EQ(record(), panelRecord(204));
    restartAndReload();
    EXPECT_EQ((Vals{m->bri_mode, reg6(0), reg6(1), panel()}), (Vals{16, 204, 204, 80}));
}

// Which is newer after a power cut: the image file's word, written ~0.2 s
// after it was acknowledged, or the record, stored a quiet second later and
// only once the FPGAs run. Each word set outside the FPGA manager, and each
// record the PC stores, counts one change (1, 2, ...), which the record made
// for it carries in bytes 3-5.
TEST_F(Brightness, AfterAPowerCutTheNewerOfImageWordAndRecordComesBack) {
    up();
    panelChange(50);  // 127.5
    quietSecond();
    EXPECT_EQ((Vals{rec(FLASH_BRIGHT + 9, 1)[0], recordGen()}), (Vals{127, 1}));
    model->ram_para_persist(1);

    // 70 % acknowledged and in the image file, cut before its record.
    setPanel(70);
    model->ram_para_persist(1);
    powerCutAndStart();
    EXPECT_TRUE(runUntil([&] { return reg6(0) == 178 && reg6(1) == 178; }, 1500)) << int(reg6(0));  // 178.5
    EXPECT_EQ(panel(), 70);
    quietSecond();
    EXPECT_EQ((Vals{rec(FLASH_BRIGHT + 9, 1)[0], recordGen()}), (Vals{178, 2}));

    // The other way round: a half-hour table the PC stores after 70 % was
    // set, while its frames keep the idle work (the table's reload) back,
    // wins over the older word at the next start.
    pc_cmd_valid.store(1);
    pc_cmd_time.store(G_timeTicks);
    run(3, 0xAA, table());
    quietSecond();
    EXPECT_EQ((Vals{rec(FLASH_BRIGHT + 8, 1)[0], recordGen(), panel()}), (Vals{1, 3, 70}));
    model->ram_para_persist(1);
    at(2, 1, 10);  // slot 2: level 3, 3 x 16 - 1
    powerCutAndStart();
    EXPECT_TRUE(runUntil([&] { return reg6(0) == 47; }, 1500)) << int(reg6(0));
    EXPECT_EQ((Vals{m->bri_mode, reg6(1), panel()}), (Vals{1, 47, 18}));  // 18.4

    // An image file of an older program (zeros after the image, nothing
    // counted) leaves the record as it was: the table.
    setPanel(90);
    model->ram_para_persist(1);
    std::string file = readHostFile(hostPath(ZrvFiles::RAM_DEVICE_INFO));
    ASSERT_EQ(file.size(), 4096u);
    std::fill(file.begin() + 3330, file.end(), '\0');
    writeHostFile(hostPath(ZrvFiles::RAM_DEVICE_INFO), file);
    model->load();
    EXPECT_EQ((Vals{model->bri_word_change, model->bri_last_change}), (Vals{0, 0}));
    restart();
    up();
    EXPECT_TRUE(runUntil([&] { return reg6(0) == 47; }, 1500)) << int(reg6(0));
    EXPECT_EQ(m->bri_mode, 1);
}

TEST_F(Brightness, TheCommandBlockRunsBeforeRegisterTwoIsWritten) {
    up();
    fpga[0]->clearLog();
    run(3, 0, {16, 77});
    std::vector<int> order;
    for (const auto& w : fpga[0]->regWrites())
        if (w.reg == 2 || w.reg == 6) order.push_back(w.reg);
    EXPECT_EQ(order, (std::vector<int>{6, 2}));
    EXPECT_EQ((Vals{fpga[0]->writesTo(2).back() & 0x04, reg6(0)}), (Vals{0, 77}));
}

// Every record kept in FPGA 0's flash, stored while the flash protects
// itself (it takes each erase and program and keeps its bytes): none is
// answered done, each logs its line, and what the program goes on with is
// what the flash holds. The brightness records are stored a quiet second
// after their change, outside any answer; the run-time record's minute step
// has none.
TEST_F(Brightness, EveryRecordTheFlashDoesNotTakeIsNotDoneAndStaysAsTheFlashHoldsIt) {
    up();
    constexpr u32 kCopyA = 0x6F4000;  // the run-time record's group 0, copy A
    constexpr int kNone = -1;         // no answer
    const Bytes oldSchedule = {1, 0x07, 0x00, 0x19, 0x00}, newSchedule = {1, 0x08, 0x30, 0x20, 0x00};
    u32 settled = 0;
    PcRequests pc;
    auto minutes = [&](int n) {
        for (int i = 0; i < n; ++i) {
            clock->advanceMs(60010);
            m->clock_record.clock_record_deal();
        }
    };
    const struct {
        const char* record;
        std::function<void()> before;  // with the flash not protected
        std::function<int()> act;
        int answer;
        std::function<Vals()> state;
        Vals expected;
        const char* line;
    } rows[] = {
        {"on/off schedule stored, none held", [&] { run(2, 0x55, oldSchedule); },
         [&] { return run(2, 0xAA, newSchedule); }, 2,
         [&] { return Vals{image(0, 66), rec(FLASH_ONOFF, 1)[0]}; }, {0, 0xFF},
         "fpga: on/off schedule record not stored"},
        // The schedule in use is the one held: 07:00 on, not 08:30.
        {"on/off schedule stored over one held", [&] { run(2, 0xAA, oldSchedule); },
         [&] { return run(2, 0xAA, newSchedule); }, 2,
         [&] { return Vals{image(0, 66), m->onoff[0].on_hour, m->onoff[0].on_minute, rec(FLASH_ONOFF + 9, 1)[0]}; },
         {1, 7, 0, 0x07}, "fpga: on/off schedule record not stored"},
        {"on/off schedule erased", [&] { run(2, 0xAA, oldSchedule); }, [&] { return run(2, 0x55, newSchedule); }, 2,
         [&] { return Vals{image(0, 66), m->onoff[0].on_hour, rec(FLASH_ONOFF, 1)[0]}; }, {1, 7, 0xAA},
         "fpga: on/off schedule record not stored"},
        {"brightness record of the PC's half-hour table",
         [&] {
             run(3, 0x55, {2});
             quietSecond();
             settled = m->bri_settled;
         },
         [&] {
             run(3, 0xAA, table());
             quietSecond();
             return kNone;
         },
         kNone, [&] { return Vals{rec(FLASH_BRIGHT, 2)[1], m->bri_settled == settled}; }, {0xFF, 1},
         "fpga: brightness record not stored"},
        {"brightness record of the panel's value", [&] { settled = m->bri_settled; },
         [&] {
             panelChange(40);
             quietSecond();
             return kNone;
         },
         kNone, [&] { return Vals{rec(FLASH_BRIGHT, 2)[1], m->bri_settled == settled}; }, {0xFF, 1},
         "fpga: brightness record not stored"},
        {"run-time record's mark by the command block's clock setting", [] {},
         [&] { return run(1, 0, {0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05}); }, 2,
         [&] { return Vals{g_clock_record.marker, flash[0]->read(kCopyA + 44, 1)[0]}; }, {0xFF, 0xFF},
         "command block: clock set to 2030-1-2 3:4:5, but the run-time record not marked"},
        {"run-time record's mark by the PC's clock setting", [] {},
         [&] { return int(replyStatus(pc.call(PcCmd::SetClock, {0x45, 0x30, 0x12, 0x01, 0x05, 0x24, 0x20}))); },
         ReplyStatus::Busy, [&] { return Vals{g_clock_record.marker, flash[0]->read(kCopyA + 44, 1)[0]}; },
         {0xFF, 0xFF}, "clock set to 2024-05-01 12:30:45, but the run-time record not marked"},
        {"run-time record's first group, after 30 minutes", [] {},
         [&] {
             minutes(30);
             return kNone;
         },
         kNone, [&] { return Vals{g_clock_record.group_not_open, flash[0]->read(kCopyA, 1)[0]}; }, {1, 0xFF},
         "run-time record: flash write failed"},
    };
    const std::string log = hostPath(kLogFile);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.record);
        // Each row's line is the first of its second.
        clock->advanceMs(LineLimiter::kPeriodMs);
        row.before();
        flash[0]->setProtected(0, SimFpgaFlash::kSize);
        const size_t lines = countIn(readHostFile(log), row.line);
        {
            LogWhole whole;
            EXPECT_EQ(row.act(), row.answer);
        }
        EXPECT_EQ(row.state(), row.expected);
        EXPECT_EQ(countIn(readHostFile(log), row.line), lines + 1);
        flash[0]->setProtected(0, 0);
    }
    // Once the flash takes it, the group the step could not open opens.
    minutes(2);
    EXPECT_EQ((Vals{g_clock_record.group_not_open, flash[0]->read(kCopyA, 1)[0]}), (Vals{0, 0xAA}));
}

// ---------------------------------------------------------------- who changed it

// A user's brightness on the road the program gives it: the panel's page or
// the PC's RAM write of word 2176, the c331 pass that hands it to the FPGA
// thread, the FPGA pass that writes it, the record stored a quiet second
// later, and the image file written by the GUI's persisting step.
class BrightnessRoad : public Brightness {
protected:
    void SetUp() override {
        Brightness::SetUp();
        savedFd = c331_manage::get()->c331_fd;
        chip = std::make_unique<QuietC331Manager>();
        c331 = chip->c;
        c331->thread_state.store(6);
        // The c331 starts from the image as it stands.
        {
            QMutexLocker lock(&c331->mutex);
            c331->raise_apply(1);
        }
        c331->apply_pass();
        g_set_led_para.store(0);
        takeHandOvers();
    }
    void TearDown() override {
        chip.reset();
        c331->c331_fd = savedFd;
        Brightness::TearDown();
    }
    // The PC's RAM write of word 2176 (command 0x60: address, length, bytes).
    void pcWrite(u16 percent) { pcWrite(RamOffset::BRIGHTNESS, {u8(percent), u8(percent >> 8)}); }
    void pcWrite(u32 address, const Bytes& bytes) {
        Bytes d;
        put32(d, address);
        put32(d, u32(bytes.size()));
        d.insert(d.end(), bytes.begin(), bytes.end());
        const Bytes f = makeFrame(PcCmd::RamWrite, d);
        u8 reply[256];
        message_deal deal;
        ASSERT_GT(deal.message_group_deal(f.data(), u32(f.size()), reply, sizeof reply), 0u);
        ASSERT_EQ(reply[10], 0);
    }
    // The panel's brightness slider set to `percent` by a tap.
    void panelWrite(u16 percent) {
        ImageQuality page;
        auto* slider = page.findChild<QSlider*>(QStringLiteral("horizontalSlider_bright"));
        ASSERT_TRUE(slider);
        ASSERT_NE(slider->value(), percent);
        slider->setValue(percent);
    }
    void c331Pass() { c331->apply_pass(); }
    void fpgaPass() {
        clock->advanceMs(10);
        m->thread_turn();
    }
    // The GUI's persisting step after the change signal.
    void persist() {
        clock->advanceMs(200);
        model->ram_para_persist(1);
    }
    // What a power cut leaves: the image file as last written and the flash;
    // the hand-over and a record waiting for its quiet second are lost.
    void powerCut() {
        takeHandOvers();
        m->bri_pending = fpga_manage::PendingRecord{};
        startAgain();
    }
    // An orderly stop as the program makes it: the FPGA thread, what is left
    // of the brightness, the image file.
    void orderlyStop() {
        m->stop();
        m->finish_brightness();
        model->ram_para_persist(1);
        startAgain();
    }
    void startAgain() {
        model->load();
        restart();
        up();
        taskRun();
    }
    // A record the PC stores: the first L + 8 bytes of its block.
    static Bytes blockRecord(const Bytes& data) {
        Bytes r = {0xAA, 3, 0xAA, 0, 0, 0, u8(data.size()), 0};
        r.insert(r.end(), data.begin(), data.end());
        r.resize(57, 0xFF);
        return r;
    }

    std::unique_ptr<QuietC331Manager> chip;
    c331_manage* c331 = nullptr;
    int savedFd = -1;
};

// A brightness task run placed between each pair of steps of the hand-over
// of a user's 30 % (76.5: register 6 = 76), while a fixed level the PC
// stored (mode 16, 204, shown as 80 %) or a half-hour table (at 00:10 its
// level 1: 15, shown as 6 %) runs: the task never writes its level over the
// user's word before the FPGAs take it; the value reaches register 6 and the
// word, and after a restart the record. A fixed level then holds the value;
// a table goes on acting until the restart.
TEST_F(BrightnessRoad, ATaskRunBetweenAnyTwoStepsOfTheHandOverLeavesTheUsersValue) {
    const struct {
        const char* running;
        Bytes block;
        u8 level;     // register 6 the running mode gives
        u16 percent;  // and the word
    } modes[] = {{"fixed level", {16, 204}, 204, 80}, {"half-hour table", table(), 15, 6}};
    const char* steps[] = {"word written", "c331 pass", "FPGA pass", "record stored"};
    for (const auto& mode : modes) {
        for (const bool fromPanel : {true, false}) {
            for (int taskAfter = 0; taskAfter < 4; ++taskAfter) {
                SCOPED_TRACE(std::string(mode.running) + (fromPanel ? ", panel" : ", PC") + ", task run after " +
                             steps[taskAfter]);
                restart();
                up();
                at(2, 0, 10);
                run(3, 0xAA, mode.block);
                m->Extension_function();  // the reload
                quietSecond();
                taskRun();                // the task's level in the word
                ASSERT_EQ((Vals{reg6(0), panel()}), (Vals{mode.level, mode.percent}));
                c331Pass();
                persist();
                fpga[0]->clearLog();

                fromPanel ? panelWrite(30) : pcWrite(30);
                if (taskAfter == 0) taskRun();
                EXPECT_EQ(panel(), 30) << "after the word was written";
                c331Pass();
                if (taskAfter == 1) taskRun();
                EXPECT_EQ(panel(), 30) << "after the c331 pass";
                fpgaPass();
                EXPECT_EQ((Vals{reg6(0), reg6(1), panel()}), (Vals{76, 76, 30})) << "after the FPGA pass";
                if (taskAfter == 2) taskRun();
                persist();
                quietSecond();
                EXPECT_EQ(record(), panelRecord(76)) << "after the quiet second";
                if (taskAfter == 3) taskRun();
                if (mode.block[0] == 16) {
                    EXPECT_EQ((Vals{reg6(0), reg6(1), panel()}), (Vals{76, 76, 30}));
                }
                persist();
                orderlyStop();
                EXPECT_EQ((Vals{reg6(0), reg6(1), panel()}), (Vals{76, 76, 30})) << "after the restart";
                EXPECT_EQ(record(), panelRecord(76));
            }
        }
    }
}

// Power cuts and stops after each order of a user's word (the PC's RAM
// write) and the PC's stored or erased record: the later change comes back,
// whatever the values. A cut within the quiet second after the PC's store
// loses that store (the flash does not hold it yet): the change before it
// comes back. Values by hand: 70 % = 178.5, 50 % = 127.5, 6 % = 15.3; level 4
// in 16 steps = 63 (24.7 %), level 8 = 127 (49.8 %); the table's level at
// 00:10 is 1, 15 (5.9 %).
TEST_F(BrightnessRoad, AfterAnyStopOrPowerCutTheLaterChangeComesBack) {
    // Steps: a word written by the PC (c331 and FPGA pass follow), the PC's
    // block stored (0.3 s later), the PC's erase, the GUI's persisting step,
    // a quiet second, a task run, the next half hour, and an orderly stop
    // with a start that leaves the FPGAs down.
    struct Step {
        char kind;  // W, S, E, P, Q, T, H, R
        u16 percent = 0;
        Bytes block = {};
    };
    const Step P{'P'}, Q{'Q'}, T{'T'}, E{'E'}, R{'R'}, H{'H'};
    auto W = [](u16 percent) { return Step{'W', percent}; };
    auto S = [](const Bytes& block) { return Step{'S', 0, block}; };
    const Bytes level4 = {0, 4}, level8 = {0, 8};
    // What comes back: the record, register 6 of both FPGAs and the word;
    // after an erase no record and the task off.
    struct Later {
        Bytes record;
        int value;
        int percent;
    };
    const Later word70{panelRecord(178), 178, 70}, word50{panelRecord(127), 127, 50}, word6{panelRecord(15), 15, 6};
    const Later pc4{blockRecord(level4), 63, 25}, pc8{blockRecord(level8), 127, 50},
        pcTable{blockRecord(table()), 15, 6};
    Bytes none(57, 0xFF);
    std::fill(none.begin() + 3, none.begin() + 6, 0);  // record() blanks the change
    const Later erased{none, -1, 70};
    const struct {
        const char* order;
        std::vector<Step> steps;
        Later later;
        Later inQuietSecond;  // what a cut 0.2 s after the last step brings back
    } rows[] = {
        {"word, then the PC's level, different values", {W(70), S(level4), P}, pc4, word70},
        {"word, then the PC's level, the same value", {W(50), S(level8), P}, pc8, word50},
        {"the PC's level, then a word, different values", {S(level4), P, Q, W(70), P}, word70, word70},
        {"the PC's level, then a word, the same value", {S(level8), P, Q, W(50), P}, word50, word50},
        {"the PC's table stored again, identical, after a word",
         {S(table()), P, Q, W(70), P, S(table()), P}, pcTable, word70},
        {"a word equal to the level the table wrote into it", {S(table()), P, Q, T, P, W(6), P}, word6, word6},
        {"the table's word, 50 stored, then 6", {S(table()), P, Q, T, P, W(50), P, Q, W(6), P}, word6, word6},
        {"word, then the PC's erase", {W(70), P, Q, E, P}, erased, word70},
        {"50 stored while the table runs, the table's level in the word, 50 written again",
         {S(table()), P, Q, T, W(50), P, Q, T, P, W(50), P, Q, H, T, P}, word50, word50},
        {"the PC's level after a word, then after a restart a word before the FPGAs run",
         {W(70), P, S(level4), P, Q, R, W(50), P}, word50, word50},
    };
    enum Cut { InQuietSecond, AfterQuietSecond, Stop };
    const char* cuts[] = {"power cut in the quiet second", "power cut after it", "orderly stop"};
    for (const auto& row : rows) {
        for (const Cut cut : {InQuietSecond, AfterQuietSecond, Stop}) {
            SCOPED_TRACE(std::string(row.order) + ", " + cuts[cut]);
            // Each row from a device whose flash holds no brightness record.
            flash[0]->preload(FLASH_BRIGHT, Bytes(57, 0xFF));
            restart();
            up();
            at(2, 0, 10);
            c331Pass();
            persist();
            for (const Step& step : row.steps) {
                switch (step.kind) {
                case 'W':
                    pcWrite(step.percent);
                    c331Pass();
                    fpgaPass();
                    break;
                case 'S':
                case 'E':
                    clock->advanceMs(300);
                    step.kind == 'S' ? run(3, 0xAA, step.block) : run(3, 0x55, {2});
                    break;
                case 'P': persist(); break;
                case 'Q': quietSecond(); break;
                case 'T': taskRun(); break;
                case 'H': at(2, 0, 40); break;
                case 'R':
                    m->stop();
                    model->ram_para_persist(1);
                    model->load();
                    restart();
                    break;
                }
            }
            if (cut == AfterQuietSecond) {
                quietSecond();
                persist();
            }
            if (cut == Stop)
                orderlyStop();
            else
                powerCut();
            const Later& want = cut == InQuietSecond ? row.inQuietSecond : row.later;
            if (want.value < 0) {
                EXPECT_EQ((Vals{m->g_change[14], panel()}), (Vals{0, want.percent})) << "the task is off";
            } else {
                EXPECT_EQ((Vals{reg6(0), reg6(1), panel()}), (Vals{want.value, want.value, want.percent}));
            }
            quietSecond();
            EXPECT_EQ(record(), want.record);
        }
    }
}

// Every place a user's write of the brightness word enters counts a change,
// whatever the value: each writes the 100 % the word already holds, while a
// half-hour table runs whose level at 07:40 (16, 255) the task wrote into
// the word as its own. The c331 hands the write over, the FPGAs take it, and
// after a power cut in the quiet second the user's 100 % comes back as a
// fixed level (mode 16, 255), not the table.
TEST_F(BrightnessRoad, EveryUsersWriteOfTheWordIsAChangeWhateverItsValue) {
    auto image = [&](u32 from, u32 to) {
        QMutexLocker lock(&c331->mutex);
        return Bytes(model->live_image.data + from, model->live_image.data + to);
    };
    auto advanced = [](void (AdvancedOption::*reset)()) {
        AdvancedOption page;
        (page.*reset)();
    };
    const struct {
        const char* entry;
        std::function<void()> write;
    } rows[] = {
        {"the panel's slider, 99 then 100",
         [&] {
             ImageQuality page;
             auto* slider = page.findChild<QSlider*>(QStringLiteral("horizontalSlider_bright"));
             ASSERT_TRUE(slider);
             slider->setValue(99);
             slider->setValue(100);
         }},
        {"the panel's picture defaults",
         [&] {
             ImageQuality page;
             auto* reset = page.findChild<QPushButton*>(QStringLiteral("Button_reset"));
             ASSERT_TRUE(reset);
             reset->click();
         }},
        {"the PC's RAM write of the word", [&] { pcWrite(100); }},
        {"the PC's RAM write of the word's high byte", [&] { pcWrite(RamOffset::BRIGHTNESS + 1, {0}); }},
        {"the PC's RAM write of the word's low byte", [&] { pcWrite(RamOffset::BRIGHTNESS, {100}); }},
        {"the PC's RAM write of a block across the word", [&] { pcWrite(2160, image(2160, 2200)); }},
        {"the PC's RAM write of the whole stored image", [&] { pcWrite(768, image(768, 4096)); }},
        {"a user mode recalled at the panel", [&] { MainWindow::recallUserMode(3); }},
        {"a user mode recalled by the PC",
         [&] {
             pcWrite(RamOffset::LOADED_MODE, {3, 0});
             message_deal::REG_mcu_flag(0x02, 0x02);
         }},
        {"factory reset 1", [&] { advanced(&AdvancedOption::on_Button_reset1_clicked); }},
        {"factory reset 2", [&] { advanced(&AdvancedOption::on_Button_reset2_clicked); }},
        {"the parameter model's reset", [&] { model->ram_para_reset(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entry);
        flash[0]->preload(FLASH_BRIGHT, Bytes(57, 0xFF));
        restart();
        up();
        at(2, 7, 40);
        run(3, 0xAA, table());
        m->Extension_function();  // the reload and the task: 255, 100 %
        quietSecond();
        // Mode 3 holds the image as it stands.
        {
            QMutexLocker lock(&c331->mutex);
            model->user_mode[2].marker[0] = model->user_mode[2].marker[1] = USER_MODE_SAVED;
            std::memcpy(model->user_mode[2].snapshot, model->live_image.data + RamOffset::MODE_BEGIN,
                        RamOffset::MODE_LEN);
        }
        c331Pass();
        persist();
        ASSERT_EQ((Vals{reg6(0), panel(), record() == blockRecord(table())}), (Vals{255, 100, 1}));

        row.write();
        c331Pass();
        fpgaPass();
        persist();
        EXPECT_EQ(panel(), 100);
        powerCut();
        EXPECT_EQ((Vals{reg6(0), reg6(1), panel(), m->bri_mode}), (Vals{255, 255, 100, 16}));
        quietSecond();
        EXPECT_EQ(record(), panelRecord(255));
    }
}

}  // namespace

// The command block's schedule and brightness kinds, the brightness write,
// the task with its half-hour table and light sensor, and the on/off
// schedule, on the simulated FPGAs in virtual time.
#include "fpga_env.h"

#include <ctime>
#include <thread>

namespace {

using Bytes = std::vector<u8>;
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
    // `len` (the data's size when 0).
    void run(u8 kind, u8 store, const Bytes& data, int len = -1) {
        if (len < 0) len = int(data.size());
        Bytes b = {0xAA, kind, store, 0, 0, 0, u8(len), u8(len >> 8)};
        b.insert(b.end(), data.begin(), data.end());
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            std::memcpy(fpga_manage::MCU_RAM_CMD, b.data(), b.size());
        }
        m->write_to_register(2, 0x04, 0x04, 0);
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        std::memset(fpga_manage::MCU_RAM_CMD, 0, 16);
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
    Bytes rec(u32 address, u32 len) { return flash[0]->read(address, len); }
    u32 erases(u32 address) { return flash[0]->eraseCount(address / 0x1000); }
    u8 reg6(int k) { return fpga[k]->reg(6); }
    void setPanel(u16 v) {
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
    EXPECT_EQ(rec(FLASH_BRIGHT, 11), (Bytes{0xAA, 3, 0xAA, 0, 0, 0, 2, 0, 0, 8, 0xFF}));
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
    EXPECT_EQ((Vals{erases(FLASH_BRIGHT), rec(FLASH_BRIGHT, 1)[0]}), (Vals{e3 + 1, 0xFF}));
    m->Extension_function();
    EXPECT_EQ((Vals{m->g_change[14], m->g_change[16], m->g_change[17]}), (Vals{0, 16, 0}));
}

TEST_F(Brightness, StoredLevelComesBackAfterARestart) {
    up();
    run(3, 0xAA, {0, 8});
    m.reset();
    fpga_manage::p_fpga_manage = nullptr;
    for (int k = 0; k < 2; ++k) fpga[k]->clearLog();
    m = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = m.get();
    ASSERT_EQ(m->initialize(false), 0);
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
    Bytes stored = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
    stored.insert(stored.end(), 48, 15);
    EXPECT_EQ(rec(FLASH_BRIGHT, 57), stored);
    run(3, 0, {16, 50});
    setPanel(3);
    EXPECT_EQ(m->set_fpga_bri_val(), 1);
    EXPECT_EQ(reg6(0), 7);
    setPanel(1000);  // the word is 16 bits: never beyond full brightness
    m->set_fpga_bri_val();
    EXPECT_EQ(reg6(1), 255);

    // FPGA 1 reads back another value: 0, the flag stays, nothing stored.
    const u32 e = erases(FLASH_BRIGHT);
    board().simGpio().setLine(GpioName::kFpga1Reset, 0);
    setPanel(60);
    fpga_handover::raise_brightness();
    m->pass();
    EXPECT_EQ((Vals{fpga_handover::g_bri_set_flag.load(), erases(FLASH_BRIGHT)}), (Vals{1, e}));
}

TEST_F(Brightness, NoLinkedPortSendsNothingButStoresThePanelValue) {
    board().scenario().setCardsOnPort(0, 0);
    up();
    setPanel(40);
    EXPECT_EQ(m->set_fpga_bri_val(), 1);
    EXPECT_TRUE(fpga[0]->writesTo(6).empty());
    EXPECT_EQ(rec(FLASH_BRIGHT + 9, 1)[0], 102);
}

TEST_F(Brightness, HalfHourTableAndOwnWordsComingBack) {
    up();
    run(3, 0xAA, table());
    m->Extension_function();  // reload: the table and the task
    at(2, 23, 59);
    taskRun();
    EXPECT_EQ((Vals{m->bri_last_slot, reg6(0), reg6(1)}), (Vals{47, 16 * 16 - 1, 255}));
    at(3, 0, 10);
    taskRun();
    EXPECT_EQ((Vals{m->bri_last_slot, reg6(0)}), (Vals{0, 15}));

    // The word written from the table comes back from the c331 thread: the
    // table's record stays and so does the level.
    const Bytes record = rec(FLASH_BRIGHT, 57);
    EXPECT_EQ(model->live_image.word(RamOffset::BRIGHTNESS), 15 * 100 / 255);
    fpga_handover::raise_brightness();
    m->pass();
    EXPECT_EQ((Vals{rec(FLASH_BRIGHT, 57) == record, reg6(0)}), (Vals{1, 15}));

    run(3, 0, {0, 8});
    fpga_handover::raise_brightness();
    m->pass();
    EXPECT_EQ((Vals{reg6(0), reg6(1), rec(FLASH_BRIGHT, 57) == record}), (Vals{127, 127, 1}));
    // A change at the panel after that is the panel's.
    setPanel(80);
    fpga_handover::raise_brightness();
    m->pass();
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
    // The last block stored the table; its reload brought the table back.
    EXPECT_EQ((Vals{m->bri_mode, m->HalfHourValue[47], rec(FLASH_BRIGHT, 1)[0]}), (Vals{1, 16, 0xAA}));
}

}  // namespace

// Port geometry, screen control, the LED-parameter sequence, link state and
// lane supervision on two running FPGAs.
#include "fpga_env.h"

#include "core/logMsg.h"
#include "ui/shell/fpga_panel.h"

#include <atomic>
#include <thread>

namespace {
class FpgaRunning : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        board().scenario().loadJson(R"({"ports": {"5": 6, "12": 4}})");
        ASSERT_TRUE(bringUpBoth());
        signals_.clear();
        for (auto& f : fpga) f->clearLog();
    }
    std::vector<u16> geometryWords(int k) {
        std::vector<u16> w;
        for (int n = 0; n < 12; ++n)
            for (int i = 0; i < 8; i += 2) w.push_back(area(k, kPortAt[n] + i));
        for (int off : {56, 58, 60, 62}) w.push_back(area(k, off));
        return w;
    }
};
}  // namespace

TEST_F(FpgaRunning, OutputOffsetMovesFpgaZerosPortsAndWindow) {
    // Port 2 somewhere else, so x and y sums are seen per port.
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        fpga_manage::MCU_RAM_PARA_func[0][32] = 0x40;
        fpga_manage::MCU_RAM_PARA_func[0][34] = 0x20;
    }
    m->K57_back_mcu_set_net_para(0);
    const auto before0 = geometryWords(0), before1 = geometryWords(1);

    setOffset(0, 0);
    fpga_handover::raise_output_layout();
    tick();
    EXPECT_EQ(geometryWords(0), before0);
    EXPECT_FALSE(fpga_handover::take_output_layout());

    setOffset(100, 50);
    for (auto& f : fpga) f->clearLog();
    fpga_handover::raise_output_layout();
    tick();
    auto want = before0;
    for (int n = 0; n < 12; ++n) {
        want[size_t(4 * n)] += 100;
        want[size_t(4 * n + 1)] += 50;
    }
    want[48 + 2] += 100;
    want[48 + 3] += 50;
    EXPECT_EQ(geometryWords(0), want);
    EXPECT_EQ(geometryWords(1), before1);
    EXPECT_EQ((Vals{ramWord(0, 32), ramWord(0, 34), ramWord(0, 60)}), (Vals{0x40 + 100, 0x20 + 50, 1280 + 100}));
    const auto ram0 = fpga[0]->ramWrites();
    ASSERT_EQ(ram0.size(), 1u);
    EXPECT_EQ((Vals{ram0[0].page, ram0[0].address, ram0[0].bytes.size()}), (Vals{1, 0, 1024}));
    EXPECT_TRUE(fpga[1]->ramWrites().empty());
    EXPECT_EQ(fpga[0]->writesTo(2).size(), 1u);
    EXPECT_TRUE(fpga[1]->writesTo(2).empty());
}

TEST_F(FpgaRunning, LinkStateFollowsThePortsAndClearsDroppedCounts) {
    EXPECT_EQ(m->get_wlan_state(), (1u << 5) | (1u << 12));
    u32 mask = 0;
    ASSERT_TRUE(FpgaPanel::portLinks(&mask));
    EXPECT_EQ(mask, (1u << 5) | (1u << 12));
    QString text;
    ASSERT_TRUE(FpgaPanel::version(1, &text));
    EXPECT_EQ(text, "24-10-20 F1");

    // Port 6 of FPGA 0 (index 5) loses its link: count and status cleared
    // in the mirror and in the FPGA.
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        fpga_manage::MCU_RAM_PARA_func[0][564] = 6;
        fpga_manage::MCU_RAM_PARA_func[0][566] = 1;
    }
    fpga[0]->setRam(1, 564, {6, 0, 1});
    m->update_eth_state(0);
    EXPECT_EQ((Vals{area(0, 564), fpga_manage::MCU_RAM_PARA_func[0][566], fpga_manage::MCU_RAM_PARA_func[0][512]}),
              (Vals{6, 1, 0x02}));
    board().scenario().setCardsOnPort(5, 0);
    m->update_eth_state(0);
    EXPECT_EQ((Vals{area(0, 564), fpga_manage::MCU_RAM_PARA_func[0][566], ramWord(0, 564),
                    fpga[0]->ram(1, 566, 1)[0], fpga_manage::MCU_RAM_PARA_func[0][512]}),
              (Vals{0, 0, 0, 0, 0}));

    // Online check: a change of FPGA 1's link word alone, one signal 11.
    m->check_wlanonline_state();
    signals_.clear();
    board().scenario().setCardsOnPort(13, 2);
    m->check_wlanonline_state();
    m->check_wlanonline_state();
    EXPECT_EQ(signals_, std::vector<int>{11});

    // FPGA 1 not running: its ports count for nothing.
    m->write_to_register(80, 0xFF, 0, 1);
    EXPECT_LT(m->get_wlan_state(), 4096u);

    // The panel asks from the GUI thread while the FPGA thread sets the run
    // mark (the thread checker sees any unguarded read of it).
    std::atomic<bool> asked{false};
    std::thread fpgaThread([&] {
        for (int i = 0; !asked.load(); ++i) m->write_to_register(80, 0xFF, i % 2 ? 3 : 0, 1);
    });
    for (int i = 0; i < 100; ++i) FpgaPanel::portLinks(&mask);
    asked.store(true);
    fpgaThread.join();
}


TEST_F(FpgaRunning, LedParameterSequenceBlacksOutSwitchesOffAndRestarts) {
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_para.store(1);
        g_set_led_setup.store(0);
    }
    tick();
    EXPECT_EQ((Vals{g_set_led_setup.load(), fpga[0]->reg(0) & 4, fpga[1]->reg(0) & 4}), (Vals{1, 4, 4}));
    EXPECT_EQ(model->live_image.byte(RamOffset::BLACKOUT), 0);  // a sequence, not the operator's blackout
    tick(10);
    EXPECT_EQ((Vals{g_set_led_setup.load(), fpga[0]->reg(3) & 0x20}), (Vals{1, 0x20}));
    tick(1);
    EXPECT_EQ((Vals{g_set_led_setup.load(), fpga[0]->reg(3) & 0x20, fpga[1]->reg(3) & 0x20}), (Vals{2, 0, 0}));
    tick(30);
    EXPECT_EQ(g_set_led_para.load(), 1);
    tick(1);
    EXPECT_EQ((Vals{g_set_led_para.load(), g_set_led_setup.load()}), (Vals{0, 0}));

    // The c331 reprogrammed the panel: both FPGAs restart.
    g_set_led_para.store(2);
    tick();
    EXPECT_EQ((Vals{g_set_led_para.load(), fpga[0]->inReset(), fpga[1]->inReset()}), (Vals{0, 1, 1}));
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find("LED outputs re-initialised"), std::string::npos);
    EXPECT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 3000));

    // FPGA 1 not running: the request waits.
    m->write_to_register(80, 0xFF, 0, 1);
    g_set_led_para.store(1);
    tick(50);
    EXPECT_EQ((Vals{g_set_led_para.load(), g_set_led_setup.load()}), (Vals{1, 0}));
}

TEST_F(FpgaRunning, LaneFaultRestartsTheVbyOneSteps) {
    // Called directly: the passes would run it too.
    clock->advanceMs(100);
    EXPECT_EQ(m->check_vbo_status(0), 0);
    fpga[0]->setLaneDrop(0x08);
    clock->advanceMs(100);
    EXPECT_EQ(m->check_vbo_status(0), 1);
    EXPECT_EQ(fpga[0]->reg(3) & 0xC0, 0);
    EXPECT_EQ(m->check_vbo_status(0), 1);  // within 9 ticks: nothing
    clock->advanceMs(100);
    m->check_vbo_status(0);
    EXPECT_EQ(fpga[0]->reg(3) & 0xC0, 0x40);
    clock->advanceMs(100);
    EXPECT_EQ(m->check_vbo_status(0), 0);
    EXPECT_EQ(fpga[0]->reg(3) & 0xC0, 0xC0);
}

TEST_F(FpgaRunning, PanelReadsPortRegionsAndRaisesTheLedRequestOnlyWhileBothRun) {
    // FPGA 1's local port 0 and FPGA 0's local ports 11 and 0, written as
    // the FPGA thread writes its mirror.
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        u8* a1 = fpga_manage::MCU_RAM_PARA_func[1];
        const u8 entry0[8] = {0x34, 0x12, 0x20, 0x00, 0x80, 0x02, 0x68, 0x01};
        std::copy(entry0, entry0 + 8, a1 + kPortAt[0]);
        u8* a0 = fpga_manage::MCU_RAM_PARA_func[0];
        const u8 entry11[8] = {0x00, 0x05, 0x10, 0x00, 0x40, 0x01, 0xB4, 0x00};
        std::copy(entry11, entry11 + 8, a0 + kPortAt[11]);
        const u8 first[8] = {0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x40, 0x00};
        std::copy(first, first + 8, a0 + kPortAt[0]);
    }
    auto region = [](int port) {
        FpgaPanel::PortRegion r;
        EXPECT_TRUE(FpgaPanel::portRegion(port, &r));
        return Vals{r.x, r.y, r.w, r.h};
    };
    EXPECT_EQ(region(12), (Vals{0x1234, 0x20, 640, 360}));
    EXPECT_EQ(region(11), (Vals{1280, 16, 320, 180}));
    // Any other number reads FPGA 0's port 0.
    for (int port : {0, 24, -1}) EXPECT_EQ(region(port), (Vals{16, 32, 48, 64})) << port;

    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        EXPECT_TRUE(FpgaPanel::requestLedReinit());
    }
    EXPECT_EQ((Vals{g_set_led_para.load(), g_set_led_setup.load()}), (Vals{1, 0}));
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_para.store(0);
    }
    m->write_to_register(80, 0xFF, 0, 0);
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        EXPECT_FALSE(FpgaPanel::requestLedReinit());
    }
    EXPECT_EQ(g_set_led_para.load(), 0);

    // Without the manager: nothing read, nothing raised.
    m.reset();
    FpgaPanel::PortRegion r{1, 2, 3, 4};
    EXPECT_FALSE(FpgaPanel::portRegion(12, &r));
    EXPECT_EQ((Vals{r.x, r.y, r.w, r.h}), (Vals{1, 2, 3, 4}));
    EXPECT_FALSE(FpgaPanel::requestLedReinit());
    EXPECT_EQ(g_set_led_para.load(), 0);
}

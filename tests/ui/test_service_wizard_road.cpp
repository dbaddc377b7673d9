// The wizard's whole road on the simulated board in virtual time: the page
// posts, the FPGA manager (turned by the test, pass by pass, as its thread
// would) works the simulated card chains, and its progress drives the
// page's overlay to its end.
#include "wizard_fixture.h"

#include "fpga/card_package.h"
#include "ui/shell/tip.h"
#include "video_engine/c331_manage.h"

#include <functional>
#include <sstream>
#include <vector>

namespace {

using Vals = std::vector<long>;

class WizardRoadTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        pc_cmd_valid.store(0);
        g_set_led_para.store(0);
        g_fpga_c331_start.store(0);
        SmartMapping::record() = LINE_TYPE_PARA{};
    }
    // The FPGAs up with cards per port, and the cards counted by the search.
    void bringUp(const std::string& ports, u16 cards) {
        board().scenario().loadJson("{\"ports\": " + ports + "}");
        startManager();
        for (int k = 0; k < 2; ++k) {
            board().simGpio().setLine(k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset, 1);
            source_handover::g_output_clock_state[k].store(2);
        }
        g_fpga_c331_start.store(1);
        ASSERT_TRUE(runUntil([this] { return manager->get_fpga_status(); }, 3000));
        ASSERT_TRUE(runUntil([this, cards] { return manager->total_cards == cards; }, 600));
        g_send_para.finish();
    }
    void tick() {
        clock->advanceMs(10);
        manager->thread_turn();
        c331_manage::get()->apply_flag.store(0);
    }
    bool runUntil(const std::function<bool()>& done, int maxTicks) {
        for (int i = 0; i < maxTicks && !done(); ++i) tick();
        return done();
    }
    // The job posted by the page has run to its end and closed the overlay.
    bool jobRan(int maxTicks) {
        return runUntil([] { return g_send_para.idle() && g_qround_bar.isNull(); }, maxTicks);
    }
    static u32 ram32(const SimFpga::Card& c, u32 at) {
        u32 v = 0;
        for (int i = 0; i < 4; ++i) {
            auto it = c.ram.find(at + i);
            v |= u32(it == c.ram.end() ? 0 : it->second) << (8 * i);
        }
        return v;
    }
    void follow(SmartMapping* w) {
        QObject::connect(w, &SmartMapping::sig_qround_bar_update, [this](int v) { progress.push_back(v); });
    }
    std::vector<int> progress;
};

TEST_F(WizardRoadTest, QuickSetUpPlacesTheCardsOfLed1AndFailsVisiblyOnLed5WithoutCards) {
    bringUp(R"({"0": 4})", 4);
    SmartMapping* w = openWizard();
    follow(w);
    click(w, "Button_next");  // 128 x 96 as the page opens
    click(w, "Button_next_2");  // LED1 as the page opens
    enter(w, "lineEdit_line", "2");
    enter(w, "lineEdit_column", "2");
    click(w, "Button_route");
    click(w, "Button_route4");
    click(w, "Button_send");
    ASSERT_TRUE(g_qround_bar);
    ASSERT_TRUE(jobRan(4 * 1200 + 600));
    // Row by row from the top left, every second row back: chain order.
    const u32 expected[4][2] = {{0, 0}, {128, 0}, {128, 96}, {0, 96}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ram32(fpga[0]->card(0, i), 0x180), expected[i][0] | expected[i][1] << 16) << "card " << i;
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << "no heartbeat expected with answering cards";
    QApplication::processEvents();
    EXPECT_EQ(g_tip->kind(), TIP::None);

    // LED5 has no cards: nothing is placed, and the end says so.
    click(w, "Button_front_3");
    tile(w, 4)->click();
    click(w, "Button_next_2");
    click(w, "Button_send");
    ASSERT_TRUE(g_qround_bar);
    ASSERT_TRUE(jobRan(600));
    QApplication::processEvents();
    EXPECT_EQ(g_tip->kind(), TIP::Failed);
    EXPECT_EQ(g_tip->text(), "Sending failed!");
    EXPECT_TRUE(logHas("quick set-up of port LED5: no cards on it"));

    // The back button works again once the job has ended.
    click(w, "Button_back");
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);
}

TEST_F(WizardRoadTest, ParameterSaveAndMappingReachEveryCard) {
    bringUp(R"({"0": 4, "14": 2})", 6);
    SmartMapping* w = openWizard();
    follow(w);
    click(w, "Button_paraweld");
    click(w, "Button_confirm");
    ASSERT_TRUE(jobRan(2 * (100 * 4 + 1200) + 600));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fpga[0]->card(0, i).saves, 1) << i;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(fpga[1]->card(2, i).saves, 1) << i;
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ((Vals{progress[progress.size() - 2], progress.back()}), (Vals{95, 100}));

    progress.clear();
    click(w, "Button_mapping");
    board().clearEventLog();
    board().enableEventLog(true);
    click(w, "Button_mapping_state");
    board().enableEventLog(false);
    // Read on both, then switched on FPGA 0 before FPGA 1.
    std::vector<std::string> reg0;
    for (const std::string& e : board().eventLog()) {
        std::istringstream in(e);
        std::string spi, fpga, op, rest;
        int reg = -1;
        if (!(in >> spi >> fpga >> op >> reg) || spi != "spi" || reg != 0) continue;
        in >> rest;
        reg0.push_back(fpga + " " + op + (rest.empty() ? "" : " " + rest));
    }
    std::vector<std::string> writes;
    for (const std::string& r : reg0)
        if (r.find(" W ") != std::string::npos) writes.push_back(r);
    ASSERT_GE(reg0.size(), 2u);
    EXPECT_EQ((std::vector<std::string>{reg0[0], reg0[1]}), (std::vector<std::string>{"fpga0 R", "fpga1 R"}));
    EXPECT_EQ(writes, (std::vector<std::string>{"fpga0 W 0x80/0x80", "fpga1 W 0x80/0x80"}));
    ASSERT_TRUE(jobRan(2 * 1200 + 600));
    EXPECT_EQ((Vals{fpga[0]->reg(0) & 0x80, fpga[1]->reg(0) & 0x80}), (Vals{0x80, 0x80}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fpga[0]->card(0, i).regs[0x0F03], 9) << i;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(fpga[1]->card(2, i).regs[0x0F03], 9) << i;
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(FpgaPanel::mappingOn());

    // And off again.
    click(w, "Button_mapping_state");
    ASSERT_TRUE(jobRan(2 * 1200 + 600));
    EXPECT_EQ((Vals{fpga[0]->reg(0) & 0x80, fpga[1]->reg(0) & 0x80, fpga[0]->card(0, 3).regs[0x0F03]}), (Vals{0, 0, 0}));
}

TEST_F(WizardRoadTest, AScanFileThatCannotBeReadEndsWithAFailureTip) {
    bringUp(R"({"1": 2})", 2);
    const pkg::Bytes good = pkg::scanFile({pkg::ramWrite(0x2000, {1, 2, 3, 4})});
    writeHostFile(hostPath("/data/smartmapping/a.qdfile"), std::string(good.begin(), good.end()));
    SmartMapping* w = openWizard();
    auto load = [&] {
        g_tip->tip_create(TIP::RemoveOnly);
        click(w, "Button_loadscan");  // LED1, which has no cards
        click(w, "Button_next_5");
        ASSERT_EQ(FpgaPanel::scanFile(), "/data/smartmapping/a.qdfile");
        click(w, "Button_load");
        ASSERT_TRUE(g_qround_bar);
        ASSERT_TRUE(jobRan(600));
        QApplication::processEvents();
    };
    // Nothing to load on a port without cards: no message, as ever.
    load();
    EXPECT_EQ(g_tip->kind(), TIP::None);

    // Cut inside its operation count.
    writeHostFile(hostPath("/data/smartmapping/a.qdfile"), std::string(17, '\0'));
    load();
    EXPECT_EQ(g_tip->kind(), TIP::Failed);
    EXPECT_EQ(g_tip->text(), "Loading the scan file failed!");
}

}  // namespace

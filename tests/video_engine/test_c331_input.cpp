// Input ports: numbering, take-over of the receiver records, measurement of
// the simulated chip's ports from the board scenario, signal loss and
// return, interlaced and Vby-One states.
#include "test_c331_pipe_env.h"

namespace {

class C331InputTest : public C331PipeEnv {
protected:
    // Window 0 on the given input, full panel.
    void showInput(int input) {
        grid(5, 1920, 1080, 2, 1);
        window(0, u16(input), 0, 0, 1920, 1080);
        layout();
    }
};

TEST_F(C331InputTest, PortNumbering) {
    // Port -1 to 6 to input, and input -1 to 6 back to port.
    Vals dev, port;
    for (int p = -1; p <= 6; ++p) {
        dev.push_back(c331_chip::zrvApi_GetPortDevId(p));
        port.push_back(c331_chip::zrvApi_inputCvtC331(p));
    }
    EXPECT_EQ(dev, (Vals{3, 3, 2, 1, 0, 5, 4, 3}));
    EXPECT_EQ(port, (Vals{255, 3, 2, 1, 0, 5, 4, 255}));

    int ports[6];
    m->PM_WIN_DBD_MODE[0] = 50;
    EXPECT_EQ((Vals{chip->zrvApi_GetWinDbdMultiPort(0, ports), ports[0], ports[1], ports[2]}), (Vals{1, 5, 4, 6}));
    m->PM_WIN_DBD_MODE[0] = 25;
    EXPECT_EQ((Vals{chip->zrvApi_GetWinDbdMultiPort(0, ports), ports[0], chip->zrvApi_GetWinDbdMultiPort(7, ports)}),
              (Vals{0, 6, 0}));
}

TEST_F(C331InputTest, ASourceIsMeasuredAndItsWindowMarked) {
    showInput(2);
    plug(2, 1920, 1080, 60);
    for (int w = 0; w < 6; ++w) m->g_chg_input[w] = 0;
    chip->load_hdmi();
    EXPECT_EQ((Vals{m->g_chg_input[0], m->PI_HDMI_INFO[1].Htotal}), (Vals{1, 2200}));
    chip->check_input_port(m->c331_fd);
    const auto& info = m->PI_PORT_INFO[1];
    EXPECT_EQ((Vals{m->PI_UPDATE[1], m->PI_STATE[1], info[c331_state::PI_HTT], info[c331_state::PI_VCNT],
                    info[c331_state::PI_NOSIG]}),
              (Vals{1, 4, 2200, 1125, 0}));
    EXPECT_NEAR(m->PI_FV[1], 60.0, 0.001);
    EXPECT_EQ((Vals{m->PI_ACT[1][0], m->PI_ACT[1][1], m->PI_ACT[1][2], m->PI_ACT[1][3]}), (Vals{192, 1920, 41, 1080}));

    // Unchanged timing and no change pending: nothing to do.
    m->g_chg_input[0] = 0;
    chip->load_hdmi();
    chip->check_input_port(m->c331_fd);
    EXPECT_EQ((Vals{m->g_chg_input[0], m->PI_UPDATE[1]}), (Vals{0, 0}));

    // A record that is not stable is not taken over.
    unstable[2] = true;
    plug(2, 1280, 720, 60);
    chip->load_hdmi();
    EXPECT_EQ(m->PI_HDMI_INFO[1].Htotal, 2200);
}

TEST_F(C331InputTest, UnpluggingShowsTheBackgroundAndReplugRestores) {
    showInput(2);
    plug(2, 1920, 1080, 60);
    poll();
    ASSERT_EQ(m->PI_STATE[1], 4);
    sim->clearLog();

    board().scenario().unplug(2);
    chip->load_hdmi();
    chip->check_input_port(m->c331_fd);
    EXPECT_EQ((Vals{m->PI_PORT_INFO[1][c331_state::PI_NOSIG], m->PI_STATE[1], m->PI_UPDATE[1], m->PI_ACT[1][0],
                    m->PI_ACT[1][1]}),
              (Vals{1, 0, 1, 16, 0}));
    // Background on the window's layer, data mode bit of port 1 cleared.
    EXPECT_FALSE(sim->writesTo(0x08, 0x48).empty());
    EXPECT_EQ((Vals{sim->reg(0x08, 0x48), reg16(0x00, 0x18) & 0x10}), (Vals{1, 0}));

    // Still unplugged: nothing more.
    m->PI_UPDATE[1] = 0;
    chip->check_input_port(m->c331_fd);
    EXPECT_EQ(m->PI_UPDATE[1], 0);

    plug(2, 1280, 720, 60);
    poll();
    EXPECT_EQ((Vals{m->PI_STATE[1], m->PI_ACT[1][1], m->PI_ACT[1][3], m->IWIN[0].HW}), (Vals{4, 1280, 720, 1280}));
}

TEST_F(C331InputTest, InterlacedStates) {
    struct Case {
        uint32_t w, h, hz;
        int state;
    } cases[] = {{1920, 1080, 60, 5}, {1920, 1080, 50, 6}, {720, 480, 60, 7}, {720, 576, 50, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.h << "i" << c.hz);
        showInput(2);
        plug(2, c.w, c.h, c.hz, true);
        chip->load_hdmi();
        chip->check_input_port(m->c331_fd);
        EXPECT_EQ((Vals{m->PI_STATE[1], m->PI_SCAN_MODE[1], m->PI_PORT_INFO[1][c331_state::PI_IP]}),
                  (Vals{c.state, 1, 1}));
    }
    // A progressive source on the same port is no longer interlaced.
    showInput(2);
    plug(2, 1920, 1080, 60, false);
    chip->load_hdmi();
    chip->check_input_port(m->c331_fd);
    EXPECT_EQ((Vals{m->PI_STATE[1], m->PI_SCAN_MODE[1]}), (Vals{4, 0}));
}

TEST_F(C331InputTest, VbyOneStatesByLanesAndWidth) {
    struct Case {
        uint32_t w, h;
        int lanes, state;
    } cases[] = {{1920, 1080, 2, 4}, {1920, 1080, 4, 1}, {3840, 2160, 8, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " " << c.lanes << " lanes");
        showInput(5);  // HDMI4: port 4, receiver channel 0
        lanes[5] = c.lanes;
        plug(5, c.w, c.h, 60);
        chip->load_hdmi();
        chip->check_input_port(m->c331_fd);
        EXPECT_EQ((Vals{m->PI_STATE[4], m->PI_ACT_FULL[4][1], m->PI_ACT[4][1]}),
                  (Vals{c.state, c.w, c.state < 4 ? c.w / 2 : c.w}));
    }
    // The receiver was restarted with the lane mask of eight lanes and the
    // lane word of more than four.
    const auto restarts = sim->writesTo(0x02, 0x4F);
    ASSERT_FALSE(restarts.empty());
    EXPECT_EQ((Vals{restarts.back(), reg16(0x00, 0x1E)}), (Vals{0xFF, 0x404}));

    // No signal on a Vby-One port: the receiver is restarted every pass.
    board().scenario().unplug(5);
    const size_t before = sim->writesTo(0x02, 0x40).size();
    chip->check_input_port(m->c331_fd);
    chip->check_input_port(m->c331_fd);
    EXPECT_EQ((Vals{long(sim->writesTo(0x02, 0x40).size() - before), m->PI_STATE[4]}), (Vals{2, 0}));
}

TEST_F(C331InputTest, SimulatedMeasurementFollowsTheScenario) {
    SimScenarioData sc{};
    u8 v = 0;
    // Nothing plugged: counters saturated, no lock.
    ASSERT_TRUE(simC331InputRegister(sc, 0xAE, 0x0A, v));
    EXPECT_EQ(v, 0xFF);
    ASSERT_TRUE(simC331InputRegister(sc, 0xB2, 0x64, v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(simC331InputRegister(sc, 0xAE, 0x14, v));
    EXPECT_FALSE(simC331InputRegister(sc, 0x08, 0x0A, v));

    sc.inputs[4].present = true, sc.inputs[4].width = 3840, sc.inputs[4].height = 2160, sc.inputs[4].refreshHz = 60;
    ASSERT_TRUE(simC331InputRegister(sc, 0xB2, 0x64, v));
    EXPECT_EQ(v, 0x80);  // HDMI3 is Vby-One channel 1
    // Frame period of channel 1, lane pair 2: whole 200 MHz periods - 1.
    auto period = [&] {
        u32 p = 0;
        for (int i = 0; i < 3; ++i) p |= simC331InputRegister(sc, 0xAE, u8(0x68 + 6 + i), v) ? u32(v) << (8 * i) : 0;
        return p;
    };
    EXPECT_EQ(period(), 3333332u);
    // 144 Hz: 1388888.9 counts 1388888.
    sc.inputs[4].width = 1920, sc.inputs[4].height = 1080, sc.inputs[4].refreshHz = 144;
    EXPECT_EQ(period(), 1388887u);
}

}  // namespace

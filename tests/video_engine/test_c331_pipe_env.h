#pragma once
// A c331 chip-operations object on the simulated board, with its own
// parameter image and receiver records made from the board scenario (as the
// receiver drivers would publish them).
#include "core/zrvrampara.h"
#include "sim/sim_c331.h"
#include "sim/sim_c331_inputs.h"
#include "support/test_env.h"
#include "video_engine/c331_chip.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_timing.h"
#include "core/logMsg.h"
#include "support/quiet_c331_ops.h"
#include "test_c331_sim.h"

#include <QMutexLocker>

#include <array>
#include <cstring>
#include <memory>

// Counts the reprogramming passes.
class CountingChip : public c331_chip {
public:
    using c331_chip::c331_chip;
    void set_output(int fd) override {
        ++outputs;
        c331_chip::set_output(fd);
    }
    int outputs = 0;
};

class C331PipeEnv : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        useManualClock();
        m = c331_manage::get();
        static_cast<c331_state&>(*m) = c331_state{};
        m->thread_state.store(0);
        m->c331_fd = m->drv->initialize();
        m->drv->init_reg_acc_param();
        m->load_system_param();
        m->define_param();
        std::memset(img.data, 0, sizeof img.data);
        chip = std::make_unique<CountingChip>(*m);
        chip->setImage(&img);
        lanes.fill(4);
        chip->setHdmiReader([this](int input, c331_state::PortHdmiInfo& info, s32& stable) {
            return receiver(input, info, stable);
        });
        sim = std::dynamic_pointer_cast<SimC331>(board().spiModel("/dev/spidev32766.0"));
        savedOps = m->ops;
        m->setChipOps(chip.get());
        m->pattern_gen = 0;
        m->osd_update_req = m->osd_redraw_req = 0;
    }
    void TearDown() override {
        m->setChipOps(savedOps);
        SimEnv::TearDown();
    }

    // The receiver record of an input from the scenario.
    bool receiver(int input, c331_state::PortHdmiInfo& info, s32& stable) {
        const SimSource src = board().scenario().snapshot().inputs[input];
        const SimVideoTiming t = simVideoTiming(src);
        if (t.htotal) seen[input] = true;
        stable = seen[input] && !unstable[input] ? 1 : 0;
        info = c331_state::PortHdmiInfo{};
        info.nosignal = t.htotal ? 0 : 1;
        if (!t.htotal) return true;
        info.Hact = s32(t.hact), info.Hsync = s32(t.hsync), info.Hback = s32(t.hback), info.Htotal = s32(t.htotal);
        info.Vact = s32(t.vact), info.Vsync = s32(t.vsync), info.Vback = s32(t.vback), info.Vtotal = s32(t.vtotal);
        info.Hpol = hpol[input], info.Vpol = vpol[input];
        info.pfreq = float(double(t.htotal) * t.vtotal * t.rate / 1e6);
        info.ip = t.interlaced ? 1 : 0;
        if (input >= 4) info.type = 1, info.datamode = 1, info.lane = lanes[input];
        return true;
    }

    void plug(int input, uint32_t w, uint32_t h, uint32_t hz, bool interlaced = false) {
        SimSource s;
        s.present = true, s.width = w, s.height = h, s.refreshHz = hz, s.interlaced = interlaced;
        board().scenario().setInput(input, s);
    }

    // Window record w: enabled, source word, rectangle, output word.
    void window(int w, u16 source, u16 x, u16 y, u16 width, u16 height, u16 output = 0) {
        WIN_RECORD r{};
        r.enable = 1, r.source = source, r.x = x, r.y = y, r.width = width, r.height = height, r.output = output;
        image->setWin(w, r);
    }
    void crop(int r, int input, u16 x, u16 y, u16 w, u16 h, bool valid = true) {
        CROP_RECORD c{};
        c.id = u16((valid ? 0x8000 : 0) | input);
        c.x = x, c.y = y, c.width = w, c.height = h;
        image->setCrop(r, c);
    }

    // Panel set-up for a wall (splice none), which lays the windows out.
    void panel(int w = 1920, int h = 1080) { chip->timing().zrvApi_PnlInit2(w, h, w, h, 0); }
    // A grid of output channels given directly: arrangement, channel size,
    // columns and rows.
    void grid(int arrang, int ochW, int ochH, int cols, int rows) {
        m->gOch.arrang = u32(arrang), m->gOch.width = u32(ochW), m->gOch.height = u32(ochH);
        m->gOch.hcnt = u8(cols), m->gOch.vcnt = u8(rows);
        m->gPnl.w = ochW * cols, m->gPnl.h = ochH * rows, m->gPnl.xoffs = m->gPnl.yoffs = 0;
        m->sys.PS_ACTHW = u32(ochW), m->sys.PS_ACTVW = u32(ochH);
    }
    void layout() {
        chip->zrvApi_initEnvC331();
        chip->zrvApi_MultiWinChAlloc(1);
        chip->zrvApi_MultiWinChInit();
    }
    // One poll step of the running manager: receiver take-over and
    // measurement, then the windows of updated ports are programmed.
    void poll() { m->poll_step(); }

    // The manager is shared by every test of the program: leave it as if it
    // had applied an empty image, so that a later test starts from nothing.
    void leaveManagerEmpty(PARA_RAM_IMAGE& live) {
        QuietC331Ops quiet;
        m->setChipOps(&quiet);
        {
            QMutexLocker lock(&m->mutex);
            std::memset(live.data, 0, sizeof live.data);
            m->apply_flag = 1;
        }
        m->apply_pass();
        g_set_led_para = 0;
        g_osd_update = 0;
        c331_take_hand_overs();
        m->setChipOps(savedOps);
        m->thread_state.store(0);
    }

    u16 reg16(u8 bank, u8 reg, int base = 0) { return sim->reg16(u8(bank + base), reg); }
    u32 reg32(u8 bank, u8 reg, int base = 0) { return sim->reg32(u8(bank + base), reg); }
    u8 reg8(u8 bank, u8 reg, int base = 0) { return sim->reg(u8(bank + base), reg); }

    c331_manage* m = nullptr;
    std::unique_ptr<CountingChip> chip;
    std::shared_ptr<SimC331> sim;
    PARA_RAM_IMAGE img{};
    // Where window() and crop() write: img, or the model's live image.
    PARA_RAM_IMAGE* image = &img;
    c331_chip_ops* savedOps = nullptr;
    std::array<int, 6> lanes{};
    std::array<int, 6> hpol{1, 1, 1, 1, 1, 1}, vpol{1, 1, 1, 1, 1, 1};
    bool seen[6] = {};
    bool unstable[6] = {};
};

// The whole manager on the simulated chip: a parameter model whose live
// image the chip operations read, the chip brought up by the manager's
// start-up, and changes applied by its passes.
class C331PassEnv : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        model = std::make_unique<ZrvRamPara>();
        install = std::make_unique<ModelInstall>(model.get());
        image = &model->live_image;
        chip->setImage(nullptr);
        g_force_bkcolor = 2;
        g_set_led_para = 0;
        g_osd_update = 0;
    }
    void TearDown() override {
        install.reset();
        C331PipeEnv::TearDown();
    }
    // The LED wall and output 1 (splice none).
    void wall(u16 w, u16 h) {
        for (auto [off, v] : {std::pair<int, u16>{c331img::LED_WIDTH, w}, {c331img::LED_HEIGHT, h},
                              {c331img::OUT1_WIDTH, w}, {c331img::OUT1_HEIGHT, h}})
            image->setWord(u32(off), v);
    }
    // Brings the chip up from the image, then one pass (the manager is
    // shared by every test: what an earlier one left applied is set right)
    // and one poll step.
    void start() {
        m->apply_flag = 0;
        m->thread_state = 5;
        m->thread_step();
        m->apply_flag = 1;
        pass();
    }
    // A writer's edit, under the manager mutex with the apply flag.
    template <class F>
    void edit(F&& change) {
        QMutexLocker lock(&m->mutex);
        change();
        m->raise_apply(1);
    }
    // One turn of the running thread: the apply pass, then the poll step.
    void pass() { m->thread_step(); }

    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
};

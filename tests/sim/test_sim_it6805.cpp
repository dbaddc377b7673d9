// The simulated IT6805 as the driver relies on it: reset, banks, interrupt
// latches, calibration and the pixel-clock readings (its CEC FIFO is
// proved by the driver's CEC tests).
#include "sim/sim_it6805.h"
#include "support/test_env.h"

namespace {
class SimIt6805Test : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        chip = std::make_shared<SimIt6805>(board().scenario(), 4, 0x10, 0x07);
    }
    bool wr(uint8_t reg, uint8_t v) {
        const uint8_t b[2] = {reg, v};
        return chip->write(b, 2);
    }
    int rd(uint8_t reg) {
        uint8_t v = 0;
        if (!chip->write(&reg, 1) || !chip->read(&v, 1)) return -1;
        return v;
    }
    int cecRd(uint8_t reg) {
        uint8_t v = 0;
        auto c = chip->cec();
        if (!c->write(&reg, 1) || !c->read(&v, 1)) return -1;
        return v;
    }
    std::shared_ptr<SimIt6805> chip;
};
}  // namespace

TEST_F(SimIt6805Test, ResetNacksAndReturnsToPowerOn) {
    EXPECT_EQ((Vals{rd(0), rd(1), rd(2), rd(3), rd(4)}), (Vals{0x54, 0x49, 0x07, 0x68, 0x10}));
    wr(0x0F, 0x03);
    wr(0x80, 0x5A);
    chip->setResetLow(true);
    EXPECT_EQ((Vals{rd(0), cecRd(0x4C)}), (Vals{-1, -1}));
    chip->setResetLow(false);
    EXPECT_EQ((Vals{rd(0x0F), rd(0x80)}), (Vals{0, 0}));
    wr(0x0F, 0x03);
    EXPECT_EQ(rd(0x80), 0);
}

TEST_F(SimIt6805Test, BanksLatchesAndCalibration) {
    wr(0x0F, 0x02);
    wr(0x40, 0x11);
    wr(0x0F, 0x00);
    EXPECT_EQ((Vals{rd(0x40), chip->reg(2, 0x40), rd(0x0F)}), (Vals{0, 0x11, 0}));
    // A source plugged: +5 V latched; write 1 to clear.
    SimSource s;
    s.present = true, s.width = 1920, s.height = 1080, s.refreshHz = 60;
    board().scenario().setInput(4, s);
    EXPECT_EQ(rd(0x05) & 0x01, 1);
    wr(0x05, 0x01);
    EXPECT_EQ((Vals{rd(0x05), rd(0x13), rd(0x19) & 0x80}), (Vals{0, 0x01, 0}));
    // Hot-plug high: the source sends; SCDT latched.
    wr(0x0F, 0x03);
    wr(0xAB, 0xC0);
    wr(0x0F, 0x00);
    EXPECT_EQ((Vals{rd(0x13), rd(0x19) & 0x80, rd(0x10) & 0x02}), (Vals{0xBF, 0x80, 0x02}));
    // The front-end calibration flag follows the start pulse.
    EXPECT_EQ(rd(0x08) & 0x10, 0);
    wr(0x2A, 0x41);
    EXPECT_EQ(rd(0x08) & 0x10, 0x10);
    // Twenty pixel-clock readings add up to no less than the clock.
    unsigned sum = 0;
    for (int i = 0; i < 20; ++i) sum += unsigned(rd(0x99)) + (unsigned(rd(0x9A)) & 3) * 256;
    EXPECT_EQ(sum, 10240u * 20000u / 148500u);
    // The TMDS count too is of whole periods: 20 MHz x 1024 / 148.5 MHz =
    // 137.9 counts 137, read as 136.
    EXPECT_EQ((Vals{rd(0x43), rd(0x48)}), (Vals{0x80, 136}));
}

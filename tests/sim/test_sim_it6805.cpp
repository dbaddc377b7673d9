// The simulated IT6805 as the driver relies on it: reset, banks, interrupt
// latches, calibration, the pixel-clock readings and the CEC FIFO.
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
    int cecRd(uint8_t reg, uint8_t* out = nullptr, uint16_t n = 1) {
        uint8_t v[32] = {};
        auto c = chip->cec();
        if (!c->write(&reg, 1) || !c->read(out ? out : v, n)) return -1;
        return out ? out[0] : v[0];
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
}

TEST_F(SimIt6805Test, CecFifoPopsStreamsAndCapturesTransmissions) {
    chip->injectCec({0x40, 0x64, 0x41, 0x42, 0x43});
    EXPECT_EQ((Vals{cecRd(0x4C) & 0x10, cecRd(0x52) & 0x0F}), (Vals{0x10, 1}));
    uint8_t head[3];
    cecRd(0x4D, head, 3);
    uint8_t ops[3];
    cecRd(0x50, ops, 3);
    EXPECT_EQ((Vals{head[0], head[1], head[2], ops[0], ops[1], ops[2], cecRd(0x52) & 0x0F}),
              (Vals{0x40, 0x64, 5, 0x41, 0x42, 0x43, 0}));
    auto c = chip->cec();
    const uint8_t tx[] = {0x10, 0x04, 0x9E, 0x06};
    const uint8_t len[] = {0x23, 3};
    c->write(len, 2);
    c->write(tx, 4);
    const uint8_t a[] = {0x08, 0x08}, b[] = {0x08, 0x88};
    c->write(a, 2);
    EXPECT_TRUE(chip->cecSent().empty());
    c->write(b, 2);
    ASSERT_EQ(chip->cecSent().size(), 1u);
    EXPECT_EQ(chip->cecSent()[0].bytes, (std::vector<uint8_t>{0x04, 0x9E, 0x06}));
    EXPECT_EQ(cecRd(0x4C) & 0x20, 0x20);
}

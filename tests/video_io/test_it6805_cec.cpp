// IT6805 CEC against the simulated CEC block: the answers a display gives,
// what it ignores, and a receive FIFO that misbehaves.
#include "video_io/it6805_env.h"

using namespace it6805;

namespace {
using Bytes = std::vector<uint8_t>;

class It6805CecTest : public It6805Env {
protected:
    void SetUp() override {
        It6805Env::SetUp();
        step(0);  // identified and initialised, no source
    }
    // Sent messages after one more step.
    std::vector<Bytes> answer(const std::vector<Bytes>& received) {
        const size_t before = chip(0)->cecSent().size();
        for (const Bytes& m : received) chip(0)->injectCec(m);
        step(0);
        std::vector<Bytes> out;
        const auto sent = chip(0)->cecSent();
        for (size_t i = before; i < sent.size(); ++i) out.push_back(sent[i].bytes);
        return out;
    }
};
}  // namespace

TEST_F(It6805CecTest, DisplayRequestsAreAnswered) {
    const auto sent0 = answer({{0x40, 0x46}});
    EXPECT_EQ(sent0, (std::vector<Bytes>{{0x04, 0x47, 0x68, 0x05}}));
    const auto sent = chip(0)->cecSent();
    ASSERT_FALSE(sent.empty());
    const auto fire = sent.back().fireWrites;
    ASSERT_EQ(fire.size(), 2u);
    EXPECT_EQ((Vals{fire[0] & 0x88, fire[1] & 0x88}), (Vals{0x08, 0x88}));

    EXPECT_EQ(answer({{0x40, 0x83}}), (std::vector<Bytes>{{0x0F, 0x84, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(answer({{0x4F, 0x85}}), (std::vector<Bytes>{{0x0F, 0x82, 0x00, 0x00}}));
    EXPECT_EQ(answer({{0x40, 0x9F}}), (std::vector<Bytes>{{0x04, 0x9E, 0x06}}));
    EXPECT_EQ(answer({{0x40, 0x0F}}), (std::vector<Bytes>{{0x04, 0x00, 0x0F, 0x04}}));
    EXPECT_EQ(answer({{0x30, 0x8F}, {0x10, 0x8C}}),
              (std::vector<Bytes>{{0x03, 0x90, 0x00}, {0x0F, 0x87, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(sys->data[0].STATECEC, 4u);
}

TEST_F(It6805CecTest, MessagesNotForThisDisplayAreIgnored) {
    // Broadcast Give Physical Address (directed only), header only, for
    // logical address 5, from this device itself, an unknown opcode.
    chip(0)->injectCec({0x40}, 1);
    EXPECT_EQ(answer({{0x4F, 0x83}, {0x45, 0x9F}, {0x00, 0x9F}, {0x40, 0x36}}), (std::vector<Bytes>{}));
    // Error bits in the size byte drop the message.
    chip(0)->injectCec({0x40, 0x9F}, 0x40 | 2);
    EXPECT_EQ(answer({}), (std::vector<Bytes>{}));
    // Too short for its opcode (Feature Abort needs four bytes): ignored.
    EXPECT_EQ(answer({{0x40, 0x00, 0x46}}), (std::vector<Bytes>{}));
}

TEST_F(It6805CecTest, FullRingLeavesTheRestStagedForTheNextStep) {
    // Sixteen-byte messages: three fill the 64-byte ring.
    Bytes longMsg(16, 0x00);
    longMsg[0] = 0x40, longMsg[1] = 0x9F;
    EXPECT_EQ(answer({longMsg, longMsg, longMsg, longMsg, longMsg}).size(), 3u);
    EXPECT_NE(sys->cec_sys().rec[0].RxStaging[0], 0);
    EXPECT_EQ(answer({}).size(), 2u);
    EXPECT_EQ(sys->cec_sys().rec[0].RxStaging[0], 0);
}

TEST_F(It6805CecTest, BadLengthsAndAStuckFifoStayBounded) {
    // Lengths the chip should never report: nothing copied past a buffer.
    chip(0)->injectCec({0x40, 0x9F}, 0);
    chip(0)->injectCec({0x40, 0x9F}, 1);
    chip(0)->injectCec({0x40, 0x9F, 1, 2, 3}, 31);
    EXPECT_EQ(answer({{0x40, 0x9F}}), (std::vector<Bytes>{{0x04, 0x9E, 0x06}}));
    const iTE6805_CEC_RECORD& r = sys->cec_sys().rec[0];
    EXPECT_EQ((Vals{r.RxReadIdx, r.RxWriteIdx}), (Vals{0, 0}));

    // A chip that reports one dropped message for ever: the step ends.
    chip(0)->setCecStuck(true);
    chip(0)->injectCec({0x40, 0x9F}, 0x20 | 2);
    const uint64_t before = chip(0)->messages();
    step(0);
    EXPECT_LT(chip(0)->messages() - before, 400u);
    chip(0)->setCecStuck(false);
}

TEST_F(It6805CecTest, FifoFaultResetsTheFifo) {
    chip(0)->setCecRxStatus(0x04);
    chip(0)->injectCec({0x40, 0x9F});
    EXPECT_EQ(answer({}), (std::vector<Bytes>{}));
    EXPECT_EQ(chip(0)->cecReg(CEC_REG_RX_COUNT) & 0x0F, 0);
}

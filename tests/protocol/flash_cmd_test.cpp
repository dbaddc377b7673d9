// The PC's serial-flash commands: a round trip through the simulated chip,
// each refused field answering 1 with the flash untouched, and "busy" for a
// flash that does not answer or a chip that is not running.
#include "frame_helpers.h"

#include "core/zrvrampara.h"
#include "protocol/message_deal.h"
#include "sim/sim_c331.h"
#include "support/test_env.h"
#include "video_engine/c331_manage.h"

namespace {

constexpr u8 Ok = ReplyStatus::Ok, Bad = ReplyStatus::BadArgument, Busy = ReplyStatus::Busy;

class FlashCommands : public SimEnv, protected PcRequests {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        mgr = c331_manage::get();
        m_state = mgr->thread_state.load();
        mgr->c331_fd = mgr->drv->initialize();
        mgr->thread_state = 6;
        chip = std::dynamic_pointer_cast<SimC331>(board().spiModel("/dev/spidev32766.0"));
        ASSERT_TRUE(chip);
    }
    void TearDown() override {
        mgr->thread_state = m_state;
        SimEnv::TearDown();
    }
    u8 erase(u32 start, u32 mode, u32 count) {
        Bytes d;
        put16(d, u16(start));
        d.push_back(u8(mode));
        put16(d, u16(count));
        return replyStatus(call(PcCmd::FlashErase, d));
    }
    u8 write(u32 addr, const Bytes& bytes, u32 declared = ~0u) {
        Bytes d;
        put32(d, addr);
        put32(d, declared == ~0u ? u32(bytes.size()) : declared);
        d.insert(d.end(), bytes.begin(), bytes.end());
        return replyStatus(call(PcCmd::FlashWrite, d));
    }
    Bytes read(u32 addr, u32 len, u8* status) {
        Bytes d;
        put32(d, addr);
        put32(d, len);
        const Bytes r = call(PcCmd::FlashRead, d);
        *status = replyStatus(r);
        return replyData(r);
    }

    c331_manage* mgr = nullptr;
    std::shared_ptr<SimC331> chip;
    ZrvRamPara m_model;
    ModelInstall m_install{&m_model};
    u8 m_state = 0;
};

TEST_F(FlashCommands, EraseWriteAndReadRoundTrip) {
    chip->setFlash(0x10000, Bytes(0x2000, 0x00));
    Bytes data(1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = u8(i * 13 + 1);
    EXPECT_EQ(erase(16, 0, 1), Ok);
    EXPECT_EQ(chip->flash(0x11000, 1), Bytes{0x00});
    EXPECT_EQ(write(0x10000, data), Ok);
    u8 st = 0xEE;
    EXPECT_EQ(read(0x10000, 1024, &st), data);
    EXPECT_EQ(st, Ok);
    // Count 0 erases nothing and is no error.
    EXPECT_EQ((Vals{erase(16, 2, 0), chip->flashEraseCount()}), (Vals{Ok, 1}));
}

TEST_F(FlashCommands, EachRefusedFieldAnswersOneAndTouchesNothing) {
    chip->clearLog();
    u8 st[4] = {};
    const Bytes four(4, 0);
    EXPECT_EQ((Vals{replyStatus(call(PcCmd::FlashErase, {16, 0, 0, 1})),  // short
                    erase(16, 3, 1),                                          // mode
                    erase(8191, 0, 2),                                        // past the end
                    erase(4096, 2, 4097),                                     // 16 MiB + 4097 x 64 KiB
                    erase(1, 2, 1),                                           // 64 KiB not aligned
                    erase(4, 1, 1),                                           // 32 KiB not aligned
                    write(0x1000, {}, 0),                                     // length 0
                    write(0x1000, four, 5),                                   // more declared than sent
                    write(0x1000, four, 3),                                   // less declared than sent
                    write(32u * 1024 * 1024 - 2, four),                       // past the end
                    write(0xFFFFFFFEu, four),                                 // would wrap
                    replyStatus(call(PcCmd::FlashWrite, {0, 0, 0})),          // short
                    (read(0, 0, &st[0]), st[0]), (read(0, 1025, &st[1]), st[1]),
                    (read(32u * 1024 * 1024 - 1, 2, &st[2]), st[2])}),
              (Vals{Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad, Bad}));
    EXPECT_TRUE(chip->frames().empty());
    EXPECT_EQ(chip->flashEraseCount(), 0u);
}

TEST_F(FlashCommands, BusyForAStuckFlashAndAChipNotRunning) {
    useManualClock();
    u8 st = 0;
    chip->setHeld(SimC331::Hold::EraseBusy, true);
    EXPECT_EQ(erase(16, 0, 1), Busy);
    chip->setHeld(SimC331::Hold::EraseBusy, false);
    chip->setHeld(SimC331::Hold::FifoNotEmpty, true);
    EXPECT_EQ(write(0x10000, {1, 2, 3}), Busy);
    chip->setHeld(SimC331::Hold::FifoNotEmpty, false);
    chip->setHeld(SimC331::Hold::ReadBusy, true);
    EXPECT_TRUE(read(0x10000, 4, &st).empty());
    EXPECT_EQ(st, Busy);
    chip->setHeld(SimC331::Hold::ReadBusy, false);

    // Before the chip runs (and while a restart identifies it) nothing is
    // sent to it.
    for (u8 state : {0, 5}) {
        mgr->thread_state = state;
        chip->clearLog();
        EXPECT_EQ((Vals{erase(16, 0, 1), write(0x10000, {1}), (read(0, 1, &st), st)}), (Vals{Busy, Busy, Busy}));
        EXPECT_TRUE(chip->frames().empty());
    }
}

}  // namespace

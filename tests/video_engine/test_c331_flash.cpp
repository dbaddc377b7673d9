// The c331's serial flash through the manager: what an erase and a write
// reach, the page re-issue the controller needs, every stuck status bit
// failing its operation at its bound, an erase or write the flash does not
// keep, refusals that touch nothing, and the flash lock between threads.
#include "test_c331_sim.h"
#include "video_engine/c331_manage.h"

#include <atomic>
#include <thread>

namespace {

using Hold = SimC331::Hold;
using Data = std::vector<uint8_t>;

class C331FlashTest : public C331SimEnv {
protected:
    void SetUp() override {
        C331SimEnv::SetUp();
        // The manager's driver on this test's board.
        mgr = c331_manage::get();
        mfd = mgr->drv->initialize();
        chip = std::dynamic_pointer_cast<SimC331>(board().spiModel(c331reg::kSpiDevice));
        ASSERT_TRUE(chip);
        // Each erase started (04:48 := 4), as command << 32 | address: the
        // transfer log keeps too few accesses beside the read-backs of large
        // blocks. Only this thread drives the flash.
        chip->addWriteHook([e = m_erases, c = chip.get()](u8 bank, u8 reg, u8 v) {
            if (bank == 0x04 && reg == 0x48 && v == 4)
                e->push_back(u64(c->reg(0x04, 0x4B)) << 32 | c->reg32(0x04, 0x4E));
        });
    }
    std::vector<u64> erasesStarted() { return std::exchange(*m_erases, {}); }
    // Addresses written to the flash controller's address register, in order.
    std::vector<u32> addressWrites() const {
        std::vector<u32> out;
        u32 a = 0;
        for (const auto& x : chip->log()) {
            if (!x.write || x.bank != 0x04 || x.reg < 0x4E || x.reg > 0x51) continue;
            const int i = x.reg - 0x4E;
            a = (a & ~(0xFFu << (8 * i))) | u32(x.value) << (8 * i);
            if (i == 3) out.push_back(a);
        }
        return out;
    }
    static Data pattern(size_t n, u8 seed) {
        Data d(n);
        for (size_t i = 0; i < n; ++i) d[i] = u8(seed + i * 7);
        return d;
    }
    int write(u32 address, const Data& d) { return mgr->write_flash(mfd, address, u32(d.size()), d.data()); }

    c331_manage* mgr = nullptr;
    int mfd = -1;
    std::shared_ptr<std::vector<u64>> m_erases = std::make_shared<std::vector<u64>>();
};

TEST_F(C331FlashTest, EraseReachesExactlyItsBlocks) {
    // Start block (4 KiB units), count, erase type; the erase command and
    // the address given for each block, block x 4096 + i x the type's size.
    const struct {
        int block, count, type;
        u8 command;
        std::vector<u32> addresses;
    } rows[] = {
        {16, 3, 0, 0x20, {0x10000, 0x11000, 0x12000}},
        {8, 1, 1, 0x52, {0x8000}},
        {8, 3, 1, 0x52, {0x8000, 0x10000, 0x18000}},
        {16, 1, 2, 0xD8, {0x10000}},
        {32, 3, 2, 0xD8, {0x20000, 0x30000, 0x40000}},
        {48, 2, 7, 0xD8, {0x30000, 0x40000}},  // any other type: 64 KiB
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.block) + " " + std::to_string(row.count) + " " + std::to_string(row.type));
        const u32 first = row.addresses.front();
        const u32 end = row.addresses.back() + (row.type == 0 ? 0x1000 : row.type == 1 ? 0x8000 : 0x10000);
        chip->setFlash(first - 0x1000, Data(end - first + 0x2000, 0x00));
        const u64 erasesBefore = chip->flashEraseCount();
        erasesStarted();
        EXPECT_EQ(mgr->erase_flash(mfd, row.block, row.count, row.type), 0);
        std::vector<u64> want;
        for (u32 a : row.addresses) want.push_back(u64(row.command) << 32 | a);
        EXPECT_EQ(erasesStarted(), want);
        EXPECT_EQ(chip->flash(first - 1, 1), Data{0x00});
        EXPECT_EQ(chip->flash(first, end - first), Data(end - first, 0xFF));
        EXPECT_EQ(chip->flash(end, 1), Data{0x00});
        EXPECT_EQ(chip->flashEraseCount() - erasesBefore, u64(row.count));
    }
}

TEST_F(C331FlashTest, WriteReissuesTheAddressAtEachPageAndAfterTheLastByte) {
    const Data d = pattern(300, 3);
    chip->clearLog();
    EXPECT_EQ(write(0x100, d), 0);
    // Then the read-back from the start, and the address again at its end.
    EXPECT_EQ(addressWrites(), (std::vector<u32>{0x100, 0x100, 0x200, 0x22C, 0x100, 0x100}));
    EXPECT_EQ(chip->flash(0x100, 300), d);

    // Read back through the controller.
    Data back(300);
    EXPECT_EQ(mgr->read_flash(mfd, 0x100, 300, back.data()), 0);
    EXPECT_EQ(back, d);
}

TEST_F(C331FlashTest, EachStuckBitFailsItsOperationAtItsBoundAndTheNextWorks) {
    ManualClock& clock = useManualClock();
    struct Case {
        Hold bit;
        int op;  // 0 erase, 1 write, 2 read, 3 DMA
        u64 bound;
    };
    const Case cases[] = {
        {Hold::EraseBusy, 0, 3000}, {Hold::Wip, 0, 3000},       {Hold::FifoNotEmpty, 1, 100},
        {Hold::WriteBusy, 1, 100},  {Hold::Wip, 1, 100},        {Hold::Wel, 1, 100},
        {Hold::ReadBusy, 2, 100},   {Hold::DmaBusy, 3, 10000},
        // The read-back after an erase or a write.
        {Hold::ReadBusy, 0, 100},   {Hold::ReadBusy, 1, 100},
    };
    Data buf(16);
    const Data d = pattern(16, 1);
    auto run = [&](int op) {
        switch (op) {
        case 0: return mgr->erase_flash(mfd, 32, 1, 0);
        case 1: return write(0x20000, d);
        case 2: return mgr->read_flash(mfd, 0x20000, 16, buf.data());
        default: {
            auto lock = mgr->flash_lock(true);
            return mgr->osd_write_dma_sfl(mfd, 0x20000, 0x7F000000, 0, 16);
        }
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.bit));
        chip->setHeld(c.bit, true);
        const u64 t0 = clock.nowMs();
        EXPECT_EQ(run(c.op), 2);
        const u64 spent = clock.nowMs() - t0;
        EXPECT_GE(spent, c.bound);
        EXPECT_LE(spent, c.bound + 5);
        // The controller is left idle.
        EXPECT_EQ(chip->writesTo(0x04, 0x48).back(), 0);
        chip->setHeld(c.bit, false);
        EXPECT_EQ(mgr->erase_flash(mfd, 32, 1, 0), 0);
        EXPECT_EQ(run(c.op), 0);
        if (c.op == 1) {
            EXPECT_EQ(chip->flash(0x20000, 16), d);
        }
        if (c.op == 2) {
            EXPECT_EQ(buf, Data(16, 0xFF));
        }
    }
}

TEST_F(C331FlashTest, ALatchLeftSetIsClearedAndEveryBlockKeepsItsEraseSize) {
    chip->setLatchLeftSet(true);
    chip->setFlash(0x10000, Data(0x10000, 0x00));
    EXPECT_EQ(mgr->erase_flash(mfd, 16, 3, 0), 0);
    EXPECT_EQ((Vals{chip->writeDisableCount(), chip->writeEnableLatch()}), (Vals{3, 0}));
    // A write disable shares the erase command register: the blocks after
    // it still erase 4 KiB.
    EXPECT_EQ(chip->flash(0x13000, 1), Data{0x00});

    const Data d = pattern(300, 5);
    EXPECT_EQ(write(0x10100, d), 0);
    EXPECT_EQ((Vals{chip->writeDisableCount(), chip->writeEnableLatch()}), (Vals{5, 0}));
    EXPECT_EQ(chip->flash(0x10100, 300), d);
}

// Sectors under the flash's protection take the erase and the program and
// keep their bytes; a program over bytes not erased only clears bits. The
// operation then fails (4) with a log line, and each erased block is read
// back before the next is touched.
TEST_F(C331FlashTest, AnEraseOrWriteTheFlashDoesNotKeepFailsAndStopsThere) {
    const Data old = pattern(0x1000, 9), d = pattern(300, 4), blank(0x1000, 0xFF);
    Data cleared = blank;  // the old bytes under the write, their bits cleared by it
    for (size_t i = 0; i < d.size(); ++i) cleared[i] = u8(old[i] & d[i]);
    const struct {
        const char* what;
        u32 protectFrom, protectLength;
        int op;  // 0: erase 4 KiB blocks 32 to 34, 1: write d at 0x21000
        Data before, after;  // 0x21000 to 0x21FFF (the blocks beside it: `old` to erase, else blank)
        const char* line;
    } rows[] = {
        {"erase, second block protected", 0x21000, 0x1000, 0, old, old,
         "c331: serial flash does not read back the block erased at 0x021000 (4096 bytes)"},
        {"write, protected", 0x21000, 0x1000, 1, blank, blank,
         "c331: serial flash does not read back the bytes written at 0x021000 (300 bytes)"},
        {"write over bytes not erased", 0, 0, 1, Data(old.begin(), old.begin() + 300), cleared,
         "c331: serial flash does not read back the bytes written at 0x021000 (300 bytes)"},
    };
    ManualClock& clock = useManualClock();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        clock.advanceMs(5000);  // each row's line is the first of its second
        chip->setFlashProtected(0, 0);
        for (u32 at : {0x20000, 0x21000, 0x22000}) chip->setFlash(at, row.op == 0 ? old : blank);
        chip->setFlash(0x21000, row.before);
        chip->setFlashProtected(row.protectFrom, row.protectLength);
        const size_t lines = countIn(readHostFile(hostPath(kLogFile)), row.line);
        EXPECT_EQ(row.op == 0 ? mgr->erase_flash(mfd, 32, 3, 0) : write(0x21000, d), 4);
        // An erase stops at the block that did not take: the one before it
        // erased, the one after it untouched.
        EXPECT_TRUE(chip->flash(0x20000, 0x1000) == blank);
        EXPECT_TRUE(chip->flash(0x21000, 0x1000) == row.after);
        EXPECT_TRUE(chip->flash(0x22000, 0x1000) == (row.op == 0 ? old : blank));
        EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)), row.line), lines + 1);
    }
}

TEST_F(C331FlashTest, RefusedRangesTouchNothing) {
    chip->clearLog();
    const Data d(16, 0);
    Data buf(16);
    EXPECT_EQ((Vals{mgr->erase_flash(mfd, 1, 1, 2),                // 64 KiB erase not aligned
                    mgr->erase_flash(mfd, 4, 1, 1),                // 32 KiB erase not aligned
                    mgr->erase_flash(mfd, 8191, 2, 0),             // past the end
                    mgr->erase_flash(mfd, 0, 513, 2),              // 513 x 64 KiB
                    mgr->erase_flash(mfd, -1, 1, 0),
                    mgr->write_flash(mfd, SimC331::kFlashSize - 8, 16, d.data()),
                    mgr->write_flash(mfd, 0xFFFFFFF8u, 16, d.data()),  // would wrap in 32 bits
                    mgr->write_flash(mfd, 0, 0, d.data()),
                    mgr->read_flash(mfd, SimC331::kFlashSize, 1, buf.data())}),
              (Vals{1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_TRUE(chip->frames().empty());
    // The last block and count 0 are fine.
    EXPECT_EQ((Vals{mgr->erase_flash(mfd, 8191, 1, 0), mgr->erase_flash(mfd, 16, 0, 2), chip->flashEraseCount()}),
              (Vals{0, 0, 1}));
}

TEST_F(C331FlashTest, AnotherThreadWaitsAtMostOneSecondForTheLock) {
    ManualClock& clock = useManualClock();
    auto held = mgr->flash_lock(false);
    ASSERT_TRUE(held.owns_lock());
    // The c331 thread's try gives up at once; another thread's after 1 s.
    EXPECT_FALSE(mgr->flash_lock(false).owns_lock());
    int result = -1;
    u64 spent = 0;
    std::thread other([&] {
        const u64 t0 = clock.nowMs();
        const Data d(4, 0);
        result = mgr->write_flash(mfd, 0x1000, 4, d.data());
        spent = clock.nowMs() - t0;
    });
    other.join();
    EXPECT_EQ((Vals{result, spent >= 1000, spent <= 1002}), (Vals{3, 1, 1}));
    EXPECT_EQ(chip->flash(0x1000, 4), Data(4, 0xFF));
}

}  // namespace

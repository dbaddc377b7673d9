// The running-time log in FPGA 0's flash, in virtual time against the flash
// model, and the protocol's clock setting and time report that use it.
#include "fpga_env.h"

#include "../protocol/frame_helpers.h"
#include "protocol/message_deal.h"

#include <ctime>

namespace {

using R = clock_record_run;

class ClockRecord : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        board().simShell().clear();
    }
    // Opens the log again at 2026-03-04 05:06:07 (after the test's preloads).
    void reopen() {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 2;
        t.tm_mday = 4;
        t.tm_hour = 5;
        t.tm_min = 6;
        t.tm_sec = 7;
        clock->setWallTime(t);
        for (int i = 0; i < 3; ++i) m_erased[i] = flash[0]->eraseCount(sector(kWatched[i]));
        m->clock_record.clock_record_init();
    }
    void minutes(int n) {
        for (int i = 0; i < n; ++i) {
            clock->advanceMs(60010);
            m->clock_record.clock_record_deal();
        }
    }
    Bytes rec(u32 address, u32 len) { return flash[0]->read(address + R::kFlashOffset, len); }
    void put(u32 address, const Bytes& b) { flash[0]->preload(address + R::kFlashOffset, b); }
    u32 rec32(u32 address) {
        const Bytes b = rec(address, 4);
        return u32(b[0]) | u32(b[1]) << 8 | u32(b[2]) << 16 | u32(b[3]) << 24;
    }
    static u32 sector(u32 address) { return (address + R::kFlashOffset) / 0x1000; }
    // Erases of a watched sector since the last reopen().
    u32 erases(u32 address) {
        for (int i = 0; i < 3; ++i)
            if (kWatched[i] == address) return flash[0]->eraseCount(sector(address)) - m_erased[i];
        return ~0u;
    }
    static constexpr u32 kWatched[3] = {R::kCopyA, R::kCopyB, R::kSlots};
    u32 m_erased[3] = {};
    // A group record opened in copy A (and B) with cumulative minutes, a
    // sequence number and progress bytes.
    void putGroup(u32 base, int g, u32 cumulative, u32 seq, const Bytes& progress) {
        const u32 a = base + R::kGroupBytes * u32(g);
        put(a, {0xAA, 0x26, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00});
        put(a + 8, {u8(cumulative), u8(cumulative >> 8), u8(cumulative >> 16), u8(cumulative >> 24), 0xFF, u8(seq),
                    u8(seq >> 8), u8(seq >> 16)});
        put(a + R::kProgressStart, progress);
    }
    void putHeader() { put(R::kHeader, {0xAA, 0x5A, 0xA5}); }
    Bytes report() {
        u8 out[R::kReportBytes];
        EXPECT_TRUE(R::report(out));
        return Bytes(out, out + sizeof out);
    }
    static u32 le32(const Bytes& b, size_t at) {
        return u32(b[at]) | u32(b[at + 1]) << 8 | u32(b[at + 2]) << 16 | u32(b[at + 3]) << 24;
    }
};

TEST_F(ClockRecord, ErasedFlashStartsTheLogAndOpensTheFirstGroupAfterThirtyMinutes) {
    m->clock_record.ExFlash_Erase_Format(R::kHeader / 0x1000, 0, 1);
    reopen();
    EXPECT_EQ(rec(R::kHeader, 3), (Bytes{0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(erases(R::kCopyA), 1u);
    EXPECT_EQ(erases(R::kCopyB), 1u);
    EXPECT_EQ(erases(R::kSlots), 1u);
    EXPECT_EQ(g_clock_record.group_index, 0);

    minutes(29);
    EXPECT_EQ(rec(R::kCopyA, 1)[0], 0xFF);
    EXPECT_EQ(rec(R::kSlots, 1)[0], 0xFF);
    minutes(1);
    const Bytes power = {0x26, 0x20, 0x03, 0x04, 0x05, 0x06, 0x07};
    for (u32 base : {R::kCopyA, R::kCopyB}) {
        EXPECT_EQ(rec(base, 1)[0], 0xAA);
        EXPECT_EQ(rec(base + 1, 7), power);
        EXPECT_EQ(rec(base + 33, 7), power);
        EXPECT_EQ(rec(base + 48, 5), (Bytes{0x55, 0x55, 0x55, 0xD5, 0xFF}));
    }
    EXPECT_EQ(rec(R::kSlots, 16), (Bytes{0xAA, 0x26, 0x20, 0x03, 0x04, 0x05, 0x06, 0x07, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0, 0, 0}));
    // Every second minute clears one more step of the progress byte.
    minutes(2);
    EXPECT_EQ(rec(R::kCopyA + 51, 1)[0], 0x55);
    EXPECT_EQ(rec(R::kCopyB + 52, 1)[0], 0xFF);
    minutes(2);
    EXPECT_EQ(rec(R::kCopyB + 52, 1)[0], 0xFD);
    const Bytes r = report();
    EXPECT_EQ(le32(r, 0), 34u);
    EXPECT_EQ(le32(r, 4), 34u);
    EXPECT_EQ(le32(r, 18), 34u);
    EXPECT_EQ(Bytes(r.begin() + 11, r.begin() + 18), power);
}

TEST_F(ClockRecord, RestartCountsTheLastGroupAndRestoresHalfOpenedCopies) {
    putHeader();
    Bytes full(R::kProgressBytes, 0x55);
    putGroup(R::kCopyA, 0, 0, 3, full);
    putGroup(R::kCopyB, 0, 0, 3, full);
    Bytes progress(10, 0x55);
    progress.push_back(0xF5);
    putGroup(R::kCopyA, 1, 2880, 4, progress);
    putGroup(R::kCopyB, 1, 2880, 4, progress);
    // Cut after copy A of group 2 was opened, before copy B.
    putGroup(R::kCopyA, 2, 2880 + 84, 5, {0xFD});
    reopen();

    EXPECT_EQ(rec(R::kCopyB + 2 * R::kGroupBytes, 16), rec(R::kCopyA + 2 * R::kGroupBytes, 16));
    EXPECT_EQ(g_clock_record.group_index, 3);
    EXPECT_EQ(g_clock_record.cumulative, 2880u + 84u + 2u);
    // The open group's minutes go to its sequence slot; the next slot follows.
    EXPECT_EQ(rec32(R::kSlots + 16 * 5 + 8), 2u);
    EXPECT_EQ(g_clock_record.seq, 6u);
    // After the last of the 61 sectors' slots, slot 0 with the wrap count 1.
    EXPECT_EQ(R::next_seq(R::kSlotCount - 1), 1u << 20);
    EXPECT_EQ(R::next_seq(1u << 20 | 7), 1u << 20 | 8);
    EXPECT_EQ(rec(R::kHeader, 3), (Bytes{0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(erases(R::kCopyA), 0u);

    // The restart with 10 x 55 then F5 as the last group adds 84 minutes.
    putHeader();
    Bytes last(10, 0x55);
    last.push_back(0xF5);
    m->clock_record.ExFlash_Erase_Format(R::kCopyA / 0x1000, 0, 1);
    m->clock_record.ExFlash_Erase_Format(R::kCopyB / 0x1000, 0, 1);
    putGroup(R::kCopyA, 0, 1000, 9, last);
    putGroup(R::kCopyB, 0, 1000, 9, last);
    reopen();
    EXPECT_EQ(g_clock_record.cumulative, 1084u);
    EXPECT_EQ(rec32(R::kSlots + 16 * 9 + 8), 84u);
}

TEST_F(ClockRecord, AGroupClosesAfterExactly1440StepsAndCountsOnce) {
    reopen();
    minutes(30 + 2 * (1440 - 15) - 2);
    EXPECT_EQ(rec(R::kCopyA + 1, 1)[0], 0x26);
    EXPECT_EQ(rec(R::kCopyA + R::kGroupBytes, 1)[0], 0xFF);
    minutes(2);
    // Closed: the slot holds 2880, the next group is open at 2880 minutes.
    EXPECT_EQ(rec(R::kCopyA + 407, 2), (Bytes{0x55, 0xFF}));
    EXPECT_EQ(rec(R::kCopyB + 407, 2), (Bytes{0x55, 0xFF}));
    EXPECT_EQ(rec32(R::kSlots + 8), 2880u);
    for (u32 base : {R::kCopyA, R::kCopyB}) {
        EXPECT_EQ(rec(base + R::kGroupBytes, 1)[0], 0xAA);
        EXPECT_EQ(rec32(base + R::kGroupBytes + 8), 2880u);
        EXPECT_EQ(rec(base + R::kGroupBytes + 13, 3), (Bytes{1, 0, 0}));
    }
    EXPECT_EQ(g_clock_record.cumulative, 2880u);
    EXPECT_EQ(le32(report(), 0), 2880u);
    minutes(2);
    EXPECT_EQ(rec(R::kCopyA + R::kGroupBytes + 48, 1)[0], 0xFD);
    EXPECT_EQ(le32(report(), 0), 2882u);
    EXPECT_EQ(le32(report(), 4), 2882u);
}

TEST_F(ClockRecord, TheNinthGroupWrapsToGroupZeroOverErasedSectors) {
    putHeader();
    for (int g = 0; g < 8; ++g) {
        putGroup(R::kCopyA, g, 2880u * u32(g), u32(g), Bytes(R::kProgressBytes, 0x55));
        putGroup(R::kCopyB, g, 2880u * u32(g), u32(g), Bytes(R::kProgressBytes, 0x55));
    }
    reopen();
    EXPECT_EQ(g_clock_record.group_index, 8);
    EXPECT_EQ(g_clock_record.cumulative, 8u * 2880u);
    minutes(30);
    EXPECT_EQ(erases(R::kCopyA), 1u);
    EXPECT_EQ(erases(R::kCopyB), 1u);
    EXPECT_EQ(g_clock_record.group_index, 0);
    EXPECT_EQ(rec32(R::kCopyA + 8), 8u * 2880u);
    EXPECT_EQ(rec(R::kCopyA + R::kGroupBytes, 1)[0], 0xFF);
    EXPECT_EQ(rec(R::kCopyB + 48, 4), (Bytes{0x55, 0x55, 0x55, 0xD5}));
}

TEST_F(ClockRecord, ProtocolClockSettingMarksTheRecordAndTheReportAnswers) {
    PcRequests pc;
    reopen();
    // No group open yet: the mark waits in the group that opens next.
    EXPECT_EQ(replyStatus(pc.call(PcCmd::SetClock, {0x45, 0x30, 0x12, 0x01, 0x05, 0x24, 0x20})), ReplyStatus::Ok);
    EXPECT_EQ(board().simShell().commands(),
              (std::vector<std::string>{"date -s \"2024-05-01 12:30:45\"", "hwclock -w"}));
    EXPECT_EQ(rec(R::kCopyA + 44, 1)[0], 0x5A);
    minutes(30);
    EXPECT_EQ(rec(R::kCopyB + 44, 1)[0], 0x5A);
    EXPECT_EQ(rec(R::kSlots + 12, 1)[0], 0x5A);

    // An open group is marked in copy A and its sequence slot.
    putHeader();
    reopen();
    const u32 a = R::kCopyA + R::kGroupBytes;
    minutes(30);
    EXPECT_EQ(rec(a + 44, 1)[0], 0xFF);
    m->clock_record.dealwith_record_timing();
    EXPECT_EQ(rec(a + 44, 1)[0], 0x5A);
    EXPECT_EQ(rec(R::kSlots + 16 + 12, 1)[0], 0x5A);

    const Bytes r = pc.call(PcCmd::TimeReport, {});
    ASSERT_EQ(replyStatus(r), ReplyStatus::Ok);
    const Bytes d = replyData(r);
    ASSERT_EQ(d.size(), 22u);
    EXPECT_EQ(le32(d, 0), 30u + 30u);
    EXPECT_EQ(le32(d, 4), 30u);
    EXPECT_EQ(Bytes(d.begin() + 8, d.begin() + 11), (Bytes{1, 0, 0}));
    EXPECT_EQ(le32(d, 18), 30u);
    // A bad clock setting marks nothing.
    g_clock_record.marker = 0xFF;
    EXPECT_EQ(replyStatus(pc.call(PcCmd::SetClock, {0x4A, 0, 0, 1, 1, 0x24, 0x20})), ReplyStatus::BadArgument);
    EXPECT_EQ(g_clock_record.marker, 0xFF);
}

TEST_F(ClockRecord, CommandBlockSetsTheClockFromCheckedBcdAndMarksTheRecord) {
    release(0);
    reopen();
    PcRequests pc;
    auto run = [&](const Bytes& block) {
        pc.ramWrite(PcRam::FpgaCmd, block);
        board().simShell().clear();
        m->write_to_register(2, 0x04, 0x04, 0);
        return board().simShell().commands();
    };
    const Bytes head = {0xAA, 0x01, 0x00, 0, 0, 0, 7, 0};
    auto block = [&](const Bytes& data, u16 len) {
        Bytes b = head;
        b[6] = u8(len);
        b[7] = u8(len >> 8);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    for (const Bytes& bad : {block({0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x5A}, 7),  // not BCD
                             block({0x30, 0x20, 0x02, 0x30, 0x03, 0x04, 0x05}, 7),  // 30 February
                             block({0x30, 0x20, 0x01, 0x02, 0x24, 0x04, 0x05}, 7),  // hour 24
                             block({0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05}, 6),  // short
                             block({0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05}, 1017)})
        EXPECT_TRUE(run(bad).empty());
    EXPECT_EQ(rec(R::kCopyA + 44, 1)[0], 0xFF);
    EXPECT_EQ(run(block({0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05}, 7)),
              std::vector<std::string>{"date \"2030-1-2 3:4:5\";hwclock -wu"});
    EXPECT_EQ(rec(R::kCopyA + 44, 1)[0], 0x5A);
    std::memset(fpga_manage::MCU_RAM_CMD, 0, 16);
}

}  // namespace

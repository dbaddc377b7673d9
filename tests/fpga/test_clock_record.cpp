// The running-time log in FPGA 0's flash, in virtual time against the flash
// model, and the protocol's clock setting and time report that use it.
#include "fpga_env.h"

#include "../protocol/frame_helpers.h"
#include "protocol/message_deal.h"

#include <ctime>

namespace {

using R = clock_record_run;

// The log's layout: record addresses, 0x273000 below their flash addresses.
constexpr u32 kFlashOffset = 0x273000;
constexpr u32 kHeader = 0x480000;
constexpr u32 kCopyA = 0x481000, kCopyB = 0x482000;  // eight 512-byte group records each
constexpr u32 kGroupBytes = 512;
constexpr u32 kSlots = 0x483000;  // 61 sectors of 256 sixteen-byte slots
constexpr u32 kProgressStart = 48, kProgressBytes = 360;

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
    Bytes rec(u32 address, u32 len) { return flash[0]->read(address + kFlashOffset, len); }
    void put(u32 address, const Bytes& b) { flash[0]->preload(address + kFlashOffset, b); }
    u32 rec32(u32 address) {
        const Bytes b = rec(address, 4);
        return u32(b[0]) | u32(b[1]) << 8 | u32(b[2]) << 16 | u32(b[3]) << 24;
    }
    static u32 sector(u32 address) { return (address + kFlashOffset) / 0x1000; }
    // Erases of a watched sector since the last reopen().
    u32 erases(u32 address) {
        for (int i = 0; i < 3; ++i)
            if (kWatched[i] == address) return flash[0]->eraseCount(sector(address)) - m_erased[i];
        return ~0u;
    }
    static constexpr u32 kWatched[3] = {kCopyA, kCopyB, kSlots};
    u32 m_erased[3] = {};
    // A group record opened in copy A (and B) with cumulative minutes, a
    // sequence number and progress bytes.
    void putGroup(u32 base, int g, u32 cumulative, u32 seq, const Bytes& progress) {
        const u32 a = base + kGroupBytes * u32(g);
        put(a, {0xAA, 0x26, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00});
        put(a + 8, {u8(cumulative), u8(cumulative >> 8), u8(cumulative >> 16), u8(cumulative >> 24), 0xFF, u8(seq),
                    u8(seq >> 8), u8(seq >> 16)});
        put(a + kProgressStart, progress);
    }
    void putHeader() { put(kHeader, {0xAA, 0x5A, 0xA5}); }
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
    m->clock_record.ExFlash_Erase_Format(kHeader / 0x1000, 0, 1);
    reopen();
    EXPECT_EQ(rec(kHeader, 3), (Bytes{0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(erases(kCopyA), 1u);
    EXPECT_EQ(erases(kCopyB), 1u);
    EXPECT_EQ(erases(kSlots), 1u);
    EXPECT_EQ(g_clock_record.group_index, 0);

    minutes(29);
    EXPECT_EQ(rec(kCopyA, 1)[0], 0xFF);
    EXPECT_EQ(rec(kSlots, 1)[0], 0xFF);
    minutes(1);
    const Bytes power = {0x26, 0x20, 0x03, 0x04, 0x05, 0x06, 0x07};
    for (u32 base : {kCopyA, kCopyB}) {
        EXPECT_EQ(rec(base, 1)[0], 0xAA);
        EXPECT_EQ(rec(base + 1, 7), power);
        EXPECT_EQ(rec(base + 33, 7), power);
        EXPECT_EQ(rec(base + 48, 5), (Bytes{0x55, 0x55, 0x55, 0xD5, 0xFF}));
    }
    EXPECT_EQ(rec(kSlots, 16), (Bytes{0xAA, 0x26, 0x20, 0x03, 0x04, 0x05, 0x06, 0x07, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0, 0, 0}));
    // Every second minute clears one more step of the progress byte.
    minutes(2);
    EXPECT_EQ(rec(kCopyA + 51, 1)[0], 0x55);
    EXPECT_EQ(rec(kCopyB + 52, 1)[0], 0xFF);
    minutes(2);
    EXPECT_EQ(rec(kCopyB + 52, 1)[0], 0xFD);
    const Bytes r = report();
    EXPECT_EQ(le32(r, 0), 34u);
    EXPECT_EQ(le32(r, 4), 34u);
    EXPECT_EQ(le32(r, 18), 34u);
    EXPECT_EQ(Bytes(r.begin() + 11, r.begin() + 18), power);
}

TEST_F(ClockRecord, RestartCountsTheLastGroupAndRestoresHalfOpenedCopies) {
    putHeader();
    Bytes full(kProgressBytes, 0x55);
    putGroup(kCopyA, 0, 0, 3, full);
    putGroup(kCopyB, 0, 0, 3, full);
    Bytes progress(10, 0x55);
    progress.push_back(0xF5);
    putGroup(kCopyA, 1, 2880, 4, progress);
    putGroup(kCopyB, 1, 2880, 4, progress);
    // Cut after copy A of group 2 was opened, before copy B.
    putGroup(kCopyA, 2, 2880 + 84, 5, {0xFD});
    reopen();

    EXPECT_EQ(rec(kCopyB + 2 * kGroupBytes, 16), rec(kCopyA + 2 * kGroupBytes, 16));
    EXPECT_EQ(g_clock_record.group_index, 3);
    EXPECT_EQ(g_clock_record.cumulative, 2880u + 84u + 2u);
    // The open group's minutes go to its sequence slot; the next slot follows.
    EXPECT_EQ(rec32(kSlots + 16 * 5 + 8), 2u);
    EXPECT_EQ(g_clock_record.seq, 6u);
    // After the last of the 61 sectors' slots, slot 0 with the wrap count 1.
    EXPECT_EQ(R::next_seq(61 * 256 - 1), 1u << 20);
    EXPECT_EQ(R::next_seq(1u << 20 | 7), 1u << 20 | 8);
    EXPECT_EQ(rec(kHeader, 3), (Bytes{0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(erases(kCopyA), 0u);

    // The restart with 10 x 55 then F5 as the last group adds 84 minutes.
    putHeader();
    Bytes last(10, 0x55);
    last.push_back(0xF5);
    m->clock_record.ExFlash_Erase_Format(kCopyA / 0x1000, 0, 1);
    m->clock_record.ExFlash_Erase_Format(kCopyB / 0x1000, 0, 1);
    putGroup(kCopyA, 0, 1000, 9, last);
    putGroup(kCopyB, 0, 1000, 9, last);
    reopen();
    EXPECT_EQ(g_clock_record.cumulative, 1084u);
    EXPECT_EQ(rec32(kSlots + 16 * 9 + 8), 84u);
}

TEST_F(ClockRecord, AGroupClosesAfterExactly1440StepsAndCountsOnce) {
    reopen();
    minutes(30 + 2 * (1440 - 15) - 2);
    EXPECT_EQ(rec(kCopyA + 1, 1)[0], 0x26);
    EXPECT_EQ(rec(kCopyA + kGroupBytes, 1)[0], 0xFF);
    minutes(2);
    // Closed: the slot holds 2880, the next group is open at 2880 minutes.
    EXPECT_EQ(rec(kCopyA + 407, 2), (Bytes{0x55, 0xFF}));
    EXPECT_EQ(rec(kCopyB + 407, 2), (Bytes{0x55, 0xFF}));
    EXPECT_EQ(rec32(kSlots + 8), 2880u);
    for (u32 base : {kCopyA, kCopyB}) {
        EXPECT_EQ(rec(base + kGroupBytes, 1)[0], 0xAA);
        EXPECT_EQ(rec32(base + kGroupBytes + 8), 2880u);
        EXPECT_EQ(rec(base + kGroupBytes + 13, 3), (Bytes{1, 0, 0}));
    }
    EXPECT_EQ(g_clock_record.cumulative, 2880u);
    EXPECT_EQ(le32(report(), 0), 2880u);
    minutes(2);
    EXPECT_EQ(rec(kCopyA + kGroupBytes + 48, 1)[0], 0xFD);
    EXPECT_EQ(le32(report(), 0), 2882u);
    EXPECT_EQ(le32(report(), 4), 2882u);
}

TEST_F(ClockRecord, TheNinthGroupWrapsToGroupZeroOverErasedSectors) {
    putHeader();
    for (int g = 0; g < 8; ++g) {
        putGroup(kCopyA, g, 2880u * u32(g), u32(g), Bytes(kProgressBytes, 0x55));
        putGroup(kCopyB, g, 2880u * u32(g), u32(g), Bytes(kProgressBytes, 0x55));
    }
    reopen();
    EXPECT_EQ(g_clock_record.group_index, 8);
    EXPECT_EQ(g_clock_record.cumulative, 8u * 2880u);
    minutes(30);
    EXPECT_EQ(erases(kCopyA), 1u);
    EXPECT_EQ(erases(kCopyB), 1u);
    EXPECT_EQ(g_clock_record.group_index, 0);
    EXPECT_EQ(rec32(kCopyA + 8), 8u * 2880u);
    EXPECT_EQ(rec(kCopyA + kGroupBytes, 1)[0], 0xFF);
    EXPECT_EQ(rec(kCopyB + 48, 4), (Bytes{0x55, 0x55, 0x55, 0xD5}));
}

TEST_F(ClockRecord, ProtocolClockSettingMarksTheRecordAndTheReportAnswers) {
    PcRequests pc;
    reopen();
    // No group open yet: the mark waits in the group that opens next.
    EXPECT_EQ(replyStatus(pc.call(PcCmd::SetClock, {0x45, 0x30, 0x12, 0x01, 0x05, 0x24, 0x20})), ReplyStatus::Ok);
    EXPECT_EQ(board().simShell().commands(),
              (std::vector<std::string>{"date -s \"2024-05-01 12:30:45\"", "hwclock -w"}));
    EXPECT_EQ(rec(kCopyA + 44, 1)[0], 0x5A);
    minutes(30);
    EXPECT_EQ(rec(kCopyB + 44, 1)[0], 0x5A);
    EXPECT_EQ(rec(kSlots + 12, 1)[0], 0x5A);

    // An open group is marked in copy A and its sequence slot.
    putHeader();
    reopen();
    const u32 a = kCopyA + kGroupBytes;
    minutes(30);
    EXPECT_EQ(rec(a + 44, 1)[0], 0xFF);
    m->clock_record.dealwith_record_timing();
    EXPECT_EQ(rec(a + 44, 1)[0], 0x5A);
    EXPECT_EQ(rec(kSlots + 16 + 12, 1)[0], 0x5A);

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
    EXPECT_EQ(rec(kCopyA + 44, 1)[0], 0xFF);
    EXPECT_EQ(run(block({0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05}, 7)),
              (std::vector<std::string>{"date \"2030-1-2 3:4:5\"", "hwclock -wu"}));
    EXPECT_EQ(rec(kCopyA + 44, 1)[0], 0x5A);
    std::memset(fpga_manage::MCU_RAM_CMD, 0, 16);
}

}  // namespace

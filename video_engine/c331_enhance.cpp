// Enhancement blocks of input channels 0 to 3: the de-interlacer (field
// geometry, memory, cadence detection, motion filter, diagonal
// interpolation, comb) and the noise reducers (block, temporal, line,
// mosquito), set for the input the channel shows.
//
// Every operation here runs under the manager's mutex for each window that
// is reprogrammed; only set_ip's frame waits let go of it (wait1_pivs).
#include "video_engine/c331_chip.h"

#include "video_engine/c331_manage.h"
#include "video_engine/c331_regs.h"

#include <array>
#include <iterator>

using namespace c331reg;

namespace {

constexpr int kEnhancedChannels = 4;

bool enhancedChannel(int ich) { return ich >= 0 && ich < kEnhancedChannels; }
bool validPort(int port) { return port >= 0 && port < C331_PORT_NUM; }
constexpr u32 chBase(int k) { return u32(k) * kBankBaseStep; }
bool level3(int v) { return v >= 1 && v <= 3; }

// ---- block reducer: one sequence, five members that differ in six values.
struct BlockMember {
    int height;  // the port's active height that selects it
    u32 F, A, B, C, D, E;
};
constexpr BlockMember kBlockMembers[] = {
    {240, 0, 64, 16, 64, 16, 8},      // 480i
    {480, 3, 64, 16, 128, 32, 6},     // 480p
    {540, 0, 384, 96, 384, 96, 48},   // 1080i
    {720, 3, 171, 43, 342, 86, 16},   // 720p
    {1080, 3, 384, 96, 768, 192, 36}, // 1080p
};
// A register of the sequence: its value at levels 1, 2, 3, or one of the
// member's values (A..E as -1..-5).
struct BlockReg {
    u8 reg, width;
    s16 v[3];
};
constexpr s16 mA = -1, mB = -2, mC = -3, mD = -4, mE = -5;
constexpr BlockReg kBlockSeq[] = {
    {0x39, 2, {8855, 8855, 3223}}, {0x3B, 1, {144, 160, 176}}, {0x3C, 1, {64, 64, 64}},
    {0x3D, 1, {80, 80, 80}},       {0x3E, 1, {96, 96, 96}},    {0x3F, 1, {128, 128, 128}},
    {0x40, 1, {32, 16, 16}},       {0x41, 1, {132, 66, 66}},   {0x42, 1, {65, 51, 51}},
    {0x43, 1, {6, 4, 4}},          {0x44, 1, {16, 16, 6}},     {0x45, 1, {64, 64, 64}},
    {0x46, 1, {0, 0, 0}},          {0x47, 1, {0, 0, 0}},       {0x48, 1, {6, 6, 6}},
    {0x49, 1, {4, 4, 4}},          {0x4A, 1, {64, 64, 64}},    {0x4B, 1, {18, 18, 18}},
    {0x4C, 1, {16, 16, 16}},       {0x4D, 2, {mA, mA, mA}},    {0x4F, 2, {mB, mB, mB}},
    {0x51, 1, {64, 64, 64}},       {0x52, 1, {18, 18, 18}},    {0x53, 1, {16, 16, 16}},
    {0x54, 2, {mC, mC, mC}},       {0x56, 2, {mD, mD, mD}},    {0x58, 1, {0, 0, 0}},
    {0x59, 1, {0, 0, 0}},          {0x5A, 1, {0, 0, 0}},       {0x5B, 1, {0, 0, 0}},
    {0x5C, 2, {0, 0, 0}},          {0x5E, 2, {0, 0, 0}},       {0x60, 2, {0, 0, 0}},
    {0x62, 2, {0, 0, 0}},          {0x64, 1, {18, 18, 18}},    {0x65, 1, {0, 0, 0}},
    {0x66, 1, {0, 0, 0}},          {0x67, 2, {0, 0, 0}},       {0x69, 1, {8, 8, 8}},
    {0x6A, 1, {mE, mE, mE}},
};

// ---- temporal reducer: four thresholds, seven gains per level.
constexpr u8 kTnrThresholds[4] = {49, 117, 185, 253};
constexpr u8 kTnrGains[3][7] = {
    {18, 20, 24, 27, 28, 29, 30},
    {17, 18, 20, 22, 24, 26, 28},
    {0, 8, 12, 16, 20, 24, 28},
};
constexpr u8 kTnrLimit = 31;

// ---- line reducers: (low, high) per level 1..3.
constexpr u8 kHvPairs[3][2] = {{0x42, 0x96}, {0x75, 0xC9}, {0xA8, 0xFC}};

// ---- mosquito reducer: 15:10 to 15:26, then 15:28 and 15:29, per level.
constexpr u8 kMosqHead[6] = {128, 56, 8, 128, 56, 8};  // 15:0A to 15:0F
constexpr u8 kMosqFirst = 0x10;
constexpr u8 kMosqBody[3][23] = {
    {63, 63, 127, 127, 127, 127, 63, 63, 127, 127, 127, 127, 252, 32, 213, 127, 24, 36, 0, 0, 0, 0, 0},
    {127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 252, 63, 217, 255, 24, 0, 0, 0, 0, 0, 0},
    {127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 252, 255, 217, 111, 0, 0, 0, 0, 0, 0, 0},
};
constexpr u8 kMosqTail[3][2] = {{64, 81}, {64, 0}, {0, 0}};  // 15:28, 15:29
constexpr u8 kMosqClearFirst = 0x2A, kMosqClearLast = 0x2E;

// ---- comb: (threshold, gain) per level.
constexpr u8 kComb[3][2] = {{16, 128}, {20, 128}, {112, 160}};

// ---- motion filter: the three gain groups per level 1..4.
constexpr u8 kMvGroupA[] = {0x1A, 0x1B, 0x1E, 0x1F}, kMvGroupB[] = {0x1C, 0x20}, kMvGroupC[] = {0x1D, 0x21};
constexpr u8 kMvflt[4][3] = {{4, 8, 8}, {8, 8, 16}, {8, 16, 24}, {16, 24, 31}};
constexpr u8 kMvfltOn = 31;

// ---- cadence registers 14:2E to 14:3A by input state 5..8.
constexpr u8 kCadence[4][13] = {
    {26, 16, 17, 142, 6, 128, 192, 193, 193, 193, 0, 193, 193},
    {26, 16, 17, 142, 6, 128, 192, 0, 0, 0, 0, 0, 0},
    {13, 3, 17, 53, 2, 128, 40, 196, 196, 196, 196, 194, 194},
    {13, 3, 17, 69, 2, 128, 40, 0, 0, 0, 0, 0, 0},
};
// 14:42 to 14:4A: video states (5, 6) and film states (7, 8).
constexpr u8 kMotion[2][9] = {{68, 0, 3, 0, 0, 2, 15, 0, 0}, {70, 0, 3, 0, 0, 0, 9, 0, 0}};

// ---- diagonal interpolation 14:50 to 14:63 per level.
constexpr u8 kDiag[3][kDiagRegs] = {
    {9, 255, 119, 0, 4, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 50, 0, 0, 0, 0},
    {11, 127, 119, 3, 4, 16, 1, 4, 10, 20, 4, 4, 2, 2, 16, 50, 0, 0, 0, 0},
    {11, 127, 119, 19, 9, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 49, 0, 0, 0, 0},
};

}  // namespace

int c331_chip::enhancedPort(int ich) const {
    if (!enhancedChannel(ich)) return -1;
    const int owner = m.ich_owner[ich];
    if (owner < 0 || owner >= C331_WIN_NUM) return -1;
    const int port = m.PM_INPUT[owner];
    return validPort(port) ? port : -1;
}

bool c331_chip::enhanceArgs(int ich, int port) const { return enhancedChannel(ich) && validPort(port); }

void c331_chip::set_ip(int fd, int ich) {
    const int p = enhancedPort(ich);
    if (p < 0) return;
    const u32 b = chBase(ich);
    const bool interlaced = m.PI_SCAN_MODE[p] != 0;
    const bool anyNr = m.PM_HNR[p] || m.PM_VNR[p] || m.PM_TNR[p] || m.PM_BNR[p] || m.PM_MNR[p];
    const bool nr = m.PI_STATE[p] > 3 && anyNr;

    if (!nr && !interlaced) {
        wr(NR_PASS, 0, b);
        set_nr(fd, ich, p);
    } else {
        wait1_pivs(fd, ich);
        wait1_pivs(fd, ich);
        latch(true);
        m.PI_IFH[p] = s32(rd(ICH_FIELD_HTT(ich)) + 1);
        m.PI_IFV[p] = s32(rd(ICH_FIELD_VW(ich)));
        latch(false);
        s32 h = m.PI_IFH[p];
        if (interlaced) h = (h + 1) / 2;
        const s32* act = m.PI_ACT[p];
        const int rows = interlaced ? 2 : 1;
        wr(IP_FIELD_HTT, u32(h + 32), b);
        wr(IP_FIELD_VTT, u32((m.PI_IFV[p] + 16) * 2), b);
        wr(IP_HTT34, (u32((h + 33) * 3 / 4) & 0x3FFF) + 0x8000, b);
        wr(IP_FIELD_EN, 1, b);
        wr(IP_ACT_HW, u32(act[1]), b);
        wr(IP_ACT_VW, u32(act[3] * rows), b);
        wr(IP_ACT_VST, u32(act[2] * rows) + 0x8000, b);

        set_mvflt(fd, ich, p);
        set_diag(fd, ich, p);
        set_ipregs(fd, ich, p);
        set_comb(fd, ich, p);
        set_nr(fd, ich, p);
        if (interlaced) {
            wr(IP_MODE, m.PM_IPEN[p] ? 0 : 32, b);
            wr(IP_FIELD_WIN1, 8, b);
            wr(IP_FIELD_WIN2, 4, b);
        } else {
            wr(IP_MODE, 16, b);
            wr(IP_FIELD_WIN1, 0, b);
            wr(IP_FIELD_WIN2, 0, b);
        }
    }

    // The de-interlacer's memory: two field pairs with the chroma offset for
    // an interlaced input, the two frame buffers for a progressive one.
    const auto& sys = m.sys;
    if (interlaced) {
        const u32 off = (sys.PS_MWI_IP[ich] % 32) * 1024;
        const u32 i0 = sys.PS_MEM_IP_I[ich][0], i1 = sys.PS_MEM_IP_I[ich][1];
        const u32 mem[8] = {off + i0, i0, off + i1, i1, off + i0, i0, off + i1, i1};
        // Registers 17:18 to 17:24 first, then 17:08 to 17:14.
        for (int i = 0; i < 4; ++i) wr(IP_MEM(4 + i), mem[i], b);
        for (int i = 0; i < 4; ++i) wr(IP_MEM(i), mem[4 + i], b);
        wr(IP_MEM_YOFF, sys.PS_MEM_IPYOFF[ich], b);
        wr(IP_MEM_MODE, 1, b);
    } else {
        const u32 p0 = sys.PS_MEM_IP_P[ich][0], p1 = sys.PS_MEM_IP_P[ich][1];
        for (int i : {4, 6, 0, 2}) wr(IP_MEM(i), p0, b);
        for (int i : {5, 7, 1, 3}) wr(IP_MEM(i), p1, b);
        wr(IP_MEM_YOFF, 0, b);
        wr(IP_MEM_MODE, 0, b);
    }
}

void c331_chip::set_nr(int fd, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const u32 b = chBase(ich);
    if (m.PI_STATE[port] > 3) {
        set_nr_block(fd, ich, port);
        set_nr_tpx(fd, ich, port);
        set_nr_hvpx(fd, ich, port);
        set_nr_mosq(fd, ich, port);
        u32 mode = 0;
        if (m.PI_SCAN_MODE[port] == 0) {
            if (m.PM_BNR[port])
                mode = 3;
            else if (m.PM_HNR[port] || m.PM_VNR[port] || m.PM_TNR[port] || m.PM_MNR[port])
                mode = 1;
        }
        wr(NR_MODE, mode, b);
    } else {
        wr(NR_BLOCK_TH, 0, b);
        wr(TNR_EN, 0, b);
        wr(NR_HV_EN, 0, b);
        wr(NR_MOSQ_EN, 0, b);
        wr(NR_MODE, 0, b);
    }
}

void c331_chip::set_nr_block(int fd, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    if (m.PM_BNR[port] == 0) {
        wr(NR_BLOCK_TH, 0, chBase(ich));
        return;
    }
    switch (m.PI_ACT[port][3]) {
    case 240: set_nr_b_480i(fd, ich, port); break;
    case 480: set_nr_b_480p(fd, ich, port); break;
    case 540: set_nr_b_1080i(fd, ich, port); break;
    case 720: set_nr_b_720p(fd, ich, port); break;
    case 1080: set_nr_b_1080p(fd, ich, port); break;
    default: break;
    }
}

void c331_chip::set_nr_b(int ich, int port, int height) {
    if (!enhanceArgs(ich, port)) return;
    const int level = m.PM_BNR[port];
    if (!level3(level)) return;
    const BlockMember* member = nullptr;
    for (const BlockMember& bm : kBlockMembers)
        if (bm.height == height) member = &bm;
    if (!member) return;
    const u32 b = chBase(ich);
    const u32 fromMember[5] = {member->A, member->B, member->C, member->D, member->E};
    wr(NR_MODE, member->F, b);
    for (const BlockReg& r : kBlockSeq) {
        const s16 v = r.v[level - 1];
        wr(NR_REG(r.reg, r.width), v < 0 ? fromMember[-v - 1] : u32(v), b);
    }
}

void c331_chip::set_nr_b_480i(int, int ich, int port) { set_nr_b(ich, port, 240); }
void c331_chip::set_nr_b_480p(int, int ich, int port) { set_nr_b(ich, port, 480); }
void c331_chip::set_nr_b_1080i(int, int ich, int port) { set_nr_b(ich, port, 540); }
void c331_chip::set_nr_b_720p(int, int ich, int port) { set_nr_b(ich, port, 720); }
void c331_chip::set_nr_b_1080p(int, int ich, int port) { set_nr_b(ich, port, 1080); }

void c331_chip::set_nr_tpx(int, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const u32 b = chBase(ich);
    const int level = m.PM_TNR[port];
    if (!level3(level)) {
        wr(TNR_EN, 0, b);
        return;
    }
    wr(TNR_EN, 3, b);
    int i = 0;
    for (u8 v : kTnrThresholds) wr(TNR_CURVE(i++), v, b);
    for (u8 v : kTnrGains[level - 1]) wr(TNR_CURVE(i++), v, b);
    wr(TNR_CURVE(i), kTnrLimit, b);
}

void c331_chip::set_nr_hvpx(int, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const u32 b = chBase(ich);
    const int h = m.PM_HNR[port], v = m.PM_VNR[port];
    wr(NR_HV_EN, (level3(h) ? 1u : 0u) + (level3(v) ? 16u : 0u), b);
    wr(NR_H_LOW, level3(h) ? kHvPairs[h - 1][0] : 0, b);
    wr(NR_H_HIGH, level3(h) ? kHvPairs[h - 1][1] : 0, b);
    wr(NR_V_LOW, level3(v) ? kHvPairs[v - 1][0] : 0, b);
    wr(NR_V_HIGH, level3(v) ? kHvPairs[v - 1][1] : 0, b);
}

void c331_chip::set_nr_mosq(int, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const u32 b = chBase(ich);
    const int level = m.PM_MNR[port];
    if (!level3(level)) {
        wr(NR_MOSQ_EN, 0, b);
        return;
    }
    wr(NR_MOSQ_EN, 1, b);
    int r = regOf(NR_MOSQ_EN) + 1;
    for (u8 v : kMosqHead) wr(NR_REG(r++), v, b);
    r = kMosqFirst;
    for (u8 v : kMosqBody[level - 1]) wr(NR_REG(r++), v, b);
    // 15:27 is not part of the reducer's settings.
    wr(NR_REG(0x28), kMosqTail[level - 1][0], b);
    wr(NR_REG(0x29), kMosqTail[level - 1][1], b);
    for (r = kMosqClearFirst; r <= kMosqClearLast; ++r) wr(NR_REG(r), 0, b);
}

void c331_chip::set_comb(int, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const u32 b = chBase(ich);
    const int level = m.PM_COMB[port];
    if (m.PI_STATE[port] <= 3 || !level3(level)) {
        wr(IP_COMB_EN, 0, b);
        return;
    }
    wr(IP_COMB_EN, 1, b);
    wr(IP_COMB_TH, kComb[level - 1][0], b);
    wr(IP_COMB_GAIN, kComb[level - 1][1], b);
}

void c331_chip::set_mvflt(int, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const u32 b = chBase(ich);
    const int level = m.PM_MVFLT[port];
    const bool on = m.PI_STATE[port] >= 4 && level >= 1 && level <= 4;
    wr(IP_MVFLT_EN, on ? kMvfltOn : 0, b);
    const u8* v = on ? kMvflt[level - 1] : nullptr;
    for (u8 r : kMvGroupA) wr(IP_MVFLT(r), v ? v[0] : 0, b);
    for (u8 r : kMvGroupB) wr(IP_MVFLT(r), v ? v[1] : 0, b);
    for (u8 r : kMvGroupC) wr(IP_MVFLT(r), v ? v[2] : 0, b);
}

void c331_chip::set_ipregs(int, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const int state = m.PI_STATE[port];
    if (state < 5 || state > 8) return;
    const u32 b = chBase(ich);
    int i = 0;
    for (u8 v : kCadence[state - 5]) wr(IP_CADENCE(i++), v, b);
    const bool video = state <= 6;
    i = 0;
    for (u8 v : kMotion[video ? 0 : 1]) wr(IP_MOTION(i++), v, b);
    wr(IP_CADENCE_EN, 0x32u + (m.PM_22PD[port] ? 0x40u : 0u) + (m.PM_23PD[port] ? 0x80u : 0u) + (video ? 1u : 0u),
       b);
    wr(IP_24SF, m.PM_24SF[port] ? 25 : 9, b);
    wr(IP_PD_TH, u32(m.PM_23PDSQTH[port] & 0xF) + 16 * u32(m.PM_22PDSQTH[port] & 0xF), b);
}

void c331_chip::set_diag(int, int ich, int port) {
    if (!enhanceArgs(ich, port)) return;
    const u32 b = chBase(ich);
    const int level = m.PM_DIAG[port];
    if (m.PI_STATE[port] <= 3 || !level3(level)) {
        for (int i = 0; i < kDiagOffRegs; ++i) wr(IP_DIAG(i), 0, b);
        return;
    }
    int i = 0;
    for (u8 v : kDiag[level - 1]) wr(IP_DIAG(i++), v, b);
}

#include "video_io/ite6805_cec_sys.h"

#include "video_io/ite6805_cec_drv.h"
#include "video_io/ite6805_cec_feture.h"
#include "video_io/ite6805_drv.h"
#include "video_io/ite6805_reg.h"
#include "video_io/ite6805_sys.h"

#include <array>
#include <cstring>

using namespace it6805;

namespace {
// Minimum length (bits 4-0, header and opcode included), may be directed
// (bit 7), may be broadcast (bits 6 and 5), by opcode.
constexpr std::array<u8, 256> buildMsgSize() {
    const u8 rows[][2] = {
        {0x00, 0x84}, {0x04, 0x82}, {0x05, 0x82}, {0x06, 0x82}, {0x07, 0x87}, {0x08, 0x83}, {0x09, 0x83},
        {0x0A, 0x83}, {0x0B, 0x82}, {0x0D, 0x82}, {0x0F, 0x82}, {0x1A, 0x83}, {0x1B, 0x83}, {0x32, 0x65},
        {0x33, 0x8D}, {0x34, 0x8D}, {0x35, 0x83}, {0x36, 0xE2}, {0x41, 0x83}, {0x42, 0x83}, {0x43, 0x83},
        {0x44, 0x83}, {0x45, 0x82}, {0x46, 0x82}, {0x47, 0x82}, {0x64, 0x83}, {0x67, 0x82}, {0x70, 0x82},
        {0x71, 0x82}, {0x72, 0xE3}, {0x7A, 0x83}, {0x7D, 0x82}, {0x7E, 0x83}, {0x80, 0x66}, {0x81, 0x64},
        {0x82, 0x64}, {0x83, 0x82}, {0x84, 0x65}, {0x85, 0x62}, {0x86, 0x64}, {0x87, 0x65}, {0x89, 0x82},
        {0x8A, 0xE2}, {0x8B, 0xE2}, {0x8C, 0x82}, {0x8D, 0x83}, {0x8E, 0x83}, {0x8F, 0x82}, {0x90, 0xA3},
        {0x91, 0x82}, {0x92, 0x86}, {0x93, 0x89}, {0x97, 0x90}, {0x99, 0x90}, {0x9A, 0x83}, {0x9D, 0x84},
        {0x9E, 0x83}, {0x9F, 0x82}, {0xA0, 0xE5}, {0xA1, 0x8D}, {0xA2, 0x8D}, {0xA3, 0x82}, {0xA4, 0x82},
        {0xA5, 0x82}, {0xA6, 0x66}, {0xA7, 0x64}, {0xA8, 0x67}, {0xC0, 0x82}, {0xC1, 0x82}, {0xC2, 0x82},
        {0xC3, 0x82}, {0xC4, 0x82}, {0xC5, 0x82}, {0xF8, 0x62}, {0xFF, 0x82},
    };
    std::array<u8, 256> t{};
    for (const auto& r : rows) t[r[0]] = r[1];
    return t;
}
constexpr std::array<u8, 256> kMsgSize = buildMsgSize();
}  // namespace

const u8 ite6805_cec_sys::cec_msg_size[256] = {
#define R(i) kMsgSize[i], kMsgSize[i + 1], kMsgSize[i + 2], kMsgSize[i + 3]
#define R16(i) R(i), R(i + 4), R(i + 8), R(i + 12)
    R16(0x00), R16(0x10), R16(0x20), R16(0x30), R16(0x40), R16(0x50), R16(0x60), R16(0x70),
    R16(0x80), R16(0x90), R16(0xA0), R16(0xB0), R16(0xC0), R16(0xD0), R16(0xE0), R16(0xF0),
#undef R16
#undef R
};

ite6805_cec_sys::ite6805_cec_sys(ite6805_sys& root, ite6805_i2c_rdwr& io) : m_root(root), m_io(io) {
    for (int rx = 0; rx < 2; ++rx) cur[rx] = &rec[rx];
}

void ite6805_cec_sys::reset_bookkeeping(int rx) {
    rec[rx] = iTE6805_CEC_RECORD{};
    cur[rx] = &rec[rx];
    tx_retry[rx] = 0;
}

void ite6805_cec_sys::iTE6805_CEC_INIT(int rx) {
    iTE6805_CEC_RECORD& r = rec[rx];
    m_root.data[rx].STATECEC = 0;
    r.MyLogicalAddr = 0;
    r.PhyicalAddr[0] = r.PhyicalAddr[1] = 0;
    r.RxReadIdx = r.RxWriteIdx = 0;
    std::memset(r.RxStaging, 0, sizeof r.RxStaging);
    r.Flags = 0x0100;
    cur[rx] = &r;

    m_io.cecwr_6805(0x08, 0x4C, rx);
    m_io.cecwr_6805(0x08, 0x48, rx);
    m_io.cecwr_6805(0x09, 0x60, rx);
    m_io.cecwr_6805(0x0B, 0x14, rx);
    m_io.cecwr_6805(0x0C, m_root.drv().RCLKVALUE_160[rx], rx);
    m_io.cecset_6805(0x08, 0x04, 0x00, rx);
    m_io.cecset_6805(0x09, 0x02, 0x00, rx);
    m_io.cecwr_6805(0x06, 0x00, rx);
    m_io.cecset_6805(0x08, 0x01, 0x01, rx);
    m_root.cec_drv().iTE6805_CEC_Reset_RX_FIFO(rx);
    m_io.cecwr_6805(0x22, 0x00, rx);
    m_io.cecwr_6805(0x0A, 0x03, rx);
    m_io.cecset_6805(0x0A, 0x40, 0x40, rx);
}

void ite6805_cec_sys::iTE6805_hdmirx_CEC_irq(int rx) {
    const u8 v = m_io.cecrd_6805(CEC_REG_INT, rx);
    m_io.cecwr_6805(CEC_REG_INT, v, rx);
    if (v & CEC_INT_TX_DONE) iTE6805_CEC_chg(2, rx);
    if (v & CEC_INT_TX_ERR) iTE6805_CEC_chg(3, rx);
    if (v & CEC_INT_RX) iTE6805_CEC_chg(4, rx);
    if (v & CEC_INT_FIFO) m_root.cec_drv().iTE6805_CEC_Reset_RX_FIFO(rx);
}

void ite6805_cec_sys::iTE6805_CEC_chg(u32 state, int rx) {
    ite6805_cec_drv& drv = m_root.cec_drv();
    m_root.data[rx].STATECEC = state;
    switch (state) {
    case 2:
        if (!drv.iTE6805_CEC_Check_IsPollingMsg(rx) && drv.iTE6805_CEC_Get_TxFailStatus(rx) == 2) {
            ++tx_retry[rx];
            if (drv.iTE6805_CEC_Check_Fire_Ready(rx)) drv.iTE6805_CEC_Fire_Tx(rx);
        }
        break;
    case 3:
        if (drv.iTE6805_CEC_Check_IsPollingMsg(rx)) drv.iTE6805_CEC_Get_TxFailStatus(rx);
        break;
    case 4:
        iTE6805_CEC_CMD_Push_To_Queue_Handler(rx);
        while (iTE6805_CEC_RX_CMD_Pull(rx))
            if (iTE6805_CEC_CMD_Check(rec[rx], rx)) m_root.cec_feture().iTE6805_CEC_CMD_Feature_decode(rec[rx], rx);
        rec[rx].RxReadIdx = rec[rx].RxWriteIdx = 0;
        break;
    default: break;
    }
}

void ite6805_cec_sys::iTE6805_CEC_CMD_Push_To_Queue_Handler(int rx) {
    ite6805_cec_drv& drv = m_root.cec_drv();
    iTE6805_CEC_RECORD& r = rec[rx];
    u8 st[3];
    m_io.cecbrd_it6805(CEC_REG_RX_STATUS, 3, st, rx);
    // A chip that keeps reporting messages gets at most a ring's worth of
    // reads per step; the rest waits for the next one.
    int taken = 0;
    while (!(st[0] & CEC_RX_FAULT)) {
        if (r.RxStaging[0] && !drv.iTE6805_CEC_RX_CMD_Push(r.RxStaging, rx)) return;
        for (int i = 0; i < (st[1] & 0x0F); ++i) {
            if (taken++ >= CEC_MSGS_PER_STEP) return;
            m_io.cecbrd_it6805(CEC_REG_RX_HEADER, 3, r.RxStaging, rx);
            if (!drv.iTE6805_CEC_RX_CMD_Push(r.RxStaging, rx)) return;
        }
        m_io.cecbrd_it6805(CEC_REG_RX_STATUS, 2, st, rx);
        if ((st[1] & 0x0F) == 0) return;
        if (taken >= CEC_MSGS_PER_STEP) return;
    }
    drv.iTE6805_CEC_Reset_RX_FIFO(rx);
}

int ite6805_cec_sys::iTE6805_CEC_RX_CMD_Pull(int rx) {
    iTE6805_CEC_RECORD& r = rec[rx];
    r.RxLen = 0;
    std::memset(r.RxMsg, 0, sizeof r.RxMsg);
    const int used = (r.RxWriteIdx - r.RxReadIdx) & (CEC_RING_SIZE - 1);
    if (used < 3) return 0;
    const int first = r.RxQueue[r.RxReadIdx];
    if (first < 3 || first > used || first - 1 > CEC_MSG_MAX) return 0;
    for (int i = 0; i < first - 1; ++i) r.RxMsg[i] = r.RxQueue[(r.RxReadIdx + 1 + i) & (CEC_RING_SIZE - 1)];
    r.RxLen = u8(first - 1);
    r.RxReadIdx = u8((r.RxReadIdx + first) & (CEC_RING_SIZE - 1));
    r.Destination = r.RxMsg[0] & 0x0F;
    r.Initiator = r.RxMsg[0] >> 4;
    return 1;
}

int ite6805_cec_sys::iTE6805_CEC_CMD_Check(const iTE6805_CEC_RECORD& msg, int rx) const {
    const u8 my = rec[rx].MyLogicalAddr;
    const u8 entry = cec_msg_size[msg.RxMsg[1]];
    const u8 need = entry & 0x1F;
    if (msg.RxLen < need || msg.RxLen < 2 || msg.RxLen > 16) return 0;
    if (msg.Initiator != 15 && msg.Initiator == my) return 0;
    if (msg.Destination != 15) return msg.Destination == my && (entry == 0 || (entry & 0x80));
    return entry == 0 || (entry & 0x60);
}

#include "video_io/ite6805_cec_drv.h"

#include "video_io/ite6805_cec_sys.h"
#include "video_io/ite6805_reg.h"
#include "video_io/ite6805_sys.h"

#include <algorithm>
#include <cstring>

using namespace it6805;

ite6805_cec_drv::ite6805_cec_drv(ite6805_sys& root, ite6805_i2c_rdwr& io) : m_root(root), m_io(io) {}

int ite6805_cec_drv::iTE6805_CEC_RX_CMD_Push(const u8* frame, int rx) {
    iTE6805_CEC_RECORD& r = m_root.cec_sys().rec[rx];
    const u8 size = frame[2];
    const int len = size & 0x1F;
    // A message with error bits, or one no CEC frame can be (shorter than
    // header and opcode, longer than sixteen bytes), is dropped whole.
    if ((size & CEC_SIZE_ERRORS) || len < 2 || len > 16) {
        std::memset(r.RxStaging, 0, sizeof r.RxStaging);
        return 1;
    }
    constexpr int mask = CEC_RING_SIZE - 1;
    const int used = (r.RxWriteIdx - r.RxReadIdx) & mask;
    // One byte stays free so that a full ring never reads as empty.
    if (CEC_RING_SIZE - used <= len + 1) return 0;
    int w = r.RxWriteIdx;
    r.RxQueue[w] = u8(len + 1);
    r.RxQueue[(w + 1) & mask] = frame[0];
    r.RxQueue[(w + 2) & mask] = frame[1];
    std::memset(r.RxStaging, 0, sizeof r.RxStaging);
    w = (w + 3) & mask;
    const int operands = len - 2;
    if (w + operands <= CEC_RING_SIZE) {
        m_io.cecbrd_it6805(CEC_REG_RX_OPERAND, operands, r.RxQueue + w, rx);
    } else {
        for (int i = 0; i < operands; ++i) r.RxQueue[(w + i) & mask] = m_io.cecrd_6805(CEC_REG_RX_OPERAND, rx);
    }
    r.RxWriteIdx = u8((w + operands) & mask);
    return 1;
}

void ite6805_cec_drv::iTE6805_CEC_Reset_RX_FIFO(int rx) {
    m_io.cecwr_6805(CEC_REG_RX_COUNT, 0x60, rx);
    m_io.cecwr_6805(CEC_REG_RX_COUNT, 0xE0, rx);
    m_io.cecwr_6805(CEC_REG_RX_COUNT, 0x80, rx);
    std::memset(m_root.cec_sys().rec[rx].RxStaging, 0, 3);
}

void ite6805_cec_drv::iTE6805_CEC_INIT_CMD(u8 initiator, u8 destination, int rx) {
    iTE6805_CEC_RECORD& r = m_root.cec_sys().rec[rx];
    std::memset(r.TxMsg, 0, sizeof r.TxMsg);
    r.TxMsg[0] = u8((initiator << 4) | (destination & 0x0F));
    r.TxLen = 1;
}

void ite6805_cec_drv::iTE6805_CEC_CMD_Ready_To_Fire(int rx) {
    iTE6805_CEC_RECORD& r = m_root.cec_sys().rec[rx];
    const u8 len = std::min<u8>(r.TxLen, CEC_MSG_MAX);
    m_io.cecwr_6805(CEC_REG_TX_LEN, len, rx);
    m_io.cecbwr_it6805(CEC_REG_TX_BUF, len, r.TxMsg, rx);
    m_root.cec_sys().tx_retry[rx] = 0;
    iTE6805_CEC_Fire_Tx(rx);
}

void ite6805_cec_drv::iTE6805_CEC_Fire_Tx(int rx) {
    m_io.cecset_6805(CEC_REG_FIRE, 0x88, 0x08, rx);
    m_io.cecset_6805(CEC_REG_FIRE, 0x88, 0x88, rx);
}

bool ite6805_cec_drv::iTE6805_CEC_Check_IsPollingMsg(int rx) {
    const u8 header = m_io.cecrd_6805(CEC_REG_TX_BUF, rx);
    return (header >> 4) == (header & 0x0F);
}

u8 ite6805_cec_drv::iTE6805_CEC_Get_TxFailStatus(int rx) {
    const u8 s = m_io.cecrd_6805(CEC_REG_TX_STATUS, rx) & 0x03;
    return s == 1 ? 1 : s == 2 ? 2 : 0;
}

u8 ite6805_cec_drv::iTE6805_CEC_Check_Fire_Ready(int rx) {
    m_io.cecrd_6805(CEC_REG_READY, rx);
    return 0;
}

void ite6805_cec_drv::iTE6805_CEC_Clear_INT(int rx) {
    m_io.cecset_6805(0x08, 0x01, 0x01, rx);
    m_io.cecset_6805(0x08, 0x01, 0x00, rx);
}

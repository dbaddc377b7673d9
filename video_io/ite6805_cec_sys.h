#pragma once
// CEC of the IT6805 receivers: state and receive-queue handling. The chip's
// receive FIFO is drained into a 64-byte ring per receiver, whole messages
// are pulled from the ring, checked against cec_msg_size and the addressing,
// and answered by ite6805_cec_feture. The device never starts a
// conversation of its own. CEC states: 0 after initialisation,
// 2 transmission finished, 3 transmission error, 4 messages received.
#include "core/global.h"
#include "video_io/ite6805_i2c_rdwr.h"

class ite6805_sys;

constexpr int CEC_RING_SIZE = 64;
constexpr int CEC_MSG_MAX = 20;
// Messages taken from the chip in one step, however many it reports.
constexpr int CEC_MSGS_PER_STEP = 16;

struct iTE6805_CEC_RECORD {
    u8 MyLogicalAddr;
    u8 PhyicalAddr[2];       // low byte first
    u8 RxReadIdx;
    u8 RxWriteIdx;
    u8 RxQueue[CEC_RING_SIZE];
    u8 RxStaging[3];         // header, opcode, size byte; [0] != 0: waiting
    u8 RxLen;
    u8 RxMsg[CEC_MSG_MAX];
    u8 Destination;
    u8 Initiator;
    u8 TxLen;
    u8 TxMsg[CEC_MSG_MAX];
    u16 Flags;               // 0x0100 after initialisation
};

class ite6805_cec_sys {
public:
    ite6805_cec_sys(ite6805_sys& root, ite6805_i2c_rdwr& io);

    static const u8 cec_msg_size[256];

    iTE6805_CEC_RECORD rec[2]{};
    iTE6805_CEC_RECORD* cur[2]{};
    u8 tx_retry[2]{};

    void iTE6805_CEC_INIT(int rx);
    void iTE6805_hdmirx_CEC_irq(int rx);
    void iTE6805_CEC_chg(u32 state, int rx);
    void iTE6805_CEC_CMD_Push_To_Queue_Handler(int rx);
    int iTE6805_CEC_RX_CMD_Pull(int rx);
    // 1 when the received message is for this device and well-formed.
    int iTE6805_CEC_CMD_Check(const iTE6805_CEC_RECORD& msg, int rx) const;
    // Forgets the queue and the addresses (start-up of the receivers).
    void reset_bookkeeping(int rx);

private:
    ite6805_sys& m_root;
    ite6805_i2c_rdwr& m_io;
};

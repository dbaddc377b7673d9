#pragma once
// CEC register sequences of the IT6805 and the receive ring.
#include "core/global.h"
#include "video_io/ite6805_i2c_rdwr.h"

class ite6805_sys;

class ite6805_cec_drv {
public:
    ite6805_cec_drv(ite6805_sys& root, ite6805_i2c_rdwr& io);

    // Queues the staged message (header, opcode, size byte) and its operands
    // from the chip; 0 when the ring has no room (the message stays staged),
    // else 1, also for a message dropped for error bits or a bad length.
    int iTE6805_CEC_RX_CMD_Push(const u8* frame, int rx);
    void iTE6805_CEC_Reset_RX_FIFO(int rx);

    void iTE6805_CEC_INIT_CMD(u8 initiator, u8 destination, int rx);
    void iTE6805_CEC_CMD_Ready_To_Fire(int rx);
    void iTE6805_CEC_Fire_Tx(int rx);
    bool iTE6805_CEC_Check_IsPollingMsg(int rx);
    u8 iTE6805_CEC_Get_TxFailStatus(int rx);
    // The chip never reports ready for a retry.
    u8 iTE6805_CEC_Check_Fire_Ready(int rx);
    void iTE6805_CEC_Clear_INT(int rx);

private:
    ite6805_sys& m_root;
    ite6805_i2c_rdwr& m_io;
};

#include "video_io/ite6805_cec_feture.h"

#include "video_io/ite6805_cec_drv.h"
#include "video_io/ite6805_cec_sys.h"
#include "video_io/ite6805_sys.h"

namespace {
constexpr u8 kBroadcast = 15;
constexpr u8 kRefused = 4;
}  // namespace

void ite6805_cec_feture::reply(u8 destination, std::initializer_list<u8> body, int rx) {
    iTE6805_CEC_RECORD& r = m_root.cec_sys().rec[rx];
    m_root.cec_drv().iTE6805_CEC_INIT_CMD(r.MyLogicalAddr, destination, rx);
    for (u8 b : body)
        if (r.TxLen < CEC_MSG_MAX) r.TxMsg[r.TxLen++] = b;
    m_root.cec_drv().iTE6805_CEC_CMD_Ready_To_Fire(rx);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Reply_Feture_Abort(u8 opcode, u8 reason, int rx) {
    reply(m_root.cec_sys().rec[rx].Initiator, {0x00, opcode, reason}, rx);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_SET_OSD_NAME(int rx) {
    reply(m_root.cec_sys().rec[rx].Initiator, {0x47, 0x68, 0x05}, rx);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Future_Report_PA(int rx) {
    const u8* pa = m_root.cec_sys().rec[rx].PhyicalAddr;
    reply(kBroadcast, {0x84, pa[1], pa[0], 0x00}, rx);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_ACTIVE_SOURCE(int rx) {
    const u8* pa = m_root.cec_sys().rec[rx].PhyicalAddr;
    reply(kBroadcast, {0x82, pa[1], pa[0]}, rx);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Device_VenderID(int rx) { reply(kBroadcast, {0x87, 0x00, 0x00, 0x00}, rx); }

void ite6805_cec_feture::iTE6805_CEC_MSG_REPORT_POWER_STATUS(int rx) {
    reply(m_root.cec_sys().rec[rx].Initiator, {0x90, PowerStatus}, rx);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Reply_CEC_Version(int rx) {
    reply(m_root.cec_sys().rec[rx].Initiator, {0x9E, 0x06}, rx);
}

void ite6805_cec_feture::iTE6805_CEC_CMD_Feature_decode(const iTE6805_CEC_RECORD& msg, int rx) {
    const u8 opcode = msg.RxMsg[1];
    switch (opcode) {
    case 0x0F:
    case 0x42:
    case 0xFF: iTE6805_CEC_MSG_Reply_Feture_Abort(opcode, kRefused, rx); break;
    case 0x46: iTE6805_CEC_MSG_SET_OSD_NAME(rx); break;
    case 0x83: iTE6805_CEC_MSG_Future_Report_PA(rx); break;
    case 0x85: iTE6805_CEC_MSG_ACTIVE_SOURCE(rx); break;
    case 0x8C: iTE6805_CEC_MSG_Device_VenderID(rx); break;
    case 0x8F: iTE6805_CEC_MSG_REPORT_POWER_STATUS(rx); break;
    case 0x9F: iTE6805_CEC_MSG_Reply_CEC_Version(rx); break;
    default: break;
    }
}

#pragma once
// The CEC requests a display sink answers: OSD name, physical address,
// active source, vendor id, power status and CEC version; a few are
// refused.
#include "core/global.h"

#include <initializer_list>

class ite6805_sys;
struct iTE6805_CEC_RECORD;

class ite6805_cec_feture {
public:
    explicit ite6805_cec_feture(ite6805_sys& root) : m_root(root) {}

    u8 PowerStatus = 0;  // on

    void iTE6805_CEC_CMD_Feature_decode(const iTE6805_CEC_RECORD& msg, int rx);

    void iTE6805_CEC_MSG_Reply_Feture_Abort(u8 opcode, u8 reason, int rx);
    void iTE6805_CEC_MSG_SET_OSD_NAME(int rx);
    void iTE6805_CEC_MSG_Future_Report_PA(int rx);
    void iTE6805_CEC_MSG_ACTIVE_SOURCE(int rx);
    void iTE6805_CEC_MSG_Device_VenderID(int rx);
    void iTE6805_CEC_MSG_REPORT_POWER_STATUS(int rx);
    void iTE6805_CEC_MSG_Reply_CEC_Version(int rx);

private:
    // Starts a reply from this device to `destination` with the opcode and
    // operands, and sends it.
    void reply(u8 destination, std::initializer_list<u8> body, int rx);

    ite6805_sys& m_root;
};

#include "ui/shell/fpga_panel.h"

// The FPGA manager is reached through its singleton pointer and is compiled
// in once its header is part of the tree; until then every answer is "no".
#if __has_include("fpga/fpga_manage.h")
#include "fpga/fpga_manage.h"
#define ZRV_PANEL_HAS_FPGA 1
#else
#define ZRV_PANEL_HAS_FPGA 0
#endif

namespace FpgaPanel {

#if ZRV_PANEL_HAS_FPGA

bool exists() { return fpga_manage::p_fpga_manage != nullptr; }

bool running() {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m && m->get_fpga_status();
}

bool portLinks(u32* mask) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !mask) return false;
    *mask = u32(m->get_wlan_state()) & 0xFFFFFF;
    return true;
}

bool readAgeRegisters(u8 out[6]) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) return false;
    static const u8 regs[3] = {42, 40, 43};
    for (u8 fpga = 0; fpga < 2; ++fpga) {
        for (int k = 0; k < 3; ++k) {
            m->read_from_register(regs[k], fpga);
            out[fpga * 3 + k] = u8(m->MCU_REG_func[fpga][regs[k]]);
        }
    }
    return true;
}

bool jobRunning() {
    if (!fpga_manage::p_fpga_manage) return false;
    const u8* mailbox = reinterpret_cast<const u8*>(&g_send_para);
    return mailbox[0] != 0 || g_usb_grade != 0;
}

bool version(int fpga, QString* text) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !text || fpga < 0 || fpga > 1) return false;
    auto bcd = [](u8 v) { return QString::number(v >> 4) + QString::number(v & 15); };
    const auto& r = m->MCU_REG_func[fpga];
    *text = bcd(u8(r[31])) + "-" + bcd(u8(r[30])) + "-" + bcd(u8(r[29])) + " F" +
            QString::number(u8(r[28]));
    return true;
}

#else

bool exists() { return false; }
bool running() { return false; }
bool portLinks(u32*) { return false; }
bool readAgeRegisters(u8*) { return false; }
bool jobRunning() { return false; }
bool version(int, QString*) { return false; }

#endif

}  // namespace FpgaPanel

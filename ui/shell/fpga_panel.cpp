#include "ui/shell/fpga_panel.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"

#include <QMutexLocker>

namespace FpgaPanel {

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
            out[fpga * 3 + k] = m->reg_image(fpga, regs[k]);
        }
    }
    return true;
}

bool jobRunning() {
    if (!fpga_manage::p_fpga_manage) return false;
    return !g_send_para.idle() || g_usb_grade.load() != 0;
}

bool version(int fpga, QString* text) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !text || fpga < 0 || fpga > 1) return false;
    auto bcd = [](u8 v) { return QString::number(v >> 4) + QString::number(v & 15); };
    const auto r = [&](u8 reg) { return m->reg_image(u8(fpga), reg); };
    *text = bcd(r(31)) + "-" + bcd(r(30)) + "-" + bcd(r(29)) + " F" + QString::number(r(28));
    return true;
}

bool recoveryFileCount(int* count) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !m->recovery || !count) return false;
    if (m->recovery->get_dir_file(QStringLiteral("/data/rcvrecovery")) != 0) return false;
    *count = m->recovery->recovery_files().size();
    return true;
}

bool cardToRecover(u16* card) {
    if (!fpga_manage::p_fpga_manage || !card) return false;
    *card = g_send_para.card_to_recover.load();
    return true;
}

namespace {
Backend* g_backend = nullptr;
}  // namespace

void setBackend(Backend* backend) { g_backend = backend; }

bool portRegion(int port, PortRegion* region) {
    if (g_backend) return g_backend->portRegion(port, region);
    if (!region || !exists()) return false;
    const int fpga = port >= 12 && port < 24 ? 1 : 0;
    const int local = port >= 0 && port < 24 ? port - 12 * fpga : 0;
    u16 at[4];
    fpga_manage::get_eth_param_addr(u8(local), &at[0], &at[1], &at[2], &at[3]);
    u16 words[4];
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        const u8* area = fpga_manage::MCU_RAM_PARA_func[fpga];
        if (!area) return false;
        for (int k = 0; k < 4; ++k) words[k] = u16(area[at[k]] | area[at[k] + 1] << 8);
    }
    *region = PortRegion{words[0], words[1], words[2], words[3]};
    return true;
}

bool requestLedReinit() {
    if (g_backend) return g_backend->requestLedReinit();
    return fpga_manage::request_led_para_if_running();
}

namespace {
std::function<bool()>& upgradeRequest() {
    static std::function<bool()> request;
    return request;
}
std::function<QString()>& upgradeTimeReader() {
    static std::function<QString()> reader;
    return reader;
}
std::function<bool()>& upgradeFailedReader() {
    static std::function<bool()> reader;
    return reader;
}
}  // namespace

bool postUsbUpgrade() {
    const char* refusal = nullptr;
    if (!exists())
        refusal = "USB upgrade refused: the FPGA manager is not running";
    else if (jobRunning())
        refusal = "USB upgrade refused: a card job or an upgrade is in progress";
    else if (!upgradeRequest())
        refusal = "USB upgrade refused: this build has no USB upgrade run";
    if (refusal) {
        writeLogMsg(ERROR, refusal);
        return false;
    }
    return upgradeRequest()();
}

void setUsbUpgradeRequest(std::function<bool()> request) { upgradeRequest() = std::move(request); }

QString usbGradeTime() { return upgradeTimeReader() ? upgradeTimeReader()() : QString(); }

void setUsbGradeTimeReader(std::function<QString()> reader) { upgradeTimeReader() = std::move(reader); }

bool usbGradeFailed() { return upgradeFailedReader() && upgradeFailedReader()(); }

void setUsbGradeFailedReader(std::function<bool()> reader) { upgradeFailedReader() = std::move(reader); }

bool mappingOn() {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) return false;
    bool on = true;
    for (u8 fpga = 0; fpga < 2; ++fpga) {
        m->read_from_register(0, fpga);
        on = on && (m->reg_image(fpga, 0) & 0x80) != 0;
    }
    return on;
}

namespace {
// Why a card job cannot be posted now; null when it can.
const char* jobRefusal() {
    if (!exists()) return "the FPGA manager is not running";
    if (jobRunning()) return "a card job or an upgrade is in progress";
    return nullptr;
}
// At the caller's place: each way a job is refused has its own limit.
bool refuse(u8 job, const char* why, LogPlace at = {}) {
    writeLogMsg(WARNING, "card job " + std::to_string(job) + " refused: " + why, at);
    return false;
}
}  // namespace

bool postJob(u8 job, const LINE_TYPE_PARA* line) {
    if (const char* why = jobRefusal()) return refuse(job, why);
    CardJobParams params;
    params.line = line;
    if (post_card_job(job, params) != JobPost::Posted) return refuse(job, "a card job or an upgrade is in progress");
    return true;
}

bool switchMapping(bool* on) {
    if (const char* why = jobRefusal()) return refuse(4, why);
    fpga_manage* m = fpga_manage::p_fpga_manage;
    const bool next = !mappingOn();
    for (u8 fpga = 0; fpga < 2; ++fpga) m->write_to_register(0, 0x80, next ? 0x80 : 0, fpga);
    const u32 value = next ? 9 : 0;
    CardJobParams params;
    params.mapping_value = &value;
    if (on) *on = next;
    // Only a poster of another thread can take the mailbox between the check
    // and here; the FPGAs then keep the new state and the cards the old one.
    if (post_card_job(4, params) != JobPost::Posted) return refuse(4, "the mailbox was taken meanwhile");
    return true;
}

bool deviceScanFiles(int* count) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !m->recovery || !count) return false;
    *count = 0;
    if (m->recovery->get_dir_file(QStringLiteral("/data/smartmapping")) == 0)
        *count = int(m->recovery->scan_files().size());
    return true;
}

void setScanFile(const QString& path) { set_qdfile_name(path); }
QString scanFile() { return qdfile_name(); }

}  // namespace FpgaPanel

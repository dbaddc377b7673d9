// The USB upgrade: the FPGA thread, turned over to it by g_usb_grade, lists
// the packages of the stick's upgrade folder and writes what they hold that
// is newer than what runs: the application, the image in either FPGA's
// flash, the OSD fonts in the c331's serial flash. Every length and offset
// comes from the stick and is checked against the package and the target
// before anything is erased or written, and each entry is read whole before
// its target is touched; a target that was touched is only put to use
// (application installed, FPGA reset) after a verified write.
// An orderly stop of the program ends a run between two entries, never
// inside one entry's erase, write and read-back.
#include "fpga/fpga_manage.h"

#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/usb_packages.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/usb_upgrade.h"
#include "platform/fileops.h"
#include "platform/root.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/guibridge.h"
#include "video_engine/c331_manage.h"

#include <QDirIterator>
#include <QFile>
#include <QMutexLocker>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace usbupgrade;

namespace {

// A package on the stick, opened read-only, and only while it is a regular
// file (a FIFO put in its place after the listing would hold the thread in
// its open). Stick files are nobody else's: reads take no lock.
class Package {
public:
    explicit Package(const QString& devicePath) {
        FileOps::FileRead found;
        const int fd = FileOps::openForRead(devicePath.toStdString(), found, FileOps::Links::Refuse);
        m_why = found.why;
        m_open = fd >= 0 && m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        if (fd >= 0 && !m_open) ::close(fd);
        m_size = m_open ? u64(m_file.size()) : 0;
    }
    bool isOpen() const { return m_open; }
    // Why it did not open.
    QString why() const { return QString::fromStdString(m_why); }
    u64 size() const { return m_size; }
    // Exactly len bytes or false.
    bool read(u64 offset, void* dst, u32 len) {
        if (!m_open || !holds(m_size, offset, len) || !m_file.seek(qint64(offset))) return false;
        return m_file.read(static_cast<char*>(dst), len) == qint64(len);
    }

private:
    QFile m_file;
    bool m_open = false;
    u64 m_size = 0;
    std::string m_why;
};

QString clockText(const TimeRealType& t) {
    return QStringLiteral("%1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
}

// At the caller's place: each step's line has its own limit.
void upgradeLog(const QString& text, LogPlace at = {}) { writeLogMsg(ERROR, "USB upgrade: " + text.toStdString(), at); }

// An entry's bytes read whole from the stick, with `room` free bytes in
// front; empty when the read came up short. Read before its target is
// touched: a stick pulled (or failing) during the write then leaves the old
// content or the whole new one, never the first part of the new one and
// erased flash. Callers have checked len against its type's limit first,
// which bounds the memory taken.
std::vector<u8> wholeEntry(Package& pkg, u64 offset, u32 len, u32 room = 0) {
    std::vector<u8> out(size_t(room) + len);
    if (!pkg.read(offset, out.data() + room, len)) out.clear();
    return out;
}

// Erases from `address` on over `length` bytes: a 32 KB block where one is
// aligned and fits, else a 4 KB sector. false at the first failed erase.
template <class Erase>
bool eraseRange(u32 address, u32 length, Erase erase) {
    const u32 end = address + length;
    for (u32 a = address; a < end;) {
        const bool block = a % 0x8000 == 0 && end - a >= 0x8000;
        if (!erase(a, block)) return false;
        a += block ? 0x8000 : 0x1000;
    }
    return true;
}

}  // namespace

void usbupgrade::removeLeftStagedApplication() {
    if (!FileOps::exists(kAppStaged)) return;
    const bool gone = FileOps::removeDurably(kAppStaged);
    writeLogMsg(INFO, std::string("USB upgrade: ") + kAppStaged + " left by an upgrade that did not end, never installed; " +
                          (gone ? "removed" : "cannot be removed"));
}

// ---------------------------------------------------------------- steps

void fpga_manage::install_usb_upgrade_request() {
    FpgaPanel::setUsbUpgradeRequest([] {
        if (post_usb_upgrade() == JobPost::Posted) return true;
        writeLogMsg(ERROR, "USB upgrade refused: a card job or an upgrade is in progress");
        return false;
    });
    FpgaPanel::setUsbGradeTimeReader([] {
        fpga_manage* f = p_fpga_manage;
        return f ? f->usb_grade_time() : QString();
    });
    FpgaPanel::setUsbGradeFailedReader([] {
        fpga_manage* f = p_fpga_manage;
        return f && f->usb_grade_failed();
    });
}

bool fpga_manage::usb_upgrade_manage_deal() {
    if (g_usb_grade.load(std::memory_order_acquire) == 0) return false;
    usb_upgrade_deal();
    return true;
}

QString fpga_manage::usb_grade_time() const {
    QMutexLocker lock(&m_grade_time_mutex);
    return m_usb_grade_time;
}

bool fpga_manage::usb_grade_failed() const { return m_grade_failed.load(); }

void fpga_manage::usb_upgrade_deal() {
    TimeRealType now;
    switch (g_send_para.step()) {
    case 0:
        if (g_update_flag.load() == 0) GuiBridge::updateStart();
        IT8563WE_Get(&now);
        {
            QMutexLocker lock(&m_grade_time_mutex);
            m_usb_grade_time = clockText(now);
        }
        g_update_flag.store(1);
        usb_file_list.clear();
        usb_file_count = 0;
        g_send_para.setStep(1);
        break;
    case 1:
        get_usb_file_list_path();
        debugPrintf("\n usb_updata_list = %d \n", usb_file_count);
        g_send_para.setStep(2);
        break;
    case 2:
        usb_upgrade_main_deal();
        g_send_para.setStep(3);
        break;
    case 3:
        IT8563WE_Get(&now);
        {
            QMutexLocker lock(&m_grade_time_mutex);
            m_usb_grade_time += QStringLiteral("    ") + clockText(now);
        }
        if (g_update_flag.load() != 0) GuiBridge::updateOver();
        // The page reads the times and the outcome on this code: both are
        // complete by now.
        m_grade_failed.store(m_upgrade.failed);
        if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) p->test_signal(104);
        g_update_flag.store(0);
        g_send_para.setStep(0);
        g_usb_grade.store(0, std::memory_order_release);
        break;
    default:
        // Not a step of a run (a request always writes step 0): start one.
        g_send_para.setStep(0);
        break;
    }
}

void fpga_manage::get_usb_file_list_path() {
    QString setting;
    {
        QMutexLocker lock(&settingsLock());
        setting = g_usb_grade_path;
    }
    const UsbPackages::Listing listing = UsbPackages::scan(setting);
    usb_file_list = listing.paths;
    usb_file_count = listing.count();
}

// ---------------------------------------------------------------- packages

void fpga_manage::usb_upgrade_main_deal() {
    // Each flag: an entry of its type was written in this run (an entry
    // skipped as current leaves it as it was); the font flag also when a
    // font's write failed after its erase.
    m_upgrade = UpgradeFlags{};
    for (const QString& path : usb_file_list) {
        if (m_stop.load()) break;
        upgrade_package(path);
    }
    if (m_stop.load()) {
        // The program ends: nothing more is put to use. An image already
        // verified in a flash starts at the next power-up; a staged
        // application stays staged.
        upgradeLog("stopped by the end of the program; nothing installed, no FPGA reset");
        m_upgrade.failed = true;
        return;
    }

    if (m_upgrade.app) {
        if (g_app_reset_flag.load() == 0 && !install_application()) m_upgrade.failed = true;
        return;
    }
    for (u8 k = 0; k < 2; ++k) {
        if (!m_upgrade.fpga[k]) continue;
        const std::string fpga = fpgareg::fpgaName(k);
        writeLogMsgFor(fpga, INFO, "USB upgrade: " + fpga + " image written; FPGA reset");
        // Released 200 ticks later by the normal pass; it starts from its
        // new image and is brought up again.
        reset_fpga_rst(k);
    }
    if (m_upgrade.font) c331_manage::get()->request_font_reload();
}

void fpga_manage::upgrade_package(const QString& path) {
    debugPrintf("\n usb upgrade file: %s (%s)\n", qPrintable(path), qPrintable(path.mid(path.lastIndexOf('.') + 1)));
    Package pkg(path);
    u8 hb[kHeadBytes];
    if (!pkg.isOpen() || !pkg.read(0, hb, kHeadBytes)) {
        upgradeLog(path + " cannot be read" + (pkg.isOpen() ? QString() : " (" + pkg.why() + ")") + "; skipped");
        m_upgrade.failed = true;
        return;
    }
    const Head head = parseHead(hb);
    if (!entryCountFits(head.FileNum)) {
        upgradeLog(QStringLiteral("%1 announces %2 entries, more than the %3 a package may hold; refused")
                       .arg(path)
                       .arg(head.FileNum)
                       .arg(kMaxEntries));
        m_upgrade.failed = true;
        return;
    }
    const bool ours = head.ControllerType == kController;
    const bool release = head.PublishType == kRelease;
    // An entry that is not written (refused or failed) fails the run.
    auto written = [this](EntryWrite r) {
        if (r != EntryWrite::Written) m_upgrade.failed = true;
        return r == EntryWrite::Written;
    };
    u8 reg43 = 0;
    for (u32 i = 0; i < head.FileNum; ++i) {
        // Checked between entries only: an entry once begun is erased,
        // written and read back whole.
        if (m_stop.load()) {
            upgradeLog(QStringLiteral("%1: stopped before entry %2 of %3").arg(path).arg(i).arg(head.FileNum));
            return;
        }
        u8 eb[kEntryBytes];
        if (!pkg.read(entryOffset(i), eb, kEntryBytes)) {
            upgradeLog(QStringLiteral("%1: entry table ends at entry %2 of %3").arg(path).arg(i).arg(head.FileNum));
            m_upgrade.failed = true;
            return;
        }
        const Entry e = parseEntry(eb);
        debugPrintf("\n entry %u: type %u, length %u, offset %u, flash address %#x, sectors %u\n", i, e.type,
                    e.length, e.offset, e.File_Flashaddr, e.SecNum);
        if (e.type == kApplication && ours) {
            if (release && std::memcmp(e.version, kAppVersion, sizeof kAppVersion) == 0) continue;
            const EntryWrite r = update_muc_file(path, e.offset, e.length);
            if (r != EntryWrite::Refused) m_upgrade.app = r == EntryWrite::Written;
            written(r);
        } else if ((e.type == kFpga0Image || e.type == kFpga1Image) && ours) {
            const u8 k = e.type == kFpga0Image ? 0 : 1;
            if (release) {
                for (u8 r = fpgareg::VERSION0; r <= fpgareg::VERSION3; ++r) read_from_register(r, k);
                const auto v = [&](u8 reg) { return reg_image(k, reg); };
                if (Utils::fromBcd(v(31)) == e.version[0] && Utils::fromBcd(v(30)) == e.version[1] &&
                    Utils::fromBcd(v(29)) == e.version[2] && v(28) == e.version[5])
                    continue;
            }
            const EntryWrite r = update_txc_file(path, u8(k + 2), e.offset, e.length);
            if (r != EntryWrite::Refused) m_upgrade.fpga[k] = r == EntryWrite::Written;
            written(r);
        } else if (e.type == kOsdFont) {
            if (ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config)
                reg43 = __atomic_load_n(&zp->reg_block.REG[43], __ATOMIC_SEQ_CST);
            if ((reg43 & 0x3F) == 0x3F) continue;  // every font is there
            // A font whose place was touched has its head read again, so a
            // write that failed part-way counts absent at once.
            const EntryWrite r = update_c331_osd_font_file(path, e.offset, e.length);
            if (r != EntryWrite::Refused) m_upgrade.font = true;
            written(r);
        }
    }
}

// ---------------------------------------------------------------- application

fpga_manage::EntryWrite fpga_manage::update_muc_file(const QString& path, u32 offset, u32 length) {
    Package pkg(path);
    switch (checkApp(pkg.size(), offset, length)) {
    case AppCheck::BadLength:
        upgradeLog(QStringLiteral("application of %1 bytes refused (1 to %2)").arg(length).arg(kAppMax));
        return EntryWrite::Refused;
    case AppCheck::BeyondPackage:
        upgradeLog(QStringLiteral("application entry beyond the end of %1; refused").arg(path));
        return EntryWrite::Refused;
    case AppCheck::Fits: break;
    }
    auto fail = [](const QString& why) {
        upgradeLog(why + "; application not installed");
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FileOps::removeDurably(kAppStaged);
        return EntryWrite::Failed;
    };
    const std::vector<u8> buf = wholeEntry(pkg, offset, length);
    if (buf.empty()) return fail("short read of " + path);

    {
        // Written beside its place and renamed over it: whatever stood there
        // (a FIFO would hold an open for writing) is replaced, never opened.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FileOps::makeDirs(kAppFolder);
        if (!FileOps::writeFileAtomic(kAppStaged, buf.data(), length)) {
            lock.unlock();
            return fail(QStringLiteral("cannot write %1").arg(kAppStaged));
        }
    }
    Utils::sleep_ms(10);
    if (on_app_staged) on_app_staged(Root::path(kAppStaged));

    QMutexLocker lock(&Utils::_file_deal_mutex);
    QByteArray back;
    if (!FileOps::readFile(kAppStaged, back, length) || u64(back.size()) != length) {
        lock.unlock();
        return fail(QStringLiteral("%1 reads back at another length").arg(kAppStaged));
    }
    const auto differs = std::mismatch(buf.begin(), buf.end(), reinterpret_cast<const u8*>(back.constData())).first;
    if (differs != buf.end()) {
        lock.unlock();
        return fail(QStringLiteral("%1 reads back different at byte %2").arg(kAppStaged).arg(differs - buf.begin()));
    }
    return EntryWrite::Written;
}

bool fpga_manage::install_application() {
    // "chmod 777 -R /data/app", without following links out of the folder.
    FileOps::setPermissions(kAppFolder, 0777);
    const QString folder = Root::qpath(QString::fromLatin1(kAppFolder));
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = it.next().mid(folder.size());
        FileOps::setPermissions(std::string(kAppFolder) + rel.toStdString(), 0777);
    }
    Utils::sleep_ms(10);
    if (!FileOps::renamePath(kAppStaged, kAppFile)) {
        upgradeLog(QStringLiteral("%1 cannot be renamed over %2; no reboot").arg(kAppStaged, kAppFile));
        return false;
    }
    bool ok = true;
    if (g_update_status.load() == 0 && !ConfigEngine::write_loader_keys()) {
        upgradeLog("the loader's settings were not written");
        ok = false;
    }
    FileOps::syncAll();
    Utils::sleep_ms(10);
    FileOps::syncAll();
    Utils::sleep_ms(1000);
    writeLogMsg(INFO, "USB upgrade: application installed; reboot follows");
    G_reboot_tickTicks.store(G_timeTicks);
    g_app_reset_flag.store(1);
    return ok;
}

// ---------------------------------------------------------------- FPGA image

fpga_manage::EntryWrite fpga_manage::update_txc_file(const QString& path, u8 flash, u32 offset, u32 length) {
    Package pkg(path);
    u8 sub[kSubHeadBytes];
    if (length < kSubHeadBytes || !pkg.read(offset, sub, kSubHeadBytes)) {
        upgradeLog(QStringLiteral("FPGA entry of %1 has no sub-head; refused").arg(path));
        return EntryWrite::Refused;
    }
    const u32 len = fpgaImageLength(sub, pkg.size(), offset, length);
    debugPrintf("\n fpga file type %u, version %u, class %u, kind %u, version %02x%02x%02x%02x, length %u\n", sub[16],
                sub[17], rd16(sub + 18), sub[20], sub[23], sub[24], sub[25], sub[26], rd32(sub + kSubHeadLength));
    // Checked before any erase.
    if (len == 0) {
        upgradeLog(QStringLiteral("FPGA image of %1 bytes in an entry of %2 refused").arg(rd32(sub + kSubHeadLength)).arg(length));
        return EntryWrite::Refused;
    }

    // Four bytes of room in front of each chunk, as the program routine
    // takes it (it only reads the chunk behind them).
    const std::vector<u8> image = wholeEntry(pkg, u64(offset) + kSubHeadBytes, len, 4);
    if (image.empty()) {
        upgradeLog("short read of " + path + "; FPGA flash untouched");
        return EntryWrite::Refused;
    }
    const bool erased = eraseRange(0, len, [&](u32 a, bool block) {
        return m_drv->erase_verified(flash, a / fpgareg::kSectorSize, block ? 1 : 0, 1);
    });
    if (!erased) {
        upgradeLog("FPGA flash erase failed; FPGA left running");
        return EntryWrite::Failed;
    }
    for (u32 at = 0; at < len; at += kFpgaChunk) {
        const u32 n = std::min(kFpgaChunk, len - at);
        if (!m_drv->program_verified(flash, at, image.data() + at, n)) {
            upgradeLog(QStringLiteral("FPGA flash write not verified at %1; FPGA left running").arg(at));
            return EntryWrite::Failed;
        }
    }
    debugPrintf("\n write over !!!!!\n ");
    return EntryWrite::Written;
}

// ---------------------------------------------------------------- fonts

fpga_manage::EntryWrite fpga_manage::update_c331_osd_font_file(const QString& path, u32 offset, u32 length) {
    Package pkg(path);
    u8 head[kFontHeadBytes];
    if (length < kFontHeadBytes || !pkg.read(offset, head, kFontHeadBytes)) {
        upgradeLog(QStringLiteral("font entry of %1 has no head; refused").arg(path));
        return EntryWrite::Refused;
    }
    FontPlace place;
    switch (checkFont(head, pkg.size(), offset, length, &place)) {
    case FontCheck::NoPlace:
        // An unknown dot size would land on the 32-dot font at 0.
        upgradeLog(QStringLiteral("font of encoding %1, dot size %2 skipped").arg(head[kFontEncoding]).arg(head[kFontDots]));
        return EntryWrite::Refused;
    case FontCheck::BeyondPlace:
        upgradeLog(QStringLiteral("font of %1 bytes beyond its place or its package; refused").arg(length));
        return EntryWrite::Refused;
    case FontCheck::Fits: break;
    }
    const std::vector<u8> font = wholeEntry(pkg, offset, length);
    if (font.empty()) {
        upgradeLog("short read of " + path + "; font untouched");
        return EntryWrite::Refused;
    }
    c331_manage* c331 = c331_manage::get();
    const int fd = c331->c331_fd;
    const bool erased = eraseRange(place.address, length, [&](u32 a, bool block) {
        return c331->erase_flash(fd, int(a / 4096), 1, block ? 1 : 0) == 0;
    });
    if (!erased) {
        upgradeLog("serial flash erase failed; font entry stopped");
        return EntryWrite::Failed;
    }
    // The head last: a font counts present by the head's first byte, so one
    // whose write is cut off (a power cut, a failing flash) reads absent and
    // the next stick writes it, instead of counting present for good.
    auto write = [&](u32 from, u32 to) {
        if (from >= to || c331->write_flash(fd, place.address + from, to - from, font.data() + from) == 0) return true;
        upgradeLog(QStringLiteral("font write failed at %1; font entry stopped").arg(from));
        return false;
    };
    for (u32 at = 0; at < length; at += kFontChunk)
        if (!write(std::max(at, kFontHeadBytes), std::min(length - at, kFontChunk) + at)) return EntryWrite::Failed;
    if (!write(0, kFontHeadBytes)) return EntryWrite::Failed;
    return EntryWrite::Written;
}

#include "protocol/message_deal.h"

#include "core/JsonParse.h"
#include "core/config_engine.h"
#include "core/file_checks.h"
#include "core/logMsg.h"
#include "core/md5.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/board.h"
#include "platform/fileops.h"
#include "platform/root.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_osd.h"
#include "ui/shell/guibridge.h"
#include "ui/shell/page_registry.h"
#include "video_io/source_handover.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStorageInfo>

#include <array>
#include <cstring>


namespace {
u32 rd32(const u8* p) { return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24); }
u16 rd16(const u8* p) { return u16(p[0] | (p[1] << 8)); }

ZrvRamPara* model() { return ZrvRamPara::p_zrvrampara_config; }

// Two BCD digits; -1 when either nibble is not a decimal digit.
// A network text for the settings and the command line: four bytes as a
// dotted quad, which is the only form that may reach a shell.
QString quad(const u8* p) { return QStringLiteral("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]); }

bool parseQuad(const QString& text, u8 out[4]) {
    std::memset(out, 0, 4);
    if (!Utils::isDottedQuad(text)) return false;
    const QStringList parts = text.split('.');
    for (int i = 0; i < 4; ++i) out[i] = u8(parts[i].toInt());
    return true;
}

// The page reactions run in the GUI thread and only reach a page that is
// still in front when they get there.
void refreshIfInFront(int id) {
    GuiBridge::post([id] {
        if (g_page_focus.load() == id) PageRegistry::refresh(id, PcFile::ChangeCode);
    });
}
void backIfInFront(int id) {
    GuiBridge::post([id] {
        if (g_page_focus.load() == id) PageRegistry::back(id);
    });
}

// What each refusal's count line names, and the level of the check's
// lines, in the order of message_deal::Refusal.
struct RefusalKind {
    const char* check;
    _LogType level;
};
constexpr RefusalKind kRefusalKinds[] = {
    {"name size", WARNING}, {"unknown type", WARNING}, {"name", WARNING},       {"length", WARNING},
    {"length arrived", WARNING}, {"digest", WARNING}, {"alias file shape", WARNING}, {"OSD menu", WARNING},
    {"no room", WARNING},   {"space", ERROR},
};
// What each write fault's count line names, in the order of
// message_deal::WriteFault.
constexpr const char* kWriteFaultNames[] = {"scan and recovery files kept", "clock not set", "network settings not stored"};
// The count of one flash's lines of a kind: "flash <path>: <n> more <what>".
std::function<std::function<void(u64)>(const std::string&)> flashCount(_LogType level, const char* what) {
    return [level, what](const std::string& flash) { return LineLimiter::logCount(level, "flash " + flash, what); };
}
std::function<void(u64)> refusalCount(u8 check) {
    return LineLimiter::logCount(kRefusalKinds[check].level, "file transfer refused",
                                 std::string("for ") + kRefusalKinds[check].check);
}
}  // namespace

message_deal* message_deal::pInstance() {
    static message_deal* instance = new message_deal();
    return instance;
}

message_deal::message_deal()
    : m_flashMissing(flashCount(ERROR, "received images found no flash to take them")),
      m_flashFailed(flashCount(ERROR, "writes of a received image failed")),
      m_flashWritten(flashCount(INFO, "received images written")),
      m_storeFailed(LineLimiter::logCount(ERROR, "file transfer", "received files not stored")),
      m_received(LineLimiter::logCount(INFO, "file transfer", "files received")),
      m_clockSet(LineLimiter::logCount(INFO, "clock set", "times")) {
    static_assert(sizeof kRefusalKinds / sizeof kRefusalKinds[0] == kRefusals, "a name for each check");
    for (u8 k = 0; k < kRefusals; ++k) m_refusals.push_back(std::make_unique<LineLimiter>(refusalCount(Refusal(k))));
    static_assert(sizeof kWriteFaultNames / sizeof kWriteFaultNames[0] == kWriteFaults, "a name for each fault");
    for (const char* name : kWriteFaultNames)
        m_writeFaults.push_back(std::make_unique<LineLimiter>(LineLimiter::logCount(ERROR, name, "")));
    m_table[PcCmd::RamWrite] = &message_deal::ram_write;
    m_table[PcCmd::RamRead] = &message_deal::ram_read;
    m_table[PcCmd::RegWrite] = &message_deal::write_register;
    m_table[PcCmd::RegRead] = &message_deal::read_register;
    m_table[PcCmd::FileStart] = &message_deal::file_start;
    m_table[PcCmd::FileData] = &message_deal::file_data;
    m_table[PcCmd::FileEnd] = &message_deal::file_end;
    m_table[PcCmd::DeleteCardFiles] = &message_deal::delete_files;
    m_table[PcCmd::DeviceInfo] = &message_deal::device_info;
    m_table[PcCmd::SetClock] = &message_deal::set_clock;
    m_table[PcCmd::TimeReport] = &message_deal::Time_to_RAM;
    m_table[PcCmd::NetworkSetup] = &message_deal::network_setup;
    m_table[PcCmd::FlashErase] = &message_deal::flash_erase;
    m_table[PcCmd::FlashWrite] = &message_deal::flash_write;
    m_table[PcCmd::FlashRead] = &message_deal::flash_read;
}

u32 message_deal::message_group_deal(const u8* frame, u32 length, u8* reply, u32 replyCap, const PcPeer& from) {
    if (!frame || !reply || length < Frame::kMinLen || replyCap <= Frame::kMinLen) return 0;
    const Cmd_Frame req{frame, length};
    u8* out = reply + Frame::kHeaderLen;
    const u32 cap = replyCap - Frame::kMinLen;
    u32 n;
    {
        QMutexLocker lock(&m_dispatch);
        m_from = from;
        const Handler h = m_table[req.command()];
        n = h ? (this->*h)(req, out, cap) : status(out, cap, ReplyStatus::Unsupported);
    }
    if (n == 0) return 0;
    return protocol_phy::finishReply(frame, reply, n, replyCap);
}

u32 message_deal::status(u8* out, u32 cap, u8 code) {
    if (cap < 1) return 0;
    out[0] = code;
    return 1;
}

void message_deal::raiseApplyFlag(u8 want) {
    c331_manage::get()->raise_apply(want);
}

// ---------------------------------------------------------------- RAM

bool PcRam::served(u64 address, u64 length, bool write) {
    // `count` areas of `size` bytes, the next `step` after the one before.
    // An area is entered below its next one's start; a slot's 4098 bytes
    // run 2 into the next slot's addresses, which are that slot's own start.
    struct Area {
        u64 base, size, step, count;
        bool writable;
    };
    static const Area kAreas[] = {
        {ImageBase, ImageEnd - ImageBase, 0, 1, true},
        {SlotBase, SlotBytes, 0x1000, ZRV_USER_MODE_COUNT, true},
        {FpgaCmd, 1024, 0x400, 3, true},  // command block, extend, zoom
        {FpgaPara, 1024, 0x400, 2, true},
        {FpgaTx, 1024, 0x400, 2, true},
        {FpgaBack, fpgareg::kBackSize, 0x400, 2, true},
        {StatusBase, StatusBytes, 0, 1, false},
    };
    for (const Area& a : kAreas) {
        for (u64 k = 0; k < a.count; ++k) {
            const u64 start = a.base + k * a.step;
            const u64 entered = std::min(a.size, a.step ? a.step : a.size);
            if (address < start || address >= start + entered) continue;
            return (a.writable || !write) && length <= start + a.size - address;
        }
    }
    return false;
}

namespace {

// The FPGA manager's block that holds [addr, addr + len), or null when the
// range leaves its block or lies between blocks. area: the FPGA whose
// parameter area it is, else -1.
u8* fpgaBlock(u32 addr, u32 len, int* area) {
    *area = -1;
    struct Block {
        u32 base;
        u32 size;
        u8* data;
        int area;
    };
    const Block blocks[] = {
        {PcRam::FpgaCmd, 1024, fpga_manage::MCU_RAM_CMD, -1},
        {PcRam::FpgaExtend, 1024, fpga_manage::MCU_RAM_EXTEND, -1},
        {PcRam::FpgaZoom, 1024, fpga_manage::MCU_RAM_ZOOM, -1},
        {PcRam::FpgaPara, 1024, fpga_manage::MCU_RAM_PARA_func[0], 0},
        {PcRam::FpgaPara + 0x400, 1024, fpga_manage::MCU_RAM_PARA_func[1], 1},
        {PcRam::FpgaTx, 1024, fpga_manage::MCU_RAM_TX_func[0], -1},
        {PcRam::FpgaTx + 0x400, 1024, fpga_manage::MCU_RAM_TX_func[1], -1},
        {PcRam::FpgaBack, fpgareg::kBackSize, fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0], -1},
        {PcRam::FpgaBack + 0x400, fpgareg::kBackSize, fpga_manage::MCU_RAM_ETH_BACK_PARA_func[1], -1},
    };
    for (const Block& b : blocks) {
        if (addr < b.base || addr >= b.base + b.size) continue;
        if (!b.data || len > b.base + b.size - addr) return nullptr;
        *area = b.area;
        return b.data + (addr - b.base);
    }
    return nullptr;
}

// The range [off, off + len) of a parameter area touches a port's or the
// output window's geometry words.
bool touchesGeometry(u32 off, u32 len) {
    auto overlaps = [&](u32 at, u32 n) { return off < at + n && at < off + len; };
    for (int entry : fpgareg::kPortEntry)
        if (overlaps(u32(entry), 8)) return true;
    return overlaps(fpgareg::AREA_WIN_X, 8);
}

}  // namespace

u32 message_deal::fpga_ram_write(u32 addr, const u8* bytes, u32 len, u8* out, u32 cap) {
    fpga_manage* f = fpga_manage::p_fpga_manage;
    if (!f) return status(out, cap, ReplyStatus::Busy);
    int area = -1;
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        u8* dst = fpgaBlock(addr, len, &area);
        if (!dst) return status(out, cap, ReplyStatus::BadArgument);
        std::memcpy(dst, bytes, len);
    }
    // The back-up area keeps the geometry without the output offset; the
    // FPGA gets it with the next geometry step.
    const u32 areaBase = PcRam::FpgaPara + 0x400 * u32(area < 0 ? 0 : area);
    if (area >= 0 && touchesGeometry(addr - areaBase, len)) f->K57_back_mcu_set_net_para(u8(area));
    return status(out, cap, ReplyStatus::Ok);
}

u32 message_deal::fpga_ram_read(u32 addr, u32 len, u8* out, u32 cap) {
    if (!fpga_manage::p_fpga_manage) return status(out, cap, ReplyStatus::Busy);
    int area = -1;
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    const u8* src = fpgaBlock(addr, len, &area);
    if (!src) return status(out, cap, ReplyStatus::BadArgument);
    std::memcpy(out + 1, src, len);
    out[0] = ReplyStatus::Ok;
    return 1 + len;
}

u32 message_deal::ram_write(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 8) return status(out, cap, ReplyStatus::BadArgument);
    const u32 addr = rd32(req.data());
    const u32 len = rd32(req.data() + 4);
    if (len == 0 || len > 0xFFFF || len > req.dataLength() - 8 || !PcRam::served(addr, len, true))
        return status(out, cap, ReplyStatus::BadArgument);
    const u8* bytes = req.data() + 8;

    if (addr >= PcRam::FpgaBase) return fpga_ram_write(addr, bytes, len, out, cap);
    ZrvRamPara* p = model();
    if (!p) return status(out, cap, ReplyStatus::Busy);

    c331_manage* c331 = c331_manage::get();
    if (addr < PcRam::ImageEnd) {
        QMutexLocker lock(&c331->mutex);
        if (p->ZrvRamParaDeal(bytes, u16(len), addr) != 0) return status(out, cap, ReplyStatus::BadArgument);
        raiseApplyFlag(1);
        return status(out, cap, ReplyStatus::Ok);
    }
    // A user mode's slot, applied later through register 161 bit 2.
    QMutexLocker lock(&c331->mutex);
    if (p->ZrvModeUserRamParaDeal(bytes, u16(len), addr) != 0) return status(out, cap, ReplyStatus::BadArgument);
    return status(out, cap, ReplyStatus::Ok);
}

namespace {
// The register bytes are set and taken by the source and c331 threads with
// atomic operations and without the c331 manager's mutex: the protocol's
// reads and writes of them are atomic too, byte by byte.
void regCopy(u8* dst, u8* regs, u32 count) {
    for (u32 i = 0; i < count; ++i) dst[i] = __atomic_load_n(&regs[i], __ATOMIC_SEQ_CST);
}

void regStoreMasked(u8* reg, u8 mask, u8 value) {
    u8 old = __atomic_load_n(reg, __ATOMIC_SEQ_CST);
    while (!__atomic_compare_exchange_n(reg, &old, u8((old & ~mask) | (value & mask)), false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST)) {
    }
}
}  // namespace

u32 message_deal::ram_read(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 8) return status(out, cap, ReplyStatus::BadArgument);
    const u32 addr = rd32(req.data());
    const u32 len = rd32(req.data() + 4);
    if (len == 0 || len > PcRam::MaxRead || !PcRam::served(addr, len, false))
        return status(out, cap, ReplyStatus::BadArgument);
    if (cap < 1 + len) return status(out, cap, ReplyStatus::BadArgument);

    if (addr >= PcRam::FpgaBase && addr < PcRam::StatusBase) return fpga_ram_read(addr, len, out, cap);
    ZrvRamPara* p = model();
    if (!p) return status(out, cap, ReplyStatus::Busy);
    c331_manage* c331 = c331_manage::get();

    QMutexLocker lock(&c331->mutex);
    if (addr < PcRam::ImageEnd)
        p->copy_live(out + 1, addr, len);
    else if (addr < PcRam::SlotEnd)
        std::memcpy(out + 1, reinterpret_cast<const u8*>(&p->user_mode[(addr >> 12) - 1]) + (addr & 0xFFF), len);
    else
        regCopy(out + 1, p->reg_block.REG + PcRam::StatusFirstReg + (addr - PcRam::StatusBase), len);
    out[0] = ReplyStatus::Ok;
    return 1 + len;
}

// ---------------------------------------------------------------- serial flash

namespace {
// The flash is driven only by a running chip: not before its set-up, nor
// while a restart identifies it again.
bool flashReady(c331_manage* c331) { return c331->thread_state.load() == 6; }
// No answer and a lock held by another user both read "busy" on the wire.
u8 flashStatus(int result) { return result == 0 ? ReplyStatus::Ok : result == 1 ? ReplyStatus::BadArgument : ReplyStatus::Busy; }
}  // namespace

u32 message_deal::flash_erase(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 5) return status(out, cap, ReplyStatus::BadArgument);
    const int block = rd16(req.data());
    const int mode = req.data()[2];
    const int count = rd16(req.data() + 3);
    if (mode > 2 || !c331_manage::flash_erase_ok(block, count, mode)) return status(out, cap, ReplyStatus::BadArgument);
    c331_manage* c331 = c331_manage::get();
    if (!flashReady(c331)) return status(out, cap, ReplyStatus::Busy);
    return status(out, cap, flashStatus(c331->erase_flash(c331->c331_fd, block, count, mode)));
}

u32 message_deal::flash_write(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 8) return status(out, cap, ReplyStatus::BadArgument);
    const u32 addr = rd32(req.data());
    const u32 len = rd32(req.data() + 4);
    if (len == 0 || len != req.dataLength() - 8 || !c331_manage::flash_range_ok(addr, len))
        return status(out, cap, ReplyStatus::BadArgument);
    c331_manage* c331 = c331_manage::get();
    if (!flashReady(c331)) return status(out, cap, ReplyStatus::Busy);
    return status(out, cap, flashStatus(c331->write_flash(c331->c331_fd, addr, len, req.data() + 8)));
}

u32 message_deal::flash_read(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 8) return status(out, cap, ReplyStatus::BadArgument);
    const u32 addr = rd32(req.data());
    const u32 len = rd32(req.data() + 4);
    if (len == 0 || len > PcRam::MaxRead || cap < 1 + len || !c331_manage::flash_range_ok(addr, len))
        return status(out, cap, ReplyStatus::BadArgument);
    c331_manage* c331 = c331_manage::get();
    if (!flashReady(c331)) return status(out, cap, ReplyStatus::Busy);
    const int result = c331->read_flash(c331->c331_fd, addr, len, out + 1);
    if (result != 0) return status(out, cap, flashStatus(result));
    out[0] = ReplyStatus::Ok;
    return 1 + len;
}

// ---------------------------------------------------------------- registers

int message_deal::RegUpdate11(u8 mask) {
    if (mask & 0x01) source_handover::raise_sdi_reset();
    return 0;
}

int message_deal::REG_mcu_flag(u8 /*value*/, u8 mask) {
    ZrvRamPara* p = model();
    if (!p) return 0;
    c331_manage* c331 = c331_manage::get();
    using namespace RamOffset;

    if (mask & 0x02) {
        QMutexLocker lock(&c331->mutex);
        PARA_RAM_IMAGE& live = p->live_image;

        // What the PC's writes changed since its last apply, whatever was
        // persisted in between.
        ZrvRamPara::PcChanges changed = p->takePcChanges();
        // A wall the c331 has set up already (the write's own pass met it
        // and restarted the LED outputs) is carried out: it is not laid out
        // and set up a second time.
        changed.wall = changed.wall && c331->panel_owed_locked();
        auto wall = [&] {
            return std::array<u16, 3>{live.word(WALL_WIDTH), live.word(WALL_HEIGHT), live.word(SPLICE_MODE)};
        };
        const auto wallBefore = wall();
        // The PC chose a user mode: recall it when its slot holds one. The
        // mode keeps its own windows; the LED outputs follow its wall.
        if (changed.modeChosen && p->user_mode_recall_locked(live.word(LOADED_MODE)) && !changed.wall &&
            wall() != wallBefore)
            fpga_manage::request_led_para_if_running();
        // The sound must come from a window that exists and is shown.
        const u16 audio = live.word(AUDIO_WINDOW);
        if (audio > 5 || live.word(win(audio) + WIN_ENABLE) == 0) live.setWord(AUDIO_WINDOW, 0);
        // A new wall or splice mode the PC wrote invalidates the window layout.
        if (changed.wall) {
            live.setWord(win(0) + WIN_ENABLE, 1);
            live.setWord(win(0) + WIN_X, 0);
            live.setWord(win(0) + WIN_Y, 0);
            live.setWord(win(0) + WIN_WIDTH, live.word(WALL_WIDTH));
            live.setWord(win(0) + WIN_HEIGHT, live.word(WALL_HEIGHT));
            for (u32 w = 1; w < WIN_COUNT; ++w) live.setWord(win(w) + WIN_ENABLE, 0);
            // The FPGA outputs follow the wall once both FPGAs run.
            fpga_manage::request_led_para_if_running();
        }
        const u16 effect = live.word(SWITCH_EFFECT) & 0x03;
        for (u32 w = 0; w < WIN_COUNT; ++w) {
            const u32 off = win(w) + WIN_OUTPUT;
            live.setWord(off, u16((live.word(off) & ~0x000C) | (effect << 2)));
        }
        raiseApplyFlag(1);
    }
    if (mask & 0x04) {
        QMutexLocker lock(&c331->mutex);
        raiseApplyFlag(2);
    }
    if (mask & 0x08) {
        QMutexLocker lock(&c331->mutex);
        if (p->live_image.word(OSD_ON) == 1) {
            raiseApplyFlag(1);
            g_osd_update.store(1);
        }
    }
    return 0;
}

u32 message_deal::write_register(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 4) return status(out, cap, ReplyStatus::BadArgument);
    const u8 target = req.header(Frame::kTargetByte);
    const u32 reg = rd16(req.data());
    const u8 mask = req.data()[2];
    const u8 value = req.data()[3];
    if (target == PcReg::TargetFpga0 || target == PcReg::TargetFpga1) {
        if (reg >= u32(fpgareg::kImageSize)) return status(out, cap, ReplyStatus::BadArgument);
        fpga_manage* f = fpga_manage::p_fpga_manage;
        if (!f) return status(out, cap, ReplyStatus::Busy);
        // A command block the write ran (register 2 bit 2) that was refused
        // or not taken is not done (its own lines tell why).
        const int block = f->write_to_register(u8(reg), mask, value, u8(target - PcReg::TargetFpga0));
        return status(out, cap, block == 0 ? ReplyStatus::Ok : block == 1 ? ReplyStatus::BadArgument : ReplyStatus::Busy);
    }
    if (target != PcReg::TargetController || reg > PcReg::LastWritable)
        return status(out, cap, ReplyStatus::BadArgument);
    ZrvRamPara* p = model();
    if (!p) return status(out, cap, ReplyStatus::Busy);

    if (reg == PcReg::McuFlag) {
        REG_mcu_flag(value, mask);
        return status(out, cap, ReplyStatus::Ok);
    }
    {
        // The register bytes are read by the source and c331 threads, which
        // serve their requests under the manager's mutex.
        QMutexLocker lock(&c331_manage::get()->mutex);
        u8* regs = p->reg_block.REG;
        if (reg == PcReg::SourceRequest) {
            __atomic_store_n(&regs[PcReg::SourceCommand], u8(value & mask), __ATOMIC_SEQ_CST);
        } else {
            regStoreMasked(&regs[reg], mask, value);
        }
    }
    if (reg == PcReg::SdiControl) RegUpdate11(mask);
    // A debug request is no parameter change: the c331 thread is woken for
    // it alone, and the apply flag is left as it is.
    if (reg >= u32(c331img::REG_TEST) && reg <= u32(c331img::REG_GROUP_DUMP)) c331_manage::get()->request_debug();
    return status(out, cap, ReplyStatus::Ok);
}

u32 message_deal::read_register(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 4) return status(out, cap, ReplyStatus::BadArgument);
    const u8 target = req.header(Frame::kTargetByte);
    const u32 reg = rd16(req.data());
    const u32 count = rd16(req.data() + 2);
    if (target == PcReg::TargetFpga0 || target == PcReg::TargetFpga1) {
        if (count == 0 || reg + count > u32(fpgareg::kImageSize) || cap < 1 + count)
            return status(out, cap, ReplyStatus::BadArgument);
        fpga_manage* f = fpga_manage::p_fpga_manage;
        if (!f) return status(out, cap, ReplyStatus::Busy);
        const u8 fpga = u8(target - PcReg::TargetFpga0);
        for (u32 r = reg; r < reg + count; ++r) f->read_from_register(u8(r), fpga);
        {
            QMutexLocker lock(&f->shadow_mutex);
            std::memcpy(out + 1, fpga_manage::MCU_REG_func[fpga] + reg, count);
        }
        out[0] = ReplyStatus::Ok;
        return 1 + count;
    }
    if (target != PcReg::TargetController || count == 0 || count > PcRam::MaxRead ||
        reg + count > PcReg::LastReadable + 1 || cap < 1 + count)
        return status(out, cap, ReplyStatus::BadArgument);
    ZrvRamPara* p = model();
    if (!p) return status(out, cap, ReplyStatus::Busy);
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        regCopy(out + 1, p->reg_block.REG + reg, count);
    }
    out[0] = ReplyStatus::Ok;
    return 1 + count;
}

// ---------------------------------------------------------------- files

std::string message_deal::safeFileName(const std::string& name) {
    // A NUL anywhere would let the name the log and the checks see differ
    // from the one a C string takes.
    if (name.find('\0') != std::string::npos) return {};
    const size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    return FileCheck::storedNameOk(base) ? base : std::string();
}

std::string message_deal::filePathFor(u8 type, const std::string& name) {
    switch (type) {
    case PcFile::RecoveryFile: return PcFile::RecoveryPath;
    case PcFile::ScanFile: {
        const std::string base = safeFileName(name);
        if (base.compare(0, 4, "QDFR") != 0) return {};
        return std::string(PcFile::ScanDir) + "/" + base;
    }
    case PcFile::OsdMenu: return PcFile::OsdMenuPath;
    case PcFile::AliasFile: return PcFile::AliasPath;
    case PcFile::KernelImage: return PcFile::KernelMtd;
    case PcFile::BootLogo: return PcFile::LogoMtd;
    default: return {};
    }
}

u32 message_deal::transferMost(u8 type) {
    // An alias file is a few KiB: a larger one is refused before buffering.
    return type == PcFile::AliasFile ? u32(FileCheck::kAliasMax)
           : type == PcFile::OsdMenu ? u32(FileCheck::kOsdMenuMax)
                                     : PcFile::MaxLength;
}

message_deal::Refusal message_deal::startRefusal(u8 type, const std::string& name, u32 total, std::string& why) {
    const u32 most = transferMost(type);
    if (filePathFor(type, "QDFR").empty()) {
        why = "unknown type " + std::to_string(type);
        return Type;
    }
    if (filePathFor(type, name).empty()) {
        why = "name \"" + name +
              "\" (a scan file's name starts with QDFR and holds letters, digits, '.', '_', '-', no temporary name)";
        return Name;
    }
    if (total == 0 || total > most) {
        why = "length " + std::to_string(total) + " (1 to " + std::to_string(most) + ")";
        return Length;
    }
    return kRefusals;
}

u32 message_deal::file_start(const Cmd_Frame& req, u8* out, u32 cap) {
    // type, length, digest: 21 bytes before the name.
    if (req.dataLength() < 21) return status(out, cap, ReplyStatus::BadArgument);
    const u8* d = req.data();
    const u8 type = d[0];
    const u32 total = rd32(d + 1);
    const u32 nameLen = req.dataLength() - 21;
    if (nameLen > PcFile::MaxName) {
        refuse(NameSize, "type " + std::to_string(type) + ", name of " + std::to_string(nameLen) + " bytes (at most " +
                             std::to_string(PcFile::MaxName) + ")");
        return status(out, cap, ReplyStatus::BadArgument);
    }
    // NULs at the end are a PC's padding of the field and dropped; any other
    // NUL stays, so the checks refuse it: a name cut there would pass checks
    // the full one fails.
    std::string name(reinterpret_cast<const char*>(d + 21), nameLen);
    while (!name.empty() && name.back() == '\0') name.pop_back();
    // Which check refused it goes to the log: the PC only sees status 1.
    std::string refusal;
    const Refusal check = startRefusal(type, name, total, refusal);
    if (check != kRefusals) {
        refuse(check, "type " + std::to_string(type) + ", " + refusal);
        m_file = ZrvFileDeal{};
        return status(out, cap, ReplyStatus::BadArgument);
    }
    m_file = ZrvFileDeal{};
    m_file.active = true;
    m_file.owner = m_from;
    m_file.type = type;
    m_file.total = total;
    std::memcpy(m_file.md5, d + 5, 16);
    m_file.path = filePathFor(type, name);
    m_file.data.resize(int(total));
    return status(out, cap, ReplyStatus::Ok);
}

// Another PC's chunk or end finds no transfer of its own: it is answered as
// one without a transfer and touches nothing, so it can neither write into
// the transfer in progress nor have it stored in its name.
bool message_deal::transferOfSender() const { return m_file.active && m_file.owner == m_from; }

u32 message_deal::file_data(const Cmd_Frame& req, u8* out, u32 cap) {
    if (!transferOfSender()) return status(out, cap, ReplyStatus::Busy);
    if (req.dataLength() < 5) return status(out, cap, ReplyStatus::BadArgument);
    const u32 offset = rd32(req.data());
    const u32 len = req.dataLength() - 4;
    // A chunk may repeat what arrived (a retry after a lost reply) but may
    // leave no gap and may not run past the announced length.
    if (offset > m_file.received || offset > m_file.total || len > m_file.total - offset)
        return status(out, cap, ReplyStatus::BadArgument);
    std::memcpy(m_file.data.data() + offset, req.data() + 4, len);
    if (offset + len > m_file.received) m_file.received = offset + len;
    return status(out, cap, ReplyStatus::Ok);
}

u32 message_deal::file_end(const Cmd_Frame&, u8* out, u32 cap) {
    if (!transferOfSender()) return status(out, cap, ReplyStatus::Busy);
    ZrvFileDeal done = std::move(m_file);
    m_file = ZrvFileDeal{};
    if (done.received != done.total) {
        refuse(Arrived, "length, " + std::to_string(done.received) + " of " + std::to_string(done.total) +
                            " bytes arrived for " + done.path);
        return status(out, cap, ReplyStatus::BadArgument);
    }
    MD5 md5(done.data.constData(), u32(done.data.size()));
    if (std::memcmp(md5.digest(), done.md5, 16) != 0) {
        refuse(Digest, "digest, MD5 " + md5.toString() + " does not match for " + done.path);
        return status(out, cap, ReplyStatus::BadArgument);
    }
    // A file its reader would remove on first use is refused here, while the
    // stored one is still whole: taking it would lose the good file.
    std::string shape;
    if (done.type == PcFile::AliasFile && !alias_file_well_formed(done.data.toStdString(), &shape)) {
        refuse(AliasShape, "alias file shape, " + shape);
        return status(out, cap, ReplyStatus::BadArgument);
    }
    if (done.type == PcFile::OsdMenu && !c331_osd::omenu_text_usable(done.data, &shape)) {
        refuse(OsdMenu, "OSD menu " + shape);
        return status(out, cap, ReplyStatus::BadArgument);
    }
    m_file = std::move(done);
    const u8 code = storeFile();
    const int type = m_file.type;
    m_file = ZrvFileDeal{};
    if (code == ReplyStatus::Ok) write_file_end(type);
    return status(out, cap, code);
}

void message_deal::refuse(Refusal check, const std::string& why, LogPlace at) {
    m_refusals[check]->occur([&] {
        writeLogMsgFor(kRefusalKinds[check].check, kRefusalKinds[check].level, "file transfer refused: " + why, at);
    });
}

void message_deal::writeFailed(WriteFault kind, const std::string& line, LogPlace at) {
    m_writeFaults[kind]->occur([&] { writeLogMsgFor(kWriteFaultNames[kind], ERROR, line, at); });
}

std::string message_deal::cardFileRoomFault(const std::string& target, u64 size, u64 freeBytes) {
    u64 files = 1, bytes = size, replaced = 0;
    for (const char* dir : {PcFile::ScanDir, PcFile::RecoveryDir}) {
        const QFileInfoList list =
            QDir(Root::qpath(QString::fromLatin1(dir))).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo& fi : list) {
            if (std::string(dir) + "/" + fi.fileName().toStdString() == target) {
                replaced = u64(fi.size());
                continue;
            }
            ++files;
            bytes += u64(fi.size());
        }
    }
    if (files > PcFile::MaxCardFiles) return std::to_string(files) + " scan and recovery files";
    if (bytes > PcFile::MaxCardBytes) return std::to_string(bytes) + " bytes of scan and recovery files";
    if (freeBytes + replaced < size + PcFile::MinFreeBytes)
        return "less than 8 MiB would stay free (" + std::to_string(freeBytes) + " bytes free)";
    return {};
}

namespace {
// Free bytes of the file system that holds the device path (or the nearest
// folder above it that exists); 0 when it cannot be told.
u64 freeBytesAt(const std::string& devicePath) {
    QFileInfo at(Root::qpath(QString::fromStdString(devicePath)));
    while (!at.exists() && !at.isRoot()) at = QFileInfo(at.absolutePath());
    const QStorageInfo fs(at.absoluteFilePath());
    return fs.isValid() && fs.bytesAvailable() > 0 ? u64(fs.bytesAvailable()) : 0;
}
}  // namespace

u8 message_deal::storeFile() {
    const std::string& path = m_file.path;
    const QByteArray& data = m_file.data;
    if (m_file.type == PcFile::ScanFile || m_file.type == PcFile::RecoveryFile) {
        // A PC (or a loop in one) must not fill the data partition, which
        // also holds the parameter image and the user modes.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        const std::string fault = cardFileRoomFault(path, u64(data.size()), freeBytesAt(path));
        if (!fault.empty()) {
            refuse(Room, "no room for " + path + ", " + fault);
            return ReplyStatus::Busy;
        }
    }
    if (m_file.type == PcFile::KernelImage || m_file.type == PcFile::BootLogo) {
        std::unique_ptr<MtdDevice> mtd = Board::get().openMtd(path);
        MtdInfo info;
        if (!mtd || !mtd->isOpen() || mtd->getInfo(info) != 0 || u32(data.size()) > info.size) {
            m_flashMissing.of(path).occur([&] {
                writeLogMsgFor(path, ERROR,
                               "flash " + path + " not available for " + std::to_string(data.size()) + " bytes");
            });
            return ReplyStatus::Busy;
        }
        const u32 erased = Utils::non_region_erase(*mtd, 0, data.size(), 1);
        const u32 written =
            erased ? 0 : Utils::non_region_write(*mtd, reinterpret_cast<const u8*>(data.constData()), data.size(), 0);
        if (erased || written) {
            // A flash whose protection keeps its bytes takes every request.
            const bool kept = erased == 10 || written == 2;
            m_flashFailed.of(path).occur([&] {
                writeLogMsgFor(path, ERROR,
                               "writing " + path + " failed" + (kept ? ": the flash does not read back what was stored" : ""));
            });
            return ReplyStatus::Busy;
        }
        m_flashWritten.of(path).occur([&] {
            writeLogMsgFor(path, INFO, "flash " + path + " written, " + std::to_string(data.size()) + " bytes");
        });
        return ReplyStatus::Ok;
    }
    QMutexLocker lock(&Utils::_file_deal_mutex);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) FileOps::makeDirs(path.substr(0, slash));
    // The new file is written beside the old one before the rename.
    const QStorageInfo disk(Root::qpath(QString::fromStdString(path.substr(0, slash))));
    if (disk.isValid() && disk.bytesAvailable() < data.size()) {
        refuse(Space, "space, " + std::to_string(disk.bytesAvailable()) + " bytes free for " +
                          std::to_string(data.size()) + " of " + path);
        return ReplyStatus::Busy;
    }
    if (!FileOps::writeFileAtomic(path, data)) {
        m_storeFailed.occur([&] { writeLogMsg(ERROR, "storing " + path + " failed"); });
        return ReplyStatus::Busy;
    }
    m_received.occur([&] { writeLogMsg(INFO, "file " + path + " received, " + std::to_string(data.size()) + " bytes"); });
    return ReplyStatus::Ok;
}

void message_deal::write_file_end(int fileType) {
    if (ZrvRamPara* p = model()) p->test_signal(PcFile::ChangeCode);
    if (fileType == PcFile::RecoveryFile) refreshIfInFront(PageRegistry::Advanced);
    if (fileType == PcFile::ScanFile) backIfInFront(PageRegistry::Wizard);
}

bool message_deal::delete_file_name(Kept* kept) {
    bool recoveryDeleted = false;
    Kept left;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        for (const std::string dir : {PcFile::ScanDir, PcFile::RecoveryDir}) {
            const QDir folder(Root::qpath(QString::fromStdString(dir)));
            const QStringList files = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
            for (const QString& f : files) {
                // Each removal flushes its own folder: a global sync here
                // would hold both mutexes for as long as every other
                // writer's data takes to reach the disk.
                const std::string path = dir + "/" + f.toStdString();
                if (!FileOps::removeDurably(path)) {
                    if (left.count++ == 0) left.first = path;
                } else if (dir == PcFile::RecoveryDir) {
                    recoveryDeleted = true;
                }
            }
        }
    }
    if (kept) *kept = left;
    // The pages read the reader's lists for what is stored.
    if (fpga_manage* m = fpga_manage::p_fpga_manage)
        if (m->recovery) m->recovery->clear_lists();
    backIfInFront(PageRegistry::Wizard);
    refreshIfInFront(PageRegistry::Settings);
    if (recoveryDeleted) refreshIfInFront(PageRegistry::Advanced);
    return recoveryDeleted;
}

u32 message_deal::delete_files(const Cmd_Frame&, u8* out, u32 cap) {
    Kept kept;
    delete_file_name(&kept);
    if (kept.count == 0) return status(out, cap, ReplyStatus::Ok);
    // The files still there are still offered: the PC must not take them
    // for gone.
    writeFailed(CardFilesKept, "deleting scan and recovery files: " + std::to_string(kept.count) +
                                   " could not be removed, " + kept.first + " among them");
    return status(out, cap, ReplyStatus::Busy);
}

// ---------------------------------------------------------------- device

u32 message_deal::device_info(const Cmd_Frame&, u8* out, u32 cap) {
    constexpr u32 kLen = 1 + 32 + 4 + 12;
    if (cap < kLen) return status(out, cap, ReplyStatus::BadArgument);
    out[0] = ReplyStatus::Ok;
    std::memcpy(out + 1, g_pid, 32);
    std::memcpy(out + 33, kSoftwareVersion.data(), 4);
    QString ip, mask, gateway;
    {
        QMutexLocker lock(&settingsLock());
        ip = g_str_ip;
        mask = g_srt_mask;
        gateway = g_str_gateway;
    }
    parseQuad(ip, out + 37);
    parseQuad(mask, out + 41);
    parseQuad(gateway, out + 45);
    return kLen;
}

u32 message_deal::set_clock(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 7) return status(out, cap, ReplyStatus::BadArgument);
    const u8* d = req.data();
    const int sec = Utils::fromBcd(d[0]), min = Utils::fromBcd(d[1]), hour = Utils::fromBcd(d[2]);
    const int day = Utils::fromBcd(d[3]), month = Utils::fromBcd(d[4]);
    const int yearLow = Utils::fromBcd(d[5]), century = Utils::fromBcd(d[6]);
    if (sec < 0 || sec > 59 || min < 0 || min > 59 || hour < 0 || hour > 23 || yearLow < 0 || century < 0)
        return status(out, cap, ReplyStatus::BadArgument);
    const int year = century * 100 + yearLow;
    if (!QDate::isValid(year, month, day) || year < 2000) return status(out, cap, ReplyStatus::BadArgument);
    // Only numbers checked above reach the command line.
    const QString stamp = QStringLiteral("%1-%2-%3 %4:%5:%6")
                              .arg(year, 4, 10, QChar('0'))
                              .arg(month, 2, 10, QChar('0'))
                              .arg(day, 2, 10, QChar('0'))
                              .arg(hour, 2, 10, QChar('0'))
                              .arg(min, 2, 10, QChar('0'))
                              .arg(sec, 2, 10, QChar('0'));
    int dated = 0;
    if (Utils::system_mutex(QStringLiteral("date -s \"%1\"").arg(stamp), &dated) != 0) {
        writeFailed(ClockNotSet, "clock not set to " + stamp.toStdString() + ": date ended with status " +
                                     std::to_string(dated));
        return status(out, cap, ReplyStatus::Busy);
    }
    // The clock set is the one the next power-up reads: a hardware clock
    // that did not take it is a clock not set.
    if (Utils::system_mutex(QStringLiteral("hwclock -w"), &dated) != 0) {
        writeFailed(ClockNotSet, "clock not kept over a power cut at " + stamp.toStdString() +
                                     ": hwclock ended with status " + std::to_string(dated));
        return status(out, cap, ReplyStatus::Busy);
    }
    m_clockSet.occur([&] { writeLogMsg(INFO, "clock set to " + stamp.toStdString()); });
    // The setting is done once the run-time record in the flash holds its
    // mark too.
    fpga_manage* f = fpga_manage::p_fpga_manage;
    if (f && !f->clock_record.dealwith_record_timing()) {
        writeFailed(ClockNotSet, "clock set to " + stamp.toStdString() + ", but the run-time record not marked");
        return status(out, cap, ReplyStatus::Busy);
    }
    return status(out, cap, ReplyStatus::Ok);
}

u32 message_deal::Time_to_RAM(const Cmd_Frame&, u8* out, u32 cap) {
    constexpr u32 kLen = 1 + clock_record_run::kReportBytes;
    if (cap < kLen) return status(out, cap, ReplyStatus::BadArgument);
    if (!clock_record_run::report(out + 1)) return status(out, cap, ReplyStatus::Busy);
    out[0] = ReplyStatus::Ok;
    return kLen;
}

u32 message_deal::network_setup(const Cmd_Frame& req, u8* out, u32 cap) {
    if (req.dataLength() < 12) return status(out, cap, ReplyStatus::BadArgument);
    const u8* ip = req.data();
    const u8* mask = ip + 4;
    const u8* gw = ip + 8;
    // A unicast address and gateway and a contiguous mask; anything else
    // would leave the device unreachable.
    const u32 m = (u32(mask[0]) << 24) | (u32(mask[1]) << 16) | (u32(mask[2]) << 8) | mask[3];
    const bool maskOk = m != 0 && ((~m + 1) & ~m) == 0;
    auto unicast = [](const u8* a) { return a[0] != 0 && a[0] != 127 && a[0] < 224; };
    if (!unicast(ip) || !maskOk || !unicast(gw))
        return status(out, cap, ReplyStatus::BadArgument);
    ConfigEngine* ce = ConfigEngine::p_config ? ConfigEngine::p_config : ConfigEngine::pInstance();
    // A settings file that cannot be read is refused for good; a write that
    // failed, or an address eth0 did not take, may pass on a retry.
    using Fault = ConfigEngine::NetworkFault;
    const Fault fault = ce->apply_network(quad(ip), quad(mask), quad(gw));
    // An unreadable file and an address not taken have their own lines.
    if (fault == Fault::NotWritten)
        writeFailed(SettingsNotStored,
                    std::string("network settings not stored: ") + ConfigEngine::kIniFile + " cannot be written");
    // What was stored shows on the pages even when eth0 did not take it.
    if (fault == Fault::None || fault == Fault::NotTaken)
        if (ZrvRamPara* p = model()) p->test_signal(1);
    if (fault == Fault::None) return status(out, cap, ReplyStatus::Ok);
    return status(out, cap, fault == Fault::Unreadable ? ReplyStatus::BadArgument : ReplyStatus::Busy);
}

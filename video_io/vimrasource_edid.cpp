// The built-in EDIDs of the six inputs, the EEPROM check at start-up and the
// custom-timing EDIDs the operator asks for.
#include "video_io/vimrasource.h"

#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "platform/board.h"
#include "platform/fileops.h"
#include "video_engine/c331_manage.h"
#include "video_io/source_handover.h"

#include <QMutexLocker>

#include <cstdint>
#include <cstring>
#include <initializer_list>

using namespace source_bus;

namespace {

ZrvRamPara* model() { return ZrvRamPara::p_zrvrampara_config; }

// An input as its lines name it, and the device each of its lines is for:
// one input's EEPROM failing at every write never hides another's.
std::string inputName(int input) { return "input " + std::to_string(input); }

constexpr int kEdidSize = 256;
constexpr int kPage = 8;

// Appends bytes at a position of a block.
struct Filler {
    u8* b;
    int at;
    Filler& operator()(std::initializer_list<int> bytes) {
        for (int v : bytes) b[at++] = u8(v);
        return *this;
    }
    Filler& text(const char* s) {
        while (*s) b[at++] = u8(*s++);
        return *this;
    }
};

void fillIt6602(u8* e, const char* name) {
    std::memset(e, 0, kEdidSize);
    Filler f{e, 0};
    f({0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x52, 0x38, 0x01, 0x00, 0x01, 0x01, 0x01, 0x01, 0x04, 0x1C,
       0x01, 0x04, 0x80, 0x3D, 0x23, 0x78, 0x2A, 0x5F, 0xB1, 0xA2, 0x57, 0x4F, 0xA2, 0x28, 0x0F, 0x50, 0x54, 0x21,
       0x08, 0x00, 0x81, 0xC0, 0x81, 0x00, 0x81, 0x40, 0x81, 0x80, 0x95, 0x00, 0xA9, 0x40, 0x01, 0x01, 0x01, 0x01});
    f({0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x20, 0x40, 0x21, 0x00, 0x00, 0x1E});
    f({0x00, 0x00, 0x00, 0xFD, 0x00, 0x17, 0x78, 0x0F, 0x85, 0x1E, 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20});
    f({0xE2, 0x68, 0x00, 0xA0, 0xA0, 0x40, 0x2E, 0x60, 0x30, 0x20, 0x36, 0x00, 0x20, 0x40, 0x21, 0x00, 0x00, 0x1E});
    f({0x00, 0x00, 0x00, 0xFC, 0x00}).text(name)({0x0A, 0x20, 0x20, 0x20, 0x20, 0x20});
    f({0x01});
    f.at = 128;
    f({0x02, 0x03, 0x1C, 0xF1, 0x41, 0x01, 0x23, 0x09, 0x07, 0x07, 0x83, 0x01, 0x00, 0x00});
    f({0x6D, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x80, 0x3C, 0x20, 0x10, 0x60, 0x01, 0x02, 0x03});
    f({0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x60, 0x59, 0x21, 0x00, 0x00, 0x1E});
    f({0x02, 0x3A, 0x80, 0xD0, 0x72, 0x38, 0x2D, 0x40, 0x10, 0x2C, 0x45, 0x80, 0x65, 0x59, 0x21, 0x00, 0x00, 0x1E});
}

void fillIt6805(u8* e, const char* name) {
    std::memset(e, 0, kEdidSize);
    Filler f{e, 0};
    f({0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x6A, 0x56, 0x05, 0x68, 0x21, 0x43, 0x65, 0x87, 0x2E, 0x19,
       0x01, 0x03, 0x80, 0x3E, 0x22, 0x78, 0xEA, 0x08, 0xA5, 0xA2, 0x57, 0x4F, 0xA2, 0x28, 0x0F, 0x50, 0x54, 0xA5,
       0x4B, 0x00, 0xD1, 0xC0, 0xA9, 0x40, 0x81, 0x80, 0x81, 0x00, 0x71, 0x4F, 0xE1, 0x00, 0x01, 0x01, 0x01, 0x01});
    f({0x08, 0xE8, 0x00, 0x30, 0xF2, 0x70, 0x5A, 0x80, 0xB0, 0x58, 0x8A, 0x00, 0x6D, 0x55, 0x21, 0x00, 0x00, 0x1E});
    f({0x00, 0x00, 0x00, 0xFF, 0x00}).text("ZRV_K57HDMI20");
    f({0x00, 0x00, 0x00, 0xFC, 0x00}).text(name)({0x0A, 0x20, 0x20});
    f({0x00, 0x00, 0x00, 0xFD, 0x00, 0x1D, 0x4B, 0x1F, 0x8C, 0x3C, 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20});
    f({0x01});
    f.at = 128;
    f({0x02, 0x03, 0x3C, 0xF1});
    f({0x56, 101, 102, 97, 96, 95, 94, 93, 98, 99, 100, 16, 31, 32, 5, 20, 4, 19, 18, 17, 3, 2, 1});
    f({0x23, 0x09, 0x07, 0x07, 0x83, 0x01, 0x00, 0x00});
    f({0x6D, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x3C, 0x20, 0x00, 0x60, 0x01, 0x02, 0x03});
    f({0x67, 0xD8, 0x5D, 0xC4, 0x01, 0x78, 0x80, 0x03, 0xE2, 0x0F, 0x0F});
    f({0x04, 0x74, 0x00, 0x30, 0xF2, 0x70, 0x5A, 0x80, 0xB0, 0x58, 0x8A, 0x00, 0x6D, 0x55, 0x21, 0x00, 0x00, 0x1E});
    f({0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0xE0, 0x0E, 0x11, 0x00, 0x00, 0x1E});
    f({0x01, 0x1D, 0x00, 0x72, 0x51, 0xD0, 0x1E, 0x20, 0x6E, 0x28, 0x55, 0x00, 0x40, 0xB4, 0x10, 0x00, 0x00, 0x1E});
}

void setChecksums(u8* e) {
    e[127] = u8(0 - vimrasource::CalcSum4LCD(0, e, 127));
    e[255] = u8(0 - vimrasource::CalcSum4LCD(0, e + 128, 127));
}

// Blanking of the synthesised timing per receiver family.
struct Blanking {
    int hfp, hsw, hbp, vfp, vsw, vbp;
};
constexpr Blanking kIt6602Blanking{48, 32, 80, 3, 10, 49};
constexpr Blanking kIt6805Blanking{176, 88, 296, 8, 10, 72};

}  // namespace

void vimraSourceInitEdids(vimrasource& s) {
    static const char* const names6602[4] = {"ZRV-EXT", "ZRV-DVI", "ZRV-HD1", "ZRV-HD2"};
    static const char* const names6805[2] = {"ZRV_K57HD3", "ZRV_K57HD4"};
    for (int i = 0; i < 4; ++i) {
        fillIt6602(s.vimra_default_edid_6602[i], names6602[i]);
        setChecksums(s.vimra_default_edid_6602[i]);
    }
    for (int i = 0; i < 2; ++i) {
        fillIt6805(s.vimra_default_edid_6805[i], names6805[i]);
        setChecksums(s.vimra_default_edid_6805[i]);
    }
}

u8 vimrasource::CalcSum4LCD(u8 start, const u8* data, int count) {
    u8 sum = start;
    for (int i = 0; i < count; ++i) sum = u8(sum + data[i]);
    return sum;
}

u8* vimrasource::default_edid(int input) {
    if (!validInput(input)) return nullptr;
    return input < 4 ? vimra_default_edid_6602[input] : vimra_default_edid_6805[input - 4];
}

bool vimrasource::edid_valid(const u8* e) {
    if (e[0] != 0 || e[7] != 0) return false;
    for (int i = 1; i <= 6; ++i)
        if (e[i] != 0xFF) return false;
    return CalcSum4LCD(0, e, 128) == 0;
}

bool vimrasource::custom_edid_fits(int width, int height, int rate, int input, int64_t* clock) {
    const Blanking& b = isIt6805Input(input) ? kIt6805Blanking : kIt6602Blanking;
    const int64_t htotal = int64_t(width) + b.hfp + b.hsw + b.hbp;
    const int64_t vtotal = int64_t(height) + b.vfp + b.vsw + b.vbp;
    const int64_t c = int64_t(rate) * htotal * vtotal / 10000;  // 10 kHz units
    if (clock) *clock = c;
    return validInput(input) && width >= 1 && width <= 4095 && height >= 1 && height <= 4095 && rate > 0 && c >= 1 &&
           c <= 65535;
}

bool vimrasource::Set_Custom_HDMI_EDID(int width, int height, int rate, int input) {
    u8* e = default_edid(input);
    if (!e) return false;
    const Blanking& b = isIt6805Input(input) ? kIt6805Blanking : kIt6602Blanking;
    const int hblank = b.hfp + b.hsw + b.hbp;
    const int vblank = b.vfp + b.vsw + b.vbp;
    int64_t clock = 0;
    if (!custom_edid_fits(width, height, rate, input, &clock)) {
        writeLogMsg(WARNING, "custom EDID of input " + std::to_string(input) + " refused: " + std::to_string(width) +
                                 "x" + std::to_string(height) + " at " + std::to_string(rate) + " Hz, clock " +
                                 std::to_string(clock) + " x 10 kHz");
        return false;
    }
    const u8 d[12] = {u8(clock), u8(clock >> 8), u8(width), u8(hblank),
                      u8(((width >> 8) & 0x0F) << 4 | ((hblank >> 8) & 0x0F)),
                      u8(height), u8(vblank), u8(((height >> 8) & 0x0F) << 4), u8(b.hfp), u8(b.hsw),
                      u8((b.vfp & 0x0F) << 4 | (b.vsw & 0x0F)), 0};
    // Only the first descriptor: bytes 72 to 89 hold the range limits or the
    // serial text, which a timing copy would break.
    std::memcpy(e + 54, d, sizeof d);
    e[127] = u8(0 - CalcSum4LCD(0, e, 127));
    return true;
}

// ---------------------------------------------------------------------------
// EEPROM access (channel already selected on switch 0xE0)

bool vimrasource::eeprom_read(u8* edid) {
    int last = 0;
    for (int off = 0; off < kEdidSize; off += kPage) last = Drv_I2C0::i2c_read(fd, kEeprom, u8(off), edid + off, kPage);
    return last == 1;
}

// The EEPROM does not answer while it programs a page (a few ms).
bool vimrasource::eeprom_ack_poll(u8 next) {
    for (int i = 0; i < 5; ++i) {
        Utils::sleep_ms(2);
        if (Drv_I2C0::i2c_write(fd, kEeprom, next, nullptr, 0)) return true;
    }
    return false;
}

bool vimrasource::eeprom_write(const u8* edid) {
    bool ok = true;
    for (int off = 0; off < kEdidSize && ok; off += kPage) {
        ok = Drv_I2C0::i2c_write(fd, kEeprom, u8(off), edid + off, kPage) == 1 &&
             eeprom_ack_poll(u8((off + kPage) % kEdidSize));
    }
    if (ok) {
        u8 back[kEdidSize] = {};
        for (int off = 0; off < kEdidSize && ok; off += kPage)
            ok = Drv_I2C0::i2c_read(fd, kEeprom, u8(off), back + off, kPage) == 1;
        ok = ok && std::memcmp(back, edid, kEdidSize) == 0;
    }
    return ok;
}

// ---------------------------------------------------------------------------
// Custom EDIDs

void vimrasource::about_set_edid_deal() {
    ZrvRamPara* p = model();
    if (!p) return;
    for (int i = 0; i < kInputs; ++i) {
        const u32 wanted = source_handover::custom_edid_requests(i);
        if (wanted == edid_written[i]) continue;
        u16 w = 0, h = 0, r = 0;
        {
            QMutexLocker lock(&c331_manage::get()->mutex);
            const PARA_RAM_IMAGE& img = p->live_image;
            w = img.word(RamOffset::edid(i));
            h = img.word(RamOffset::edid(i) + 2);
            r = img.word(RamOffset::edid(i) + 4);
        }
        if (!Set_Custom_HDMI_EDID(w, h, r, i)) {
            // Ends as an unacknowledged select would: nothing written, the
            // input restarted with the EDID it has.
            edid_written[i] = wanted;
            continue;
        }
        set_line(GpioName::kEdidWrite, 0);
        eeprom_idle = 0;
        write_audio(audio_code);
        if (select_mem(kChannel[i]) && !eeprom_write(default_edid(i)))
            writeLogMsgFor(inputName(i), ERROR, "EDID EEPROM of " + inputName(i) + ": custom EDID not written");
        edid_written[i] = wanted;
        set_line(GpioName::kEdidWrite, 1);
        eeprom_idle = 1;
        write_audio(u8(audio_code | kAudioIdleBit));
    }
}

// ---------------------------------------------------------------------------
// Start-up check

void vimrasource::about_source_init_deault_edid() {
    QString mode;
    {
        QMutexLocker lock(&settingsLock());
        mode = g_check_edid;
    }
    const bool once = mode == "Once";
    const bool never = mode == "Never";
    for (int i = 0; i < kInputs && once; ++i) {
        set_line(GpioName::kEdidWrite, 1);
        eeprom_idle = 1;
        write_audio(kAudioIdleBit);
        const int reg = source_reg::eepromReg(i);
        const u8 bit = source_reg::eepromBit(i);
        if (!(reg_read(reg) & bit)) continue;
        reg_assign_bit(source_reg::kEeproms, source_reg::kCheckSwitchAck, select_mem(kChannel[i]));
        u8 buf[kEdidSize] = {};
        Utils::sleep_ms(10);
        reg_assign_bit(reg, bit, eeprom_read(buf));
        if (edid_valid(buf)) continue;

        set_line(GpioName::kEdidWrite, 0);
        write_audio(0);
        if (!eeprom_write(default_edid(i)))
            writeLogMsgFor(inputName(i), ERROR, "EDID EEPROM of " + inputName(i) + ": built-in EDID not written");
        std::memset(buf, 0, sizeof buf);
        Utils::sleep_ms(10);
        eeprom_read(buf);
        if (!edid_valid(buf)) {
            reg_clear_bit(reg, bit);
            set_line(GpioName::kEdidWrite, 1);
            eeprom_idle = 1;
            write_audio(kAudioIdleBit);
            QMutexLocker lock(&Utils::_source_init_mutex);
            init_state = 0;
            reinit[0] = reinit[4] = 1;
            return;
        }
        reg_set_bit(reg, bit);
    }
    set_line(GpioName::kEdidWrite, 1);
    eeprom_idle = 1;
    write_audio(kAudioIdleBit);
    enter_state(5);
    if (once) {
        // The store exists since start-up; its pInstance() would refresh
        // globals the GUI thread owns, so it is not called from here.
        ConfigEngine* c = ConfigEngine::p_config;
        if (!c || !c->write_config_variant(ConfigItem::EDIDCheck, QStringLiteral("Never")))
            writeLogMsg(ERROR, "EDID check: \"Never\" could not be stored");
        FileOps::syncAll();
    } else if (never) {
        reg_set_bit(source_reg::kEeproms, 0x5F);
        reg_set_bit(source_reg::kChips, source_reg::kEeprom0Readable);
    }
}

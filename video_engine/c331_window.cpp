// Single-window operations: source (input or crop), crop rectangle, layer,
// attributes and output bits. The apply pass names windows by record; each
// operation maps the record to its slot in the layout first.
#include "video_engine/c331_chip.h"

#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_chip_print.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_regs.h"

#include <algorithm>
#include <cstdio>

using namespace c331print;

namespace {
// Each refusal is its caller's place in the log.
void logWarn(const char* fmt, int a, int b = 0, int c = 0, LogPlace at = {}) {
    char text[160];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    writeLogMsg(WARNING, text, at);
}
}  // namespace

// ---------------------------------------------------------------------------
// Crops

void c331_chip::setupCropOffsets(int slot, const ST_RECT& rect) {
    const int port = m.PM_INPUT[slot];
    for (int t = 0; t < 4; ++t) m.PM_INPUT_OFFSET[slot][t] = zrvApi_CropGetOffset(port, &rect, t);
    dbg("\t PM_OFFSET(%d,%d,%d,%d)\r\n", m.PM_INPUT_OFFSET[slot][0], m.PM_INPUT_OFFSET[slot][1],
        m.PM_INPUT_OFFSET[slot][2], m.PM_INPUT_OFFSET[slot][3]);
}

int c331_chip::cropInput(u16 id) {
    const int input = id & 0xFF;
    return input <= 5 ? input : -1;
}

void c331_chip::cropOn(int slot, ST_RECT& rect) {
    const int port = m.PM_INPUT[slot];
    int hw = m.PI_ACT[port][1];
    if ((port == 4 || port == 5) && m.PI_STATE[port] < 4) hw *= 2;
    const int vh = m.PI_ACT[port][3];
    if (rect.x + rect.w > hw) {
        dbg("    x:%d + w:%d OOR, reset it to C331input\r\n", rect.x, rect.w);
        rect.x = 0;
        rect.w = hw;
    }
    if (rect.y + rect.h > vh) {
        dbg("    y:%d + h:%d OOR, reset it to C331input\r\n", rect.y, rect.h);
        rect.y = 0;
        rect.h = vh;
    }
    m.PM_INPUT_OFFSET_EN[slot] = 1;
    setupCropOffsets(slot, rect);
    m.g_chg_input[slot] = 1;
}

void c331_chip::cropOff(int slot) {
    m.PM_INPUT_OFFSET_EN[slot] = 0;
    for (int t = 0; t < 4; ++t) m.PM_INPUT_OFFSET[slot][t] = 0;
    m.crop_applied[slot] = ST_RECT{-1, -1, -1, -1};
    m.g_chg_input[slot] = 1;
}

void c331_chip::c331_SetCrop(char win, char enable, ST_RECT* rect) {
    const int slot = slotOfRecord(win);
    if (slot < 0) {
        dbg("  not found win:%d\r\n", win);
        return;
    }
    if (enable && !rect) return;
    const int port = zrvApi_inputCvtC331(m.gWininfo[slot].input);
    if (port > 5) return;
    if (enable) {
        m.PM_INPUT[slot] = port;
        cropOn(slot, *rect);
    } else {
        cropOff(slot);
    }
    set_output(m.c331_fd);
}

void c331_chip::zrvApi_updateCrop(int port) {
    if (port < 0 || port >= C331_PORT_NUM) return;
    const PARA_RAM_IMAGE& img = image();
    const int cnt = std::min(m.gMwin.wincnt, C331_WIN_NUM);
    for (int s = 0; s < cnt; ++s) {
        if (m.PM_INPUT[s] != port || !m.PM_INPUT_OFFSET_EN[s]) continue;
        const int idx = m.gWininfo[s].crop;
        if (idx >= int(RamOffset::CROP_COUNT)) continue;
        const CROP_RECORD c = img.crop(idx);
        const ST_RECT rect{c.x, c.y, c.width, c.height};
        for (int t = 0; t < 4; ++t) m.PM_INPUT_OFFSET[s][t] = zrvApi_CropGetOffset(port, &rect, t);
        m.crop_applied[s] = rect;
        dbg("[zrvApi_updateCrop] win:%d, port:%d, cropWin:(%d,%d,%d,%d), PM_INPUT_OFFSET(%d,%d,%d,%d)\n", s, port,
            rect.x, rect.y, rect.w, rect.h, m.PM_INPUT_OFFSET[s][0], m.PM_INPUT_OFFSET[s][1], m.PM_INPUT_OFFSET[s][2],
            m.PM_INPUT_OFFSET[s][3]);
    }
}

int c331_chip::applyCropEdits() {
    const PARA_RAM_IMAGE& img = image();
    const int cnt = std::min(m.gMwin.wincnt, C331_WIN_NUM);
    int changed = 0, reprogram = 0;
    for (int s = 0; s < cnt; ++s) {
        if (!m.PM_INPUT_OFFSET_EN[s]) continue;
        const int idx = m.gWininfo[s].crop;
        if (idx >= int(RamOffset::CROP_COUNT)) continue;
        const CROP_RECORD c = img.crop(idx);
        // A deleted crop (valid bit gone) leaves the window as it is until
        // its source word changes.
        if (!(c.id & 0x8000)) continue;
        const int input = cropInput(c.id);
        if (input < 0) {
            // An id that names no input: the window keeps its picture; said
            // once, not at every pass.
            if (m.crop_refused_id[s] != c.id)
                logWarn("c331: crop record %d names input %d; window keeps its picture", idx, c.id & 0xFF);
            m.crop_refused_id[s] = c.id;
            continue;
        }
        if (input != m.gWininfo[s].input && m.slot_record[s] >= 0) {
            // The record now holds a crop of another input: the window
            // follows its source word to it.
            if (setSourceCrop(m.slot_record[s], idx)) ++changed;
            continue;
        }
        const ST_RECT rect{c.x, c.y, c.width, c.height};
        const ST_RECT& was = m.crop_applied[s];
        if (rect.x == was.x && rect.y == was.y && rect.w == was.w && rect.h == was.h) continue;
        setupCropOffsets(s, rect);
        m.crop_applied[s] = rect;
        m.g_chg_input[s] = 1;
        ++changed;
        ++reprogram;
        dbg("[applyCropEdits] win_%d crop %d now (%d,%d,%d,%d)\n", s, idx, rect.x, rect.y, rect.w, rect.h);
    }
    if (reprogram) set_output(m.c331_fd);
    return changed;
}

// ---------------------------------------------------------------------------
// Sources

bool c331_chip::setSourceCrop(int record, int cropIndex) {
    const int slot = slotOfRecord(record);
    if (slot < 0) {
        dbg("[%s] win:%d oor\n", "c331_SetInputsourceCrop", record);
        return false;
    }
    // Callers may hand over the whole source word: only the low byte is the
    // record index.
    if (cropIndex & 0x8000) cropIndex &= 0xFF;
    if (cropIndex < 0 || cropIndex >= int(RamOffset::CROP_COUNT)) {
        err("\t !!!!!!!!!cropIdx OOR,return !!!!!!!!!!!!!");
        logWarn("c331: window %d: crop %d does not exist; source unchanged", record, cropIndex);
        return false;
    }
    const CROP_RECORD c = image().crop(cropIndex);
    const int input = cropInput(c.id);
    if (!(c.id & 0x8000) || input < 0) {
        logWarn("c331: window %d: crop record %d is not in use (id %04X); source unchanged", record, cropIndex, c.id);
        return false;
    }
    dbg("[%s] win:%d , cropIdx:%04X\n", "c331_SetInputsourceCrop", record, cropIndex);
    dbg("\t win:%d Input:%d\n", record, input);
    S::WIN_INFO& wi = m.gWininfo[slot];
    wi.crop = u8(cropIndex);
    wi.input = u8(input);
    m.PM_INPUT[slot] = zrvApi_inputCvtC331(input);
    m.g_chg_input[slot] = 1;
    m.crop_refused_id[slot] = -1;
    // The port is measured before the crop is cut to its picture.
    check_input_port(m.c331_fd);
    ST_RECT rect{c.x, c.y, c.width, c.height};
    cropOn(slot, rect);
    // The rectangle as recorded, not as clamped: an edit of the record is
    // what applyCropEdits looks for.
    m.crop_applied[slot] = ST_RECT{c.x, c.y, c.width, c.height};
    set_output(m.c331_fd);
    return true;
}

void c331_chip::c331_SetInputsourceCrop(int win, int cropIndex) { setSourceCrop(win, cropIndex); }

bool c331_chip::setInputOnly(int slot, int input) {
    input = ((input % 6) + 6) % 6;
    const int port = zrvApi_inputCvtC331(input);
    if (port > 5) {
        dbg("    input:%d OOR\r\n", input);
        return false;
    }
    m.gWininfo[slot].input = u8(input);
    m.PM_INPUT[slot] = port;
    m.g_chg_input[slot] = 1;
    dbg("[c331_SetInputsource] win_%d, port_%d\n", slot, port);
    return true;
}

void c331_chip::c331_SetInputsource(int win, int input) {
    const int slot = slotOfRecord(win);
    if (slot < 0) {
        dbg("    win:%d OOR, wincnt:%d\r\n", win, m.gMwin.wincnt);
        return;
    }
    if (!setInputOnly(slot, input)) return;
    check_input_port(m.c331_fd);
    set_output(m.c331_fd);
}

void c331_chip::c331_SetWinSource(int win, int newWord, int oldWord) {
    if (newWord & 0x8000) {
        setSourceCrop(win, newWord & 0xFF);
        return;
    }
    const int slot = slotOfRecord(win);
    if (slot < 0) {
        dbg("    win:%d OOR, wincnt:%d\r\n", win, m.gMwin.wincnt);
        return;
    }
    // Crop off, then the input: programmed once.
    if (oldWord & 0x8000) cropOff(slot);
    setInputOnly(slot, newWord);
    check_input_port(m.c331_fd);
    set_output(m.c331_fd);
}

// ---------------------------------------------------------------------------
// Layers

void c331_chip::c331_SetWinPriority(int win, int priority) {
    const int slot = slotOfRecord(win);
    if (slot < 0) return;
    if (priority < 0 || priority > 5) {
        dbg(" WIN%d PRIORITY:%x OOR,reset to %d\n", win, priority, ((priority % 6) + 6) % 6);
        priority = ((priority % 6) + 6) % 6;
    }
    m.gWininfo[slot].layer = u8(priority);
}

void c331_chip::c331_SetWinPriority1(int dev) {
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        const int before = m.PM_OVERLAY_PRI[w];
        m.PM_OVERLAY_PRI[w] = w < m.gMwin.wincnt ? 5 - std::min<int>(m.gWininfo[w].layer, 5) : 0;
        dbg("\t win_%d, zrv_layer_%d ==> layer_%d\n", w, before, m.PM_OVERLAY_PRI[w]);
    }
    update_overlay_info();
    set_overlay(dev);
    reset_layer_coef(dev, 0);
}

// ---------------------------------------------------------------------------
// Attributes and output bits

void c331_chip::c331_SetWinAttr(char win, int data) {
    const int slot = slotOfRecord(win);
    if (slot < 0) return;
    m.gWininfo[slot].attr = u8(data & 3);
    m.chg_attr[slot] = 1;
    m.attr_hflip[slot] = data & 1;
    m.attr_vflip[slot] = (data >> 1) & 1;
    set_output(m.c331_fd);
}

void c331_chip::c331_SetWinOutput(int dev, char win, int data) {
    const int slot = slotOfRecord(win);
    if (slot < 0) return;
    S::WIN_INFO& wi = m.gWininfo[slot];
    dbg("\t pwinfo[win_%d].output:%02x -- data:%02x\n", slot, wi.output, data & 3);
    if ((wi.output ^ data) & 1) {
        wi.output = u8((wi.output & ~1) | (data & 1));
        dbg("\t change win_%d output:%s\n", slot, (data & 1) ? "Black" : "Normal");
        set_input_bkg2(dev, slot, data & 1);
    }
    if ((wi.output ^ data) & 2) {
        if (portNoSignal(m.PM_INPUT[slot])) {
            // Without a picture there is nothing to hold: the freeze is off,
            // also when it was on and is now being released.
            dbg("\t change win_%d no signal, disable freeze\n", slot);
            if (wi.output & 2) {
                wi.output = u8(wi.output & ~2);
                win_freeze_sel(dev, slot, 0);
            }
        } else {
            wi.output = u8((wi.output & ~2) | (data & 2));
            dbg("\t change win_%d freeze:%s\n", slot, (data & 2) ? "Freeze" : "Normal");
            win_freeze_sel(dev, slot, data);
            // Reprogramming the window in the same call could replace the
            // frame just held: fade and dot-by-dot wait for the next change
            // of the word.
            return;
        }
    }
    m.PM_WIN_FADE_EN[slot] = (data >> 2) & 1;
    const int r = m.slot_record[slot];
    const int mode = r >= 0 ? image().word(RamOffset::win(r) + RamOffset::WIN_DBD_MODE) : 0;
    bool oor = false;
    const int code = dbdCode(data, mode, &oor);
    if (oor) err("\t !!!!!!!!DBD_MODE OOR!!!!!!!");
    if (code == 0) dbg("\t change win_%d DBD_MODE: DBD_DISABLE\n", slot);
    if (code != m.PM_WIN_DBD_MODE[slot]) m.g_chg_dbd[slot] = 1;
    m.PM_WIN_DBD_MODE[slot] = code;
    m.chg_out[slot] = 1;
    set_output(dev);
}

void c331_chip::c331_SetWinDbdMode(int dev, char win, int mode) {
    const int slot = slotOfRecord(win);
    if (slot < 0) return;
    const int r = m.slot_record[slot];
    const int output = r >= 0 ? image().word(RamOffset::win(r) + RamOffset::WIN_OUTPUT) : 0;
    if (!(output & 0x100)) {
        // Dot-by-dot is off for this window: it stays a normal window; the
        // mode takes effect when the output word turns it on. Not kept as
        // the window's code meanwhile: the next source change would lay the
        // window out pixel for pixel.
        return;
    }
    bool oor = false;
    const int code = dbdCode(output, mode, &oor);
    if (oor) err("\t !!!!!!!!DBD_MODE OOR!!!!!!!, set it to DBD_SINGLE_INPUT");
    if (code != m.PM_WIN_DBD_MODE[slot]) m.g_chg_dbd[slot] = 1;
    m.PM_WIN_DBD_MODE[slot] = code;
    m.chg_out[slot] = 1;
    set_output(dev);
}

void c331_chip::win_freeze_sel(int dev, int slot, int data) {
    (void)dev;
    const int ich = firstIch(slot);
    if (ich < 0 || ich > 7) return;
    wr(c331reg::ICH_CTRL, (data & 2) ? 2 : 1, u32(ich) * c331reg::kBankBaseStep);
}

#include "video_engine/c331_chip.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_osd.h"
#include "video_engine/c331_picture.h"
#include "video_engine/c331_timing.h"

#include <QMutexLocker>

#include <cstring>
#include <mutex>

c331_chip::c331_chip(c331_manage& manager)
    : m(manager),
      m_timing(std::make_unique<c331_timing>(*manager.drv, manager.c331_fd, manager, *this)),
      m_picture(std::make_unique<c331_picture>(*manager.drv, manager.c331_fd, manager, *this)),
      m_osd(std::make_unique<c331_osd>(manager, *this)) {
    resetPipeState();
}

void c331_chip::setImage(PARA_RAM_IMAGE* image) {
    m_image = image;
    m_timing = std::make_unique<c331_timing>(*m.drv, m.c331_fd, m, *this, image);
}

void c331_chip::set_rtct(int fd, int mode) { m.set_rtct(fd, mode); }

int c331_chip::zrvApi_OsdSet(int kind, int value) { return m_osd->zrvApi_OsdSet(kind, value); }
int c331_chip::update_osd(int fd) { return m_osd->update_osd(fd); }
void c331_chip::set_osd(int fd, int scroll) { m_osd->set_osd(fd, scroll); }
void c331_chip::set_scroll(int fd) { m_osd->set_scroll(fd); }
void c331_chip::load_char() { m_osd->load_char(); }
int c331_chip::read_c331_font(int fd) { return m_osd->read_c331_font(fd); }
void c331_chip::update_font(int fd) { m_osd->update_font(fd); }
void c331_chip::get_json_omenu_para(const char* path, OSD_MENU_LIST& list) { m_osd->get_json_omenu_para(path, list); }
void c331_chip::set_OSD_para(OSD_MENU_LIST& list) { m_osd->set_OSD_para(list); }

void c331_chip::panel_layout_rebuild() {
    // The channel lists of every window are reset by the allocation itself.
    zrvApi_initEnvC331();
    zrvApi_MultiWinChAlloc(1);
    zrvApi_MultiWinChInit();
}

void c331_chip::resetPipeState() {
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        for (int j = 0; j < 5; ++j) m.win_field[w][j] = j;
        m.win_freeze[w] = 0;
        for (int k = 0; k < C331_CH_NUM; ++k) m.prev_win_ich[w][k] = -1;
        for (int i = 0; i < 4; ++i) m.dbd_win_blk[w][i] = -1;
        m.dbd_blk_owner[w] = -1;
        m.dbd_win_line[w] = 0;
        m.record_slot[w] = m.slot_record[w] = -1;
        m.crop_applied[w] = ST_RECT{-1, -1, -1, -1};
        m.crop_refused_id[w] = -1;
        m.g_chg_dbd[w] = 0;
        m.chg_attr[w] = m.chg_stitch1[w] = m.chg_stitch2[w] = 0;
    }
    for (int n = 0; n < C331_CH_NUM; ++n) m.prev_win_num[n] = C331_WIN_NUM;
    for (int p = 0; p < 4; ++p) m.nr_last[p] = -1;
    m.gMwin.win = m.gMwinList;
}

c331_chip::~c331_chip() = default;

const PARA_RAM_IMAGE& c331_chip::image() const {
    if (m_image) return *m_image;
    // No model yet: the manager's copy is all zero, "no window enabled".
    return m.chip_image();
}

void c331_chip::wr(u32 code, u32 value, u32 base) { m.drv->write_C331(m.c331_fd, code, value, base); }

u32 c331_chip::rd(u32 code, u32 base) { return m.drv->read_C331(m.c331_fd, code, base); }

void c331_chip::wrm(u32 code, u32 value, u32 mask, u32 base) {
    m.drv->write_c331_mask(m.c331_fd, code, value, mask, base);
}

// The measurement and status registers are read between a latch request
// (0x80) and its release (0) on 00:29/1.
void c331_chip::latch(bool on) { wr(c331reg::RTCT_HOLD, on ? 0x80 : 0); }

namespace {
std::mutex g_readerMutex;
c331_chip::HdmiReader g_installedReader;
}  // namespace

void c331_chip::installHdmiReader(HdmiReader reader) {
    std::lock_guard<std::mutex> lock(g_readerMutex);
    g_installedReader = std::move(reader);
}

bool c331_chip::readHdmi(int input, S::PortHdmiInfo& info, s32& stable) {
    info = S::PortHdmiInfo{};
    stable = 0;
    if (input < 0 || input >= C331_PORT_NUM) return false;
    if (m_hdmiReader) return m_hdmiReader(input, info, stable);
    HdmiReader reader;
    {
        std::lock_guard<std::mutex> lock(g_readerMutex);
        reader = g_installedReader;
    }
    return reader ? reader(input, info, stable) : false;
}

// ---------------------------------------------------------------------------
// Panel view: the panel and output-channel records of the panel set-up.
// Before the first set-up, one 1920 x 1080 channel pair side by side.

c331_chip::PanelView c331_chip::panel() const {
    PanelView v{};
    const S::ST_OCH_SPEC& o = m.gOch;
    const S::ST_PANEL& p = m.gPnl;
    if (o.width == 0 || o.height == 0 || o.hcnt == 0 || o.vcnt == 0) {
        v.ochW = 1920, v.ochH = 1080, v.cols = 2, v.rows = 1, v.arrang = 5, v.splice = 0;
        v.w = 1920, v.h = 1080;
        return v;
    }
    v.w = p.w, v.h = p.h, v.xoff = p.xoffs, v.yoff = p.yoffs;
    v.ochW = int(o.width), v.ochH = int(o.height), v.cols = o.hcnt, v.rows = o.vcnt;
    v.arrang = int(o.arrang), v.splice = int(o.splice);
    return v;
}

// ---------------------------------------------------------------------------
// Panel timing and picture: their own classes. A panel change moves every
// window: the picture path is programmed again at once (the chip start-up
// does so itself right after).

int c331_chip::zrvApi_PnlInit2(int ledW, int ledH, int out1W, int out1H, int splice) {
    const int result = m_timing->zrvApi_PnlInit2(ledW, ledH, out1W, out1H, splice);
    if (m.thread_state.load() == 6) set_output(m.c331_fd);
    return result;
}
void c331_chip::c331_SetBrightness(unsigned short value) { m_picture->c331_SetBrightness(value); }
void c331_chip::c331_SetContrast(int value) { m_picture->c331_SetContrast(value); }
void c331_chip::c331_SetSharpness(int value) { m_picture->c331_SetSharpness(value); }
void c331_chip::c331_SetSaturation(int value) { m_picture->c331_SetSaturation(value); }
void c331_chip::c331_SetColorTemp(int value) { m_picture->c331_SetColorTemp(value); }
int c331_chip::c331_SetPattern(int pattern) { return m_picture->c331_SetPattern(pattern); }

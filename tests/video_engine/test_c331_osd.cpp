// The OSD on the simulated c331: font presence and copies, the settings,
// glyphs and what reaches the graphics engine, slices and scrolling, the
// flash lock between a redraw and another user, and the OSD menu file.
#include "../protocol/frame_helpers.h"
#include "test_c331_pipe_env.h"
#include "video_engine/c331_osd.h"

#include "core/md5.h"
#include "core/utils.h"
#include "platform/root.h"

#include <QFileInfo>

#include <atomic>
#include <thread>

namespace {

using Data = std::vector<uint8_t>;
using Hold = SimC331::Hold;

class C331OsdTest : public C331PassEnv {
protected:
    void SetUp() override {
        C331PassEnv::SetUp();
        osd = &chip->osd();
        osd->load_char();
    }
    void header(u32 at, bool present) {
        Data h(35, 0);
        h[0] = present ? 'P' : 'X';
        sim->setFlash(at, h);
    }
    int loadFonts() {
        auto lock = m->flash_lock(false);
        const int r = osd->read_c331_font(m->c331_fd);
        osd->update_font(m->c331_fd);
        return r;
    }
    std::vector<SimC331::GraphicsOp> ops(u8 kind) {
        std::vector<SimC331::GraphicsOp> out;
        for (auto& g : sim->graphics())
            if (g.kind == kind) out.push_back(g);
        return out;
    }
    void text(const std::vector<std::u32string>& lines) {
        std::vector<int> len;
        std::vector<const u32*> ptr;
        for (auto& l : lines) {
            len.push_back(int(l.size()));
            ptr.push_back(reinterpret_cast<const u32*>(l.data()));
        }
        osd->zrvApi_OsdSetUnicode(int(lines.size()), len.data(), ptr.data());
    }
    std::string menuPath() { return hostPath("/data/configs/omenu.json"); }
    OSD_MENU_LIST readMenu(const std::string& json) {
        writeHostFile(menuPath(), json);
        OSD_MENU_LIST list;
        osd->get_json_omenu_para("/data/configs/omenu.json", list);
        return list;
    }
    void l_apply(const std::string& json) {
        OSD_MENU_LIST l = readMenu(json);
        osd->set_OSD_para(l);
    }
    static std::string item(const std::string& text = "HELLO", const std::string& extra = "") {
        return R"({"type":0,"status":"on","pos":{"x":0,"y":0,"w":1920,"h":1080},)"
               R"("act":{"effect":3,"speed":4,"staytime":0},"backpara":{"enable":"on","color":"00FF00"},)"
               R"("fontpara":{"startx":0,"starty":0,"fontw":32,"fonth":32,"wordspace":0,"verticalspace":0,)"
               R"("color":"FF0000"},"texts":[")" +
               text + "\"]" + extra + "}";
    }
    static std::string menu(const std::string& items, int count = 1) {
        return R"({"name":"m","osdcount":)" + std::to_string(count) + R"(,"oactcount":0,"menu":[)" + items + "]}";
    }

    c331_osd* osd = nullptr;
};

TEST_F(C331OsdTest, FontHeadersSetPresenceBitsAndTheFontsAreCopiedInOrder) {
    model->reg_block.REG[43] = 0xC0;
    header(0x000000, true);   // 32-dot ASCII
    header(0x010000, false);  // 32-dot CJK
    header(0x410000, true);   // 64-dot ASCII
    header(0x450000, true);   // 64-dot CJK
    EXPECT_EQ(loadFonts(), 0);
    // REG 43: bit 0 ASCII32, 1 CJK32, 2 and 4 ASCII64, 3 and 5 CJK64; the
    // status word: bit 0 CJK32, 1 ASCII32, 2 CJK64, 3 ASCII64.
    EXPECT_EQ((Vals{model->reg_block.REG[43], m->font_status()}), (Vals{0xC0 | 0x01 | 0x14 | 0x28, 0x2 | 0x8 | 0x4}));
    std::vector<std::array<u32, 3>> copies;
    for (auto& d : sim->dmas()) copies.push_back({d.src, d.dst, d.size});
    EXPECT_EQ(copies, (std::vector<std::array<u32, 3>>{{0x000023, 0x7F000000, 0x3000},
                                                        {0x010023, 0x7F003000, 0x290000},
                                                        {0x410023, 0x7F293000, 0xC000},
                                                        {0x450023, 0x7F29F000, 0xA40000}}));
    // The copy reached chip memory.
    sim->setFlash(0x23, {0x12, 0x34});
    loadFonts();
    EXPECT_EQ(sim->chipMemory(0x7F000000, 2), (Data{0x12, 0x34}));

    header(0x000000, false);
    header(0x010000, true);
    header(0x450000, false);
    loadFonts();
    EXPECT_EQ((Vals{model->reg_block.REG[43], m->font_status()}), (Vals{0xC0 | 0x02 | 0x14, 0x1 | 0x8}));
}

TEST_F(C331OsdTest, AFlashThatDoesNotAnswerCostsOneBoundAndCountsEveryFontAbsent) {
    ManualClock& clock = static_cast<ManualClock&>(Board::get().clock());
    for (u32 a : {0x000000u, 0x010000u, 0x410000u, 0x450000u}) header(a, true);
    loadFonts();
    const size_t copies = sim->dmas().size();
    sim->setHeld(Hold::ReadBusy, true);
    const u64 t0 = clock.nowMs();
    EXPECT_EQ(loadFonts(), 2);
    EXPECT_LE(clock.nowMs() - t0, 110u);
    EXPECT_EQ((Vals{model->reg_block.REG[43] & 0x3F, m->font_status(), sim->dmas().size()}), (Vals{0, 0, copies}));
}

TEST_F(C331OsdTest, AReloadRaisedElsewhereIsServedByThePollStepAndWaitsForAHeldFlash) {
    header(0x000000, true);
    std::thread([this] { m->request_font_reload(); }).join();
    EXPECT_TRUE(m->font_reload_pending());
    {
        auto held = m->flash_lock(false);
        m->poll_step();
        EXPECT_TRUE(m->font_reload_pending());
        EXPECT_TRUE(sim->dmas().empty());
    }
    m->PM_OSD_EN = 1;
    m->poll_step();
    EXPECT_FALSE(m->font_reload_pending());
    EXPECT_EQ((Vals{sim->dmas().size() >= 4, m->font_status(), m->osd_update_req}), (Vals{1, 0x2, 0}));
    // The OSD was on: it was drawn again with the new fonts.
    EXPECT_FALSE(sim->graphics().empty());
}

TEST_F(C331OsdTest, SettingsByKind) {
    const s32 mode = m->PM_OSD_SCROLL_MODE, speed = m->PM_OSD_SCROLL_SPEED;
    m->osd_redraw_req = m->osd_update_req = 0;
    EXPECT_EQ(osd->zrvApi_OsdSet(36, 5), 0);
    EXPECT_EQ(osd->zrvApi_OsdSet(23, 5), 0);
    EXPECT_EQ((Vals{m->PM_OSD_SCROLL_MODE, m->PM_OSD_SCROLL_SPEED, m->osd_redraw_req, m->osd_update_req}),
              (Vals{mode, speed, 0, 0}));
    EXPECT_EQ(osd->zrvApi_OsdSet(4, 11), 1);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 2);
    osd->zrvApi_OsdSet(13, -300);
    EXPECT_EQ((Vals{m->PM_OSD_SCROLL_SPEED, m->osd_redraw_req, m->osd_update_req}), (Vals{-44, 1, 0}));
    osd->zrvApi_OsdSet(3, 1);
    EXPECT_EQ(m->osd_update_req, 1);
    osd->zrvApi_OsdSet(16, int(0xAB123456)), osd->zrvApi_OsdSet(32, 0xC0);
    EXPECT_EQ((Vals{m->osd_bg_color, m->osd_redraw_req, m->osd_update_req}), (Vals{0x123456, 1, 1}));

    bool wide = true;
    EXPECT_EQ((Vals{c331_osd::strideFor(1920, &wide), wide}), (Vals{32, 0}));
    EXPECT_EQ((Vals{c331_osd::strideFor(4096, &wide), wide}), (Vals{64, 0}));
    EXPECT_EQ((Vals{c331_osd::strideFor(4224, &wide), wide}), (Vals{17, 1}));
}

TEST_F(C331OsdTest, GlyphsOfTheFontsAndQuestionMarksForTheRest) {
    osd->zrvApi_OsdSet(34, 3);
    auto g = [&](u16 c, int cell = 32) {
        const c331_osd::Glyph x = osd->glyphOf(c, cell);
        return std::vector<int>{x.number, x.advance};
    };
    EXPECT_EQ(g('A'), (std::vector<int>{33, 19}));
    EXPECT_EQ(g(0x4E2D), (std::vector<int>{141, 35}));
    EXPECT_EQ(g('A', 64), (std::vector<int>{33, 35}));
    EXPECT_EQ(g(0x4E2D, 64), (std::vector<int>{0xC000 / 512 + 0x2D, 67}));
    // Characters without a glyph draw the question mark, glyph 0x3F - 0x20.
    for (u16 c : {u16('?'), u16(0x00E9), u16(0x0410), u16(0x1F), u16(0xA000), u16(0x4DFF)})
        EXPECT_EQ(g(c), (std::vector<int>{31, 19})) << c;
    // Spacing from a file: the advance stays within 1 to 255.
    osd->zrvApi_OsdSet(34, -1000);
    EXPECT_EQ(g('A')[1], 1);
    osd->zrvApi_OsdSet(34, 1000);
    EXPECT_EQ(g('A')[1], 255);

    // 200 lines of 200 characters, one beyond 16 bits.
    std::vector<std::u32string> lines(200, std::u32string(200, U'x'));
    lines[0][0] = 0x1F600;
    text(lines);
    EXPECT_EQ((Vals{m->osd_lines, m->osd_text[63][126], m->osd_text[63][127], m->osd_text[0][0]}),
              (Vals{64, 'x', 0, '?'}));
}

TEST_F(C331OsdTest, TextDrawnInsideTheAreaWithItsColours) {
    osd->zrvApi_OsdSet(19, 200), osd->zrvApi_OsdSet(20, 100), osd->zrvApi_OsdSet(14, 0);
    osd->zrvApi_OsdSet(3, 1), osd->zrvApi_OsdSet(0, 1);
    osd->zrvApi_OsdSet(16, 0x0000FF), osd->zrvApi_OsdSet(17, 0x00FF00);
    osd->zrvApi_OsdSet(21, 20);
    text({U"AB\u4E2D\u00E9", std::u32string(20, U'W'), U"Z"});
    osd->zrvApi_OsdSet(35, 10);
    EXPECT_EQ(osd->update_osd(m->c331_fd), 0);
    const auto strings = ops(3);
    ASSERT_EQ(strings.size(), 2u);  // the third line would reach below the area
    std::vector<int> glyphs;
    for (auto& c : strings[0].chars) glyphs.push_back(c[0] | c[1] << 8);
    EXPECT_EQ(glyphs, (std::vector<int>{33, 34, 141, 31}));
    EXPECT_EQ((Vals{strings[0].chars[2][2], strings[0].chars[2][3], strings[0].chars[2][4]}), (Vals{2, 1, 32}));
    // 180 pixels left after the origin: eleven 16-pixel letters.
    EXPECT_EQ(strings[1].chars.size(), 11u);
    EXPECT_EQ((Vals{strings[0].dst, strings[1].dst, strings[0].src}),
              (Vals{0x725C0000 + 20, 0x725C0000 + 42 * 512 + 20, 0x7F000000}));
    // The background fill covers the area; colour-table entries 1 and 2.
    const auto fills = ops(1);
    ASSERT_FALSE(fills.empty());
    EXPECT_EQ((Vals{fills[0].width, fills[0].height, fills[0].fill}), (Vals{199, 99, 1}));
    EXPECT_EQ(sim->colourTable(1, 2), (Data{0xFF, 0, 0, 0, 0xFF, 0}));
}

TEST_F(C331OsdTest, SlicesPerOutputChannelAndScrollingInTwoPasses) {
    // Four 1920-wide channels across; a window from 1800, 400 wide, covers
    // channels 0 and 1.
    osd->zrvApi_OsdSet(19, 1920), osd->zrvApi_OsdSet(20, 1080);
    osd->zrvApi_OsdSet(3, 1), osd->zrvApi_OsdSet(0, 1);
    osd->zrvApi_OsdSet(5, 1800), osd->zrvApi_OsdSet(6, 400), osd->zrvApi_OsdSet(7, 0), osd->zrvApi_OsdSet(8, 64);
    // Area 1920 wide, so the right margin is 1920 - 400 - 1800 < 0: the
    // window runs to the canvas' width less that.
    osd->zrvApi_OsdSet(19, 7680), osd->zrvApi_OsdSet(20, 2160);
    osd->zrvApi_OsdSet(6, 400), osd->zrvApi_OsdSet(8, 64);
    c331_osd::Slice sl[C331_CH_NUM];
    const auto win = osd->calc_osd(sl);
    EXPECT_EQ((Vals{win.x, win.w, win.h}), (Vals{1800, 400, 64}));
    EXPECT_EQ((Vals{sl[0].hst, sl[0].hw, sl[0].hfirst, sl[1].hst, sl[1].hw, sl[1].hfirst, sl[2].hw}),
              (Vals{1800, 120, 1, 0, 280, 0, 0}));
    osd->zrvApi_OsdSet(4, 3);
    sim->clearLog();
    osd->update_osd(m->c331_fd);
    // The control word on the two covered channels only.
    EXPECT_EQ((Vals{reg16(0x09, 0x08, 0), reg16(0x09, 0x08, 16), reg16(0x09, 0x08, 32), reg16(0x09, 0x14, 16)}),
              (Vals{0x6003, 0x6003, 0x6000, 280}));
    EXPECT_EQ(reg32(0x09, 0x1A, 16), 0x74B80000u + 120);
    EXPECT_EQ(sim->writesTo(0x09 + 16, 0x3C), (Data{0, 0xA1}));
    osd->zrvApi_OsdSet(4, 0);
    osd->set_scroll(m->c331_fd);
    EXPECT_EQ(sim->writesTo(0x09, 0x3C), (Data{0, 0xA1, 0, 0x80}));
}

TEST_F(C331OsdTest, AGraphicsEngineThatStaysBusyStopsTheRedrawAtItsBound) {
    ManualClock& clock = static_cast<ManualClock&>(Board::get().clock());
    osd->zrvApi_OsdSet(19, 200), osd->zrvApi_OsdSet(20, 100), osd->zrvApi_OsdSet(3, 1), osd->zrvApi_OsdSet(14, 0);
    text({U"A", U"B"});
    sim->setGraphicsBusy(true);
    const u64 t0 = clock.nowMs();
    EXPECT_EQ(osd->update_osd(m->c331_fd), 0);
    const u64 spent = clock.nowMs() - t0;
    EXPECT_EQ((Vals{spent >= 1000, spent <= 1010, ops(1).size(), ops(3).size(), sim->writesTo(0x04, 0x08).back()}),
              (Vals{1, 1, 1, 0, 0}));
    sim->setGraphicsBusy(false);
    EXPECT_EQ(osd->update_osd(m->c331_fd), 0);
    EXPECT_EQ(ops(3).size(), 2u);
}

TEST_F(C331OsdTest, InputOffsetsLargerThanTheAreaLeaveScrollBufferAndSlicesAlone) {
    osd->zrvApi_OsdSet(19, 200), osd->zrvApi_OsdSet(20, 100), osd->zrvApi_OsdSet(3, 1);
    osd->zrvApi_OsdSet(9, 150), osd->zrvApi_OsdSet(10, 60);
    text({U"A"});
    sim->clearLog();
    EXPECT_EQ(osd->update_osd(m->c331_fd), 0);
    EXPECT_FALSE(ops(3).empty());
    EXPECT_TRUE(ops(2).empty());
    for (int c = 0; c < 8; ++c)
        for (u8 reg : {0x08, 0x12, 0x14, 0x3C}) EXPECT_TRUE(sim->writesTo(u8(0x09 + 16 * c), reg).empty());
}

TEST_F(C331OsdTest, AProtocolWriteAndABitmapRedrawNeverInterleave) {
    // Two threads in real time: the writer's one-second wait must not run
    // in virtual time advanced by the other thread's waits.
    board().setClock(std::make_unique<SystemClock>());
    osd->zrvApi_OsdSet(3, 0), osd->zrvApi_OsdSet(0, 1);
    m->poll_step();
    sim->clearLog();
    std::atomic<int> result{-1};
    std::thread writer([&] {
        const Data d(600, 0x5A);
        result = m->write_flash(m->c331_fd, 0x20000, 600, d.data());
    });
    // The poll step meets a held flash: the redraw stays pending, the step
    // goes on; a later step draws.
    int drawn = 0;
    for (int i = 0; i < 200 && !drawn; ++i) {
        m->osd_update_req = 1;
        m->poll_step();
        drawn = m->osd_update_req == 0;
    }
    writer.join();
    EXPECT_EQ(result.load(), 0);
    if (!drawn) {
        m->poll_step();
        ASSERT_EQ(m->osd_update_req, 0);
    }
    // In the model's log, the write's bytes and the DMA never mix: every
    // data-port write lies before the DMA start or after its end.
    const auto log = sim->log();
    long dmaStart = -1, dmaEnd = -1;
    std::vector<long> data;
    for (size_t i = 0; i < log.size(); ++i) {
        const auto& a = log[i];
        if (!a.write || a.bank != 0x04) continue;
        if (a.reg == 0x48 && a.value == 2 && dmaStart < 0) dmaStart = long(i);
        if (a.reg == 0x48 && a.value == 0 && dmaStart >= 0 && dmaEnd < 0 && long(i) > dmaStart) dmaEnd = long(i);
        if (a.reg == 0x52) data.push_back(long(i));
    }
    ASSERT_EQ(data.size(), 600u);
    if (dmaStart >= 0) {
        const bool before = data.back() < dmaStart, after = data.front() > dmaEnd;
        EXPECT_TRUE(before || after);
    }
    EXPECT_EQ(sim->flash(0x20000, 600), Data(600, 0x5A));
}

TEST_F(C331OsdTest, MenuFileEdgeCases) {
    // osdcount 0 reads nothing and applies nothing.
    m->PM_OSD_EN = 1;
    OSD_MENU_LIST l = readMenu(menu(item(), 0));
    osd->set_OSD_para(l);
    EXPECT_EQ((Vals{l.osdcount, m->PM_OSD_EN}), (Vals{0, 1}));

    // Three lines with an empty one between two: two OSD lines; colours,
    // speed, effect.
    image->setWord(c331img::LED_WIDTH, 1920), image->setWord(c331img::LED_HEIGHT, 1080);
    l = readMenu(menu(item("a\\n\\nb")));
    osd->set_OSD_para(l);
    EXPECT_EQ((Vals{l.osdcount, m->osd_lines, m->osd_text[0][0], m->osd_text[1][0], m->osd_char_color,
                    m->osd_bg_color, m->PM_OSD_SCROLL_SPEED, m->PM_OSD_SCROLL_MODE, m->PM_OSD_EN, m->PM_OSD_DATA_MODE}),
              (Vals{1, 2, 'a', 'b', 0x0000FF, 0x00FF00, 40, 1, 1, 1}));

    // 64 with 32: the 32-dot font without zoom; zoom left as it was.
    m->PM_OSD_HZOOM_EN = 1, m->PM_OSD_CHAR_64DOT = 1;
    std::string it = item();
    it.replace(it.find("\"fontw\":32"), 10, "\"fontw\":64");
    l = readMenu(menu(it));
    osd->set_OSD_para(l);
    EXPECT_EQ((Vals{m->PM_OSD_CHAR_64DOT, m->PM_OSD_HZOOM_EN}), (Vals{0, 1}));

    // Type 2 is counted and fills nothing; five elements fill three items.
    const std::string t2 = R"({"type":2,"status":"on"})";
    l = readMenu(menu(t2 + "," + item("x") + "," + item("y") + "," + item("z") + "," + item("w"), 5));
    EXPECT_EQ((Vals{l.osdcount, l.items[0].type, l.items[0].w, l.items[1].text == "x", l.items[2].text == "y"}),
              (Vals{5, 2, 0, 1, 1}));
    const s32 en = m->PM_OSD_EN;
    osd->set_OSD_para(l);
    EXPECT_EQ(m->PM_OSD_EN, en);

    // A bitmap item takes its range from itself, else from "bmppara".
    l = readMenu(menu(R"({"type":1,"status":"on","pos":{"x":0,"y":0,"w":10,"h":10},"act":{"effect":0,"speed":0,"staytime":0},)"
                      R"("bmppara":{"start":3,"end":4},"start":1})"));
    EXPECT_EQ((Vals{l.items[0].start, l.items[0].end}), (Vals{1, 4}));
}

TEST_F(C331OsdTest, AMalformedFileIsSetAsideAndAFileTheReaderCannotUseIsKept) {
    l_apply(R"({"name":"m","osdcount":1,)");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(menuPath())));

    const std::string bad[] = {
        menu(R"({"type":0,"status":"on"})"),                         // keys missing
        R"({"name":"m","osdcount":"many","oactcount":0,"menu":[]})",  // wrong type
        menu(item().replace(item().find("[\"HELLO\"]"), 9, "[]")),   // empty "texts"
        R"({"name":"m","osdcount":1,"oactcount":0})",                 // no menu
    };
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        m->osd_char_color = 0x123456;
        l_apply(text);
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(menuPath())));
        EXPECT_EQ(m->osd_char_color, 0x123456u);
    }
    // A colour that is not six hex digits leaves that colour.
    std::string it = item();
    it.replace(it.find("\"FF0000\""), 8, "\"red\"");
    osd->zrvApi_OsdSet(17, 0x123456);
    l_apply(menu(it));
    EXPECT_EQ((Vals{m->osd_char_color, m->osd_bg_color}), (Vals{0xC0C0FF, 0x00FF00}));
    // Deeper than any menu needs, or above 1 MiB: set aside unread.
    l_apply(std::string(40, '[') + std::string(40, ']'));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(menuPath())));
    l_apply(menu(item(std::string(1100000, 'a'))));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(menuPath())));
}

TEST_F(C331OsdTest, AMenuFileAndTheOsdWordOverTheProtocolDrawTheText) {
    for (const char* f : {"ascii32", "cjk32", "ascii64", "cjk64"}) sim->preloadFont(f);
    wall(1920, 1080);
    start();
    EXPECT_EQ((Vals{model->reg_block.REG[43] & 0x3F, m->font_status()}), (Vals{0x3F, 0xF}));

    PcRequests pc;
    const std::string text = menu(item("HELLO"));
    MD5 md5(reinterpret_cast<const u8*>(text.data()), u32(text.size()));
    std::vector<u8> start = {PcFile::OsdMenu};
    put32(start, u32(text.size()));
    start.insert(start.end(), md5.digest(), md5.digest() + 16);
    for (char c : std::string("omenu.json")) start.push_back(u8(c));
    std::vector<u8> chunk;
    put32(chunk, 0);
    chunk.insert(chunk.end(), text.begin(), text.end());
    EXPECT_EQ((Vals{replyStatus(pc.call(PcCmd::FileStart, start)), replyStatus(pc.call(PcCmd::FileData, chunk)),
                    replyStatus(pc.call(PcCmd::FileEnd, {})), pc.ramWrite(c331img::OSD_ON, {1, 0})}),
              (Vals{0, 0, 0, 0}));
    sim->clearGraphics();
    pass();

    const auto strings = ops(3);
    ASSERT_EQ(strings.size(), 1u);
    std::vector<int> glyphs;
    for (auto& c : strings[0].chars) glyphs.push_back(c[0] | c[1] << 8);
    EXPECT_EQ(glyphs, (std::vector<int>{40, 37, 44, 44, 47}));
    // Background "00FF00" and characters "FF0000", red first.
    EXPECT_EQ(sim->colourTable(1, 2), (Data{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00}));
    // The text's control word on the pipelines the window covers, none on
    // the others.
    c331_osd::Slice sl[C331_CH_NUM];
    osd->calc_osd(sl);
    int covered = 0;
    for (int c = 0; c < int(m->PS_OCH_H * m->PS_OCH_V); ++c) {
        const bool in = sl[c].hw > 0 && sl[c].vw > 0;
        covered += in;
        EXPECT_EQ(reg16(0x09, 0x08, 16 * c) & 3, in ? 3 : 0) << c;
    }
    EXPECT_GE(covered, 1);
}

}  // namespace

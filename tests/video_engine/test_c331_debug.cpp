// Debug requests of the protocol's register block served by the c331
// thread: the dumps and actions on the console, the factory sequences on
// the simulated chip, the register list dump, and that a request is no
// parameter change.
#include "test_c331_pipe_env.h"

#include "core/line_limiter.h"
#include "video_engine/c331_chip_print.h"

#include <cstdio>
#include <regex>
#include <sstream>

namespace {

// Everything the chip operations print, while it lives.
class Console {
public:
    Console() : m_file(std::tmpfile()) { c331print::setSink(m_file); }
    ~Console() {
        c331print::setSink(nullptr);
        std::fclose(m_file);
    }
    std::string text() {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string s;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, m_file)) > 0) s.append(buf, n);
        return s;
    }
    bool has(const std::string& what) { return text().find(what) != std::string::npos; }

private:
    FILE* m_file;
};

class C331DebugTest : public C331PassEnv {
protected:
    void SetUp() override {
        C331PassEnv::SetUp();
        g_debugSwitch = 254;
        wall(1920, 1080);
        plug(2, 1920, 1080, 60);
        window(0, 2, 0, 0, 1920, 1080);
        QObject::connect(model.get(), &ZrvRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
    }
    void TearDown() override {
        g_debugSwitch = 254;
        C331PassEnv::TearDown();
    }
    // A request as the protocol writes it: the byte, then the thread's wake.
    // Each a second after the one before: a burst is served only once.
    void request(int reg, u8 value) {
        dynamic_cast<ManualClock&>(board().clock()).advanceMs(LineLimiter::kPeriodMs);
        model->reg_block.REG[reg] = value;
        m->request_debug();
    }
    u8* regs() { return model->reg_block.REG; }
    std::vector<int> codes;
};

TEST_F(C331DebugTest, ParameterDumpsByRequestNumber) {
    start();
    codes.clear();
    {
        Console out;
        request(c331img::REG_PARAM_DUMP, 1);
        pass();
        const std::string t = out.text();
        EXPECT_NE(t.find("[zrvDbg_c331_param] c331_param\n<<===OCH SPEC\r\n"), std::string::npos);
        EXPECT_NE(t.find("<<===PI HDMI INFO\r\n"), std::string::npos);
        EXPECT_TRUE(std::regex_search(t, std::regex("\t PM_WIN_SHAPE\\[0\\]\\[0\\] = [0-9]+\r\n")));
        EXPECT_EQ(regs()[c331img::REG_PARAM_DUMP], 0);
    }
    {
        // 15 is 14 mod 14: the full dump again.
        Console out;
        request(c331img::REG_PARAM_DUMP, 15);
        pass();
        EXPECT_TRUE(out.has("[zrvDbg_c331_param] c331_param\n<<===OCH SPEC"));
    }
    {
        Console out;
        request(c331img::REG_PARAM_DUMP, 6);
        pass();
        EXPECT_TRUE(out.has("[zrvDbg_c331_param] c331_PI\n"));
        EXPECT_TRUE(out.has("Normal"));
        EXPECT_FALSE(out.has("<<===OCH SPEC"));
    }
    {
        Console out;
        request(c331img::REG_PARAM_DUMP, 7);
        pass();
        EXPECT_TRUE(out.has("[zrvDbg_c331_param] none\n"));
        EXPECT_FALSE(out.has("<<==="));
        Vals white, fill;
        for (int c = 0; c < 8; ++c) white.push_back(sim->reg32(u8(0x08 + 16 * c), 0x49) & 0xFFFFFF);
        for (int c = 0; c < 8; ++c) fill.push_back(reg8(0x08, 0x48, 16 * c));
        EXPECT_EQ(white, Vals(0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF));
        EXPECT_EQ(fill, Vals(1, 1, 1, 1, 1, 1, 1, 1));
    }
    {
        // Action 10 before the IT6805 driver offers its read-out.
        Console out;
        chip->zrvDbg_c331_param(10);
        EXPECT_EQ(out.text(), "[zrvDbg_c331_param] none\n\t IT6805 read-out not available\n");
    }
    // Serving requests is no parameter change.
    EXPECT_TRUE(codes.empty());
}

TEST_F(C331DebugTest, ARequestIsServedWithoutApplyFlagAndKeepsAPendingOne) {
    start();
    codes.clear();
    Console out;
    // Only the debug wake: served by a pass that signals nothing.
    request(c331img::REG_GROUP_DUMP, 1);
    ASSERT_EQ(m->apply_flag.load(), 0);
    pass();
    EXPECT_TRUE(out.has("[zrvDbg_c331_print_regGrp] grp:0\n"));
    EXPECT_EQ((Vals{regs()[c331img::REG_GROUP_DUMP], long(codes.size())}), (Vals{0, 0}));
    // A pending slot apply (2) survives a debug-only pass.
    m->apply_flag = 2;
    request(c331img::REG_DEBUG, 0x04);
    m->debug_pass();
    EXPECT_EQ((Vals{m->apply_flag.load(), long(codes.size()), regs()[c331img::REG_DEBUG]}), (Vals{2, 0, 0}));
    m->apply_flag = 0;
}

TEST_F(C331DebugTest, RegisterGroupDump) {
    start();
    {
        Console out;
        chip->zrvDbg_c331_print_regGrp(1);
        EXPECT_EQ(out.text(), "[zrvDbg_c331_print_regGrp] grp:1\n\t not found valid grp!!!!!!!\n");
    }
    Console out;
    chip->zrvDbg_c331_print_regGrp(0);
    const std::string t = out.text();
    const int k = chip->firstIch(0);
    char ich[64];
    std::snprintf(ich, sizeof ich, "\t\t win:0, port:%d ich_used: ICH%d \n", m->PM_INPUT[0], k + 1);
    EXPECT_NE(t.find(ich), std::string::npos) << t;
    // The channel's source select, write mode and the output's write mode.
    char row[64];
    std::snprintf(row, sizeof row, "\t CH%d    %02X      %02X      %04X\n", k + 1, reg8(0x00, u8(0x10 + k)),
                  reg8(0x00, u8(0x71 + k)), reg8(0x00, u8(0x69 + k)));
    EXPECT_NE(t.find(row), std::string::npos) << t;
    // A window whose port is "none" prints none and indexes nothing.
    m->PM_INPUT[0] = 6;
    Console none;
    chip->zrvDbg_c331_print_regGrp(0);
    EXPECT_TRUE(none.has("\t\t win:0, port:none ich_used: "));
}

TEST_F(C331DebugTest, SlideBarsAndClosingMessages) {
    start();
    const int fd = m->c331_fd;
    {
        Console out;
        chip->output_slidebar(fd);
        chip->input_slidebar(fd);
        EXPECT_EQ((Vals{reg8(0x08, 0x57), reg8(0x08, 0x57, 48), reg8(0x08, 0x57, 64), reg16(0x08, 0x61, 16),
                        reg16(0x08, 0x61, 80), reg8(0x08, 0x63, 16), reg8(0x08, 0x66, 16), reg8(0x08, 0x64, 80)}),
                  (Vals{9, 9, 0x89, 0x560, 0xAC0, 255, 3, 255}));
        chip->disable_slidebar(fd);
        Vals types;
        for (int c = 0; c < 6; ++c) types.push_back(reg8(0x08, 0x57, 16 * c));
        EXPECT_EQ(types, Vals(0, 0, 0, 0, 0, 0));
        EXPECT_EQ(out.text(), "\n output_slidebar over \n input_slidebar over \n disable_slidebar over ");
    }
    // Debug printing off: the sequences are silent, the dumps are not.
    g_debugSwitch = 0;
    sim->clearLog();
    Console out;
    chip->output_slidebar(fd);
    chip->vbyone_rx_ch2_seq(fd);
    chip->zrvDbg_c331_param(8);
    EXPECT_EQ(out.text(), "[zrvDbg_c331_param] none\n");
    EXPECT_EQ((Vals{reg8(0x02, 0x5C), reg8(0x02, 0x6B), reg8(0x02, 0x68), reg8(0x50, 0x4A, 112),
                    long(sim->reg32(0x50 + 112, 0x4B) & 0xFFFFFF)}),
              (Vals{5, 0xFF, 0xAB, 1, 0x80FF80}));
    EXPECT_EQ(sim->writesTo(0x02, 0x7F), (std::vector<uint8_t>{13, 15}));
}

TEST_F(C331DebugTest, WriteAndReadBackAndDeviceTests) {
    start();
    const int fd = m->c331_fd;
    sim->setReg(0x50, 0x17, 0x2C);  // 300
    sim->setReg(0x50, 0x18, 0x01);
    {
        Console out;
        chip->write_read_c331_b80_iacthstch5(fd);
        EXPECT_EQ(reg16(0x50, 0x17), 400);
        EXPECT_TRUE(out.has("(B80_IACTHSTCH5=300 ) read"));
        EXPECT_TRUE(out.has("read back 400"));
    }
    Console out;
    const u64 t0 = board().clock().nowMs();
    request(c331img::REG_TEST, 0x03);
    pass();
    // Bit 0 wins: the input test, its 100 ms on the board clock.
    EXPECT_GE(board().clock().nowMs() - t0, 100u);
    EXPECT_EQ(sim->writesTo(0x08, 0x0F), (std::vector<uint8_t>{0xC4, 0}));
    EXPECT_EQ((Vals{reg8(0x00, 0x48), reg8(0x00, 0x4B), reg16(0x08, 0x18)}), (Vals{0x89, 0x10, 1}));
    EXPECT_TRUE(out.has("\n sync_c331_device_test_input over "));
    request(c331img::REG_TEST, 0x02);
    pass();
    EXPECT_EQ((Vals{reg8(0x08, 0x0F), reg16(0x08, 0x08), reg16(0x08, 0x0C), reg16(0x08, 0x0C, 112)}),
              (Vals{4, 3, 5612, 5612}));
}


TEST_F(C331DebugTest, RegisterListDump) {
    const int n = c331_chip::registerListSize();
    // 150 banks of 127 registers, less the three data ports.
    ASSERT_EQ(n, 150 * 127 - 3);
    std::vector<u32> list;
    for (int i = 0; i < n; ++i) list.push_back(c331_chip::registerListEntry(i));
    for (u32 port : {0x045201u, 0x042901u, 0x092001u})
        EXPECT_EQ(std::count(list.begin(), list.end(), port), 0) << std::hex << port;
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    EXPECT_EQ((Vals{list.front(), list.back(), c331_chip::registerListEntry(n)}), (Vals{0x000101, 0xFF7F01, 0}));

    sim->setReg(0x12, 0x34, 0xA5);
    sim->clearLog();
    Console out;
    chip->c331_print();
    const std::string t = out.text();
    EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), n);
    EXPECT_NE(t.find("\n123401  000000A5h\n"), std::string::npos);
    EXPECT_TRUE(std::regex_match(t.substr(0, 18), std::regex("000101  [0-9A-F]{8}h\n")));
    // No data port was read.
    for (const auto& a : sim->log())
        EXPECT_FALSE(!a.write && ((a.bank == 0x04 && (a.reg == 0x52 || a.reg == 0x29)) || (a.bank == 0x09 && a.reg == 0x20)));
}

}  // namespace

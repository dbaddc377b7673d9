#include "frame_helpers.h"

#include "core/JsonParse.h"
#include "core/config_engine.h"
#include "core/file_checks.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/md5.h"
#include "core/zrvrampara.h"
#include "platform/fileops.h"
#include "protocol/message_deal.h"
#include "sim/sim_c331.h"
#include "support/test_env.h"
#include "video_engine/c331_manage.h"
#include "video_io/source_handover.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QMutexLocker>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

namespace {

constexpr u8 Ok = ReplyStatus::Ok, Bad = ReplyStatus::BadArgument, Busy = ReplyStatus::Busy;

class CommandDispatch : public SimEnv, protected PcRequests {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        c331_manage::get()->apply_flag.store(0);
        g_osd_update.store(0);
        source_handover::g_sdi_reset_request.store(0);
        QObject::connect(&m_model, &ZrvRamPara::sig_update_para, [this](int code) { m_codes.push_back(code); });
    }
    u8 applyFlag() { return c331_manage::get()->apply_flag.load(); }
    PARA_RAM_IMAGE& live() { return m_model.live_image; }

    ZrvRamPara m_model;
    ModelInstall m_install{&m_model};
    std::vector<int> m_codes;
};

}  // namespace

TEST_F(CommandDispatch, UnknownCommandsAreUnsupportedAndNoReplyIsCut) {
    const Bytes req = makeFrame(0xC4, {1, 2, 3});
    EXPECT_EQ(replyStatus(call(0xC4, {1, 2, 3})), ReplyStatus::Unsupported);
    Bytes reply(11);  // no room for the status and the check byte
    EXPECT_EQ(deal.message_group_deal(req.data(), u32(req.size()), reply.data(), 11), 0u);
}

TEST_F(CommandDispatch, ParameterWriteWaitsForTheManagerMutexAndRaisesFlagOne) {
    c331_manage* c331 = c331_manage::get();
    std::atomic<int> status{-1};
    std::thread writer;
    {
        QMutexLocker lock(&c331->mutex);
        writer = std::thread([&] { status = ramWrite(RamOffset::CONTRAST, {60, 0}); });
        Utils::sleep_ms(100);
        // The c331 thread is in its pass: nothing may change under it.
        EXPECT_EQ((Vals{status.load(), live().word(RamOffset::CONTRAST), applyFlag()}), (Vals{-1, 0, 0}));
    }
    writer.join();
    EXPECT_EQ((Vals{status.load(), live().word(RamOffset::CONTRAST), applyFlag()}), (Vals{Ok, 60, 1}));
    EXPECT_EQ(ramRead(RamOffset::CONTRAST, 2), (Bytes{60, 0}));
}

TEST_F(CommandDispatch, ParameterWriteBoundsAndLengths) {
    EXPECT_EQ(ramWrite(4092, {1, 2, 3, 4}), Ok);
    c331_manage::get()->apply_flag.store(0);
    EXPECT_EQ(ramWrite(4093, {9, 9, 9, 9}), Bad);
    EXPECT_EQ(live().byte(4093), 2);  // refused whole
    EXPECT_EQ(applyFlag(), 0);
    // A declared length longer than the bytes sent, an empty write and a
    // request without its length field are refused without reading on.
    // No FPGA manager: its blocks answer busy; the status window is read only.
    EXPECT_EQ((Vals{ramWrite(100, {1, 2}, 3), ramWrite(100, {}, 0), replyStatus(call(PcCmd::RamWrite, {0, 0, 0, 0, 2})),
                    ramWrite(0x100000, {1}), ramWrite(0x200000, {1}), ramWrite(0x300000, {1}), applyFlag()}),
              (Vals{Bad, Bad, Bad, Busy, Bad, Bad, 0}));
}

TEST_F(CommandDispatch, RamReadsOfImageSlotsAndStatusWindow) {
    live().setWord(RamOffset::BRIGHTNESS, 100);
    EXPECT_EQ(ramRead(RamOffset::BRIGHTNESS, 2), (Bytes{100, 0}));
    EXPECT_EQ(ramRead(0, 1024).size(), 1024u);
    for (int i = 0; i < 1024; ++i) m_model.reg_block.REG[37 + i] = u8(i * 7);
    const Bytes window = ramRead(PcRam::StatusBase, 1024);
    ASSERT_EQ(window.size(), 1024u);
    EXPECT_EQ((Vals{window[0], window[1023]}), (Vals{m_model.reg_block.REG[37], m_model.reg_block.REG[1060]}));

    m_model.user_mode[2].marker[0] = 0xAA;
    for (int i = 0; i < 3; ++i) m_model.user_mode[2].snapshot[4093 + i] = u8(0x40 + i);
    EXPECT_EQ(ramRead(0x3000, 1), Bytes{0xAA});
    // The slot's last bytes lie beyond its 4 KiB of addresses: reachable
    // from offset 4095 on, never from the next slot's address.
    EXPECT_EQ(ramRead(0x3FFF, 3), (Bytes{0x40, 0x41, 0x42}));
    // Too long, past the image, the status window or the slot (0x3FFF + 4),
    // beyond the slots; FPGA blocks busy without the FPGA manager.
    const u32 refused[][3] = {{0, 1025, Bad}, {4095, 2, Bad}, {PcRam::StatusBase + 1000, 25, Bad}, {0x3FFF, 4, Bad},
                              {0x11000, 1, Bad}, {0x100000, 4, Busy}};
    for (const auto& r : refused) {
        u8 st = 0;
        EXPECT_TRUE(ramRead(r[0], r[1], &st).empty()) << r[0];
        EXPECT_EQ(st, r[2]) << r[0];
    }
}

TEST_F(CommandDispatch, SlotWritesStayInsideTheirSlot) {
    // The last bytes of slot 16 fit; past a slot or beyond the slots not.
    // Slots are applied later through register 161 bit 2.
    EXPECT_EQ((Vals{ramWrite(0x1000, {0xAA, 0xAA, 7}), ramWrite(0x10FFF, {1, 2, 3}), ramWrite(0x2FFF, {1, 2, 3, 4}),
                    ramWrite(0x11000, {1}), applyFlag()}),
              (Vals{Ok, Ok, Bad, Bad, 0}));
    const USER_MODE_SLOT* slot = m_model.user_mode;
    EXPECT_EQ((Vals{slot[0].marker[0], slot[0].snapshot[0], slot[15].snapshot[4095]}),
              (Vals{0xAA, 7, 3}));
}

TEST_F(CommandDispatch, RegisterWritesAndReads) {
    u8* reg = m_model.reg_block.REG;
    reg[5] = 0xF0;
    EXPECT_EQ(regWrite(5, 0x0F, 0xAB), Ok);
    EXPECT_EQ(reg[5], 0xFB);  // only the masked bits change
    // 160 lands in 32; 17 bit 0 cleared asks for the SDI reset; 34 stored.
    EXPECT_EQ((Vals{regWrite(160, 0x3C, 0xFF), reg[32], reg[160]}), (Vals{Ok, 0x3C, 0}));
    EXPECT_EQ((Vals{regWrite(17, 0x02, 0x02), reg[17], source_handover::g_sdi_reset_request.load()}),
              (Vals{Ok, 0x02, 0}));
    EXPECT_EQ((Vals{regWrite(17, 0x01, 0x00), source_handover::g_sdi_reset_request.load()}), (Vals{Ok, 1}));
    EXPECT_EQ((Vals{regWrite(34, 0xFF, 0x05), reg[34]}), (Vals{Ok, 0x05}));
    EXPECT_EQ((Vals{regWrite(170, 0xFF, 1), regWrite(5, 0xFF, 1, PcReg::TargetFpga0),
                    regWrite(5, 0xFF, 1, PcReg::TargetFpga1), regWrite(5, 0xFF, 1, 3),
                    replyStatus(call(PcCmd::RegWrite, {5, 0, 0xFF}))}),
              (Vals{Bad, Busy, Busy, Bad, Bad}));

    reg[1060] = 0x99;
    const Bytes r = call(PcCmd::RegRead, {0x23, 0x04, 2, 0});  // 1059, two bytes
    EXPECT_EQ(replyStatus(r), Ok);
    EXPECT_EQ(replyData(r), (Bytes{0, 0x99}));
    EXPECT_EQ(replyStatus(call(PcCmd::RegRead, {0x24, 0x04, 2, 0})), Bad);
}

TEST_F(CommandDispatch, DebugRequestsWakeTheVideoThreadAndApplyNothing) {
    c331_manage* c331 = c331_manage::get();
    // A pending slot apply (2) stays as it is; no change is signalled.
    EXPECT_EQ((Vals{regWrite(PcReg::McuFlag, 0x04, 0), regWrite(33, 0x01, 0xFF), regWrite(35, 0xFF, 1),
                    regWrite(36, 0x01, 0x01), applyFlag(), c331->debug_pending()}),
              (Vals{Ok, Ok, Ok, Ok, 2, 1}));
    const u8* reg = m_model.reg_block.REG;
    EXPECT_EQ((Vals{reg[33], reg[35], reg[36]}), (Vals{1, 1, 1}));
    EXPECT_TRUE(m_codes.empty());
    c331->apply_flag.store(0);
    // Served by the thread's debug pass: cleared, and still no change signal.
    c331->debug_pass();
    EXPECT_EQ((Vals{reg[33], reg[35], reg[36], applyFlag(), c331->debug_pending(), long(m_codes.size())}),
              (Vals{0, 0, 0, 0, 0, 0}));
    // Other registers do not wake it.
    EXPECT_EQ((Vals{regWrite(37, 0xFF, 1), c331->debug_pending()}), (Vals{Ok, 0}));
}

TEST_F(CommandDispatch, FlagRegisterSlotAndOsdBits) {
    // A pending slot apply is not turned back into a parameter apply.
    EXPECT_EQ((Vals{regWrite(PcReg::McuFlag, 0x04, 0), applyFlag(), ramWrite(RamOffset::BRIGHTNESS, {80, 0}),
                    applyFlag(), regWrite(PcReg::McuFlag, 0x02, 0x02), applyFlag()}),
              (Vals{Ok, 2, Ok, 2, Ok, 2}));
    c331_manage::get()->apply_flag.store(0);
    // OSD off: nothing to reload. Register 161 is not stored.
    EXPECT_EQ((Vals{regWrite(PcReg::McuFlag, 0x08, 0), applyFlag(), g_osd_update.load()}), (Vals{Ok, 0, 0}));
    live().setWord(RamOffset::OSD_ON, 1);
    EXPECT_EQ((Vals{regWrite(PcReg::McuFlag, 0x08, 0), applyFlag(), g_osd_update.load(), m_model.reg_block.REG[161]}),
              (Vals{Ok, 1, 1, 0}));
}

TEST_F(CommandDispatch, FlagRegisterParameterApply) {
    using namespace RamOffset;
    PARA_RAM_IMAGE& img = live();
    // Window 2 is disabled but carries the sound; the PC asked for fades.
    img.setWord(win(0) + WIN_ENABLE, 1);
    img.setWord(AUDIO_WINDOW, 2);
    img.setWord(SWITCH_EFFECT, 1);
    img.setWord(win(3) + WIN_OUTPUT, 0x010D);
    m_model.shadow_image = img;
    // and a new wall size, which a persisting step stores before the apply
    // comes, as the write brings one.
    img.setWord(win(4) + WIN_ENABLE, 1);
    ASSERT_EQ(ramWrite(WALL_WIDTH, {0x00, 0x0F, 0x38, 0x04}), Ok);
    m_model.ram_para_persist(1);

    EXPECT_EQ(regWrite(PcReg::McuFlag, 0x02, 0), Ok);
    // Sound reset, window 0 at the wall size, window 4 off, output bits 2-3
    // the effect.
    EXPECT_EQ((Vals{img.word(AUDIO_WINDOW), img.word(win(0) + WIN_WIDTH), img.word(win(0) + WIN_HEIGHT),
                    img.word(win(4) + WIN_ENABLE), img.word(win(3) + WIN_OUTPUT), img.word(win(0) + WIN_OUTPUT),
                    applyFlag()}),
              (Vals{0, 3840, 1080, 0, 0x0105, 0x0004, 1}));

    // An audio window above 5 is reset as well.
    img.setWord(AUDIO_WINDOW, 9);
    regWrite(PcReg::McuFlag, 0x02, 0);
    EXPECT_EQ(img.word(AUDIO_WINDOW), 0);
}

TEST_F(CommandDispatch, FlagRegisterRecallsTheUserModeThePcChose) {
    using namespace RamOffset;
    USER_MODE_SLOT& slot = m_model.user_mode[4];
    std::memset(&slot, 0, sizeof slot);
    slot.marker[0] = slot.marker[1] = 0xAA;
    slot.snapshot[CONTRAST - MODE_BEGIN] = 77;
    // One PC saves mode 3 with contrast 33, then another chooses mode 5.
    live().setWord(CONTRAST, 33);
    ASSERT_EQ((Vals{ramWrite(SAVE_REQUEST, {3, 0}), ramWrite(LOADED_MODE, {5, 0})}), (Vals{Ok, Ok}));
    regWrite(PcReg::McuFlag, 0x02, 0);
    // Recalled, and the save asked before still waits for its step.
    EXPECT_EQ((Vals{live().word(CONTRAST), live().word(LOADED_MODE), live().word(SAVE_REQUEST)}), (Vals{77, 5, 3}));
    // Carried out with the settings it was asked with; mode 5, recalled
    // after it, stays the current one.
    m_model.ram_para_persist(1);
    EXPECT_EQ((Vals{m_model.ZrvUserModeSaved(2), m_model.user_mode[2].snapshot[CONTRAST - MODE_BEGIN],
                    live().word(CONTRAST), live().word(LOADED_MODE), live().word(SAVE_REQUEST)}),
              (Vals{1, 33, 77, 5, 0}));

    // An empty slot is not recalled.
    live().setWord(CONTRAST, 50);
    m_model.shadow_image.setWord(LOADED_MODE, 0);
    live().setWord(LOADED_MODE, 6);
    regWrite(PcReg::McuFlag, 0x02, 0);
    EXPECT_EQ(live().word(CONTRAST), 50);

    // Mode 5 chosen again, its word stored by a persisting step before the
    // apply comes (each write brings one): recalled all the same, once, and
    // with its own windows on its own wall.
    slot.snapshot[WALL_WIDTH - MODE_BEGIN + 1] = 0x0F;
    slot.snapshot[win(1) + WIN_ENABLE - MODE_BEGIN] = 1;
    ASSERT_EQ((Vals{ramWrite(LOADED_MODE, {0, 0}), regWrite(PcReg::McuFlag, 0x02, 0), ramWrite(LOADED_MODE, {5, 0})}),
              (Vals{Ok, Ok, Ok}));
    m_model.ram_para_persist(1);
    regWrite(PcReg::McuFlag, 0x02, 0);
    const Vals recalled{live().word(CONTRAST), live().word(WALL_WIDTH), live().word(win(1) + WIN_ENABLE)};
    live().setWord(CONTRAST, 50);
    regWrite(PcReg::McuFlag, 0x02, 0);
    EXPECT_EQ(recalled, (Vals{77, 0x0F00, 1}));
    EXPECT_EQ(live().word(CONTRAST), 50);
}

// ---------------------------------------------------------------- files

namespace {
struct Transfer {
    u8 type;
    std::string name;
    Bytes content;
    Bytes md5;  // empty: the right one
};
}  // namespace

class FileTransfer : public CommandDispatch {
protected:
    u8 start(const Transfer& t, u32 total) {
        Bytes d = {t.type};
        put32(d, total);
        Bytes digest = t.md5;
        if (digest.empty()) {
            MD5 md5(t.content.data(), u32(t.content.size()));
            digest.assign(md5.digest(), md5.digest() + 16);
        }
        d.insert(d.end(), digest.begin(), digest.end());
        d.insert(d.end(), t.name.begin(), t.name.end());
        return replyStatus(call(PcCmd::FileStart, d));
    }
    u8 chunk(u32 offset, const Bytes& bytes) {
        Bytes d;
        put32(d, offset);
        d.insert(d.end(), bytes.begin(), bytes.end());
        return replyStatus(call(PcCmd::FileData, d));
    }
    u8 end() { return replyStatus(call(PcCmd::FileEnd, {})); }
    // Whole transfer in chunks of 100 bytes; the status of the end.
    u8 send(const Transfer& t) {
        if (start(t, u32(t.content.size())) != 0) return 0xEE;
        for (size_t off = 0; off < t.content.size(); off += 100) {
            const Bytes p(t.content.begin() + off, t.content.begin() + std::min(t.content.size(), off + 100));
            if (chunk(u32(off), p) != 0) return 0xED;
        }
        return end();
    }
    static Bytes content(size_t n) {
        Bytes b(n);
        for (size_t i = 0; i < n; ++i) b[i] = u8(i * 31 + 5);
        return b;
    }
    Bytes stored(const std::string& devicePath) {
        const std::string f = readHostFile(hostPath(devicePath));
        return Bytes(f.begin(), f.end());
    }
};

TEST_F(FileTransfer, GoodFileIsStoredAndSignalled) {
    const Bytes c = content(1000);
    EXPECT_EQ(send({PcFile::ScanFile, "QDFR_hall-2.qdfile", c, {}}), Ok);
    EXPECT_EQ(stored("/data/smartmapping/QDFR_hall-2.qdfile"), c);
    EXPECT_EQ(m_codes, std::vector<int>{PcFile::ChangeCode});
    EXPECT_FALSE(deal.fileState().active);

    EXPECT_EQ(send({PcFile::RecoveryFile, "whatever", content(10), {}}), Ok);
    const std::string alias = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"abcdefghijkl"}]}})";
    EXPECT_EQ(send({PcFile::AliasFile, "alias.json", Bytes(alias.begin(), alias.end()), {}}), Ok);
    EXPECT_EQ((Vals{stored("/data/rcvrecovery/QDFX").size(), stored("/data/configs/alias.json").size()}),
              (Vals{10, alias.size()}));
}

TEST_F(FileTransfer, AnOsdMenuAboveOneMiBOrNestedTooDeepIsRefusedAndTheStoredOneKept) {
    writeHostFile(hostPath("/data/configs/omenu.json"), "old");
    const Bytes big(1024 * 1024 + 1, ' ');
    const std::string deep = std::string(40, '[') + std::string(40, ']');
    const std::string fine = R"({"name":"m","osdcount":0,"oactcount":0})";
    EXPECT_EQ((Vals{start({PcFile::OsdMenu, "omenu.json", big, {}}, u32(big.size())),
                    send({PcFile::OsdMenu, "omenu.json", Bytes(deep.begin(), deep.end()), {}})}),
              (Vals{Bad, Bad}));
    EXPECT_EQ(stored("/data/configs/omenu.json"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(send({PcFile::OsdMenu, "omenu.json", Bytes(fine.begin(), fine.end()), {}}), Ok);
}

TEST_F(FileTransfer, BadDigestOrShortTransferStoresNothing) {
    writeHostFile(hostPath("/data/configs/omenu.json"), "old");
    EXPECT_EQ(send({PcFile::OsdMenu, "omenu.json", content(300), Bytes(16, 0x11)}), Bad);
    EXPECT_EQ(readHostFile(hostPath("/data/configs/omenu.json")), "old");
    EXPECT_TRUE(m_codes.empty());

    // Short: the end fails and the transfer is over, so more data or
    // another end finds none.
    const Bytes c = content(300);
    EXPECT_EQ((Vals{start({PcFile::OsdMenu, "omenu.json", c, {}}, 300), chunk(0, Bytes(c.begin(), c.begin() + 200)),
                    end(), chunk(200, Bytes(100, 0)), end()}),
              (Vals{Ok, Ok, Bad, Busy, Busy}));
    EXPECT_EQ(readHostFile(hostPath("/data/configs/omenu.json")), "old");
}

TEST_F(FileTransfer, ChunksMayRepeatButNotSkipOrOverrun) {
    // An OSD menu: JSON of 300 bytes.
    std::string json = "{\"name\":\"" + std::string(300 - 11, 'a') + "\"}";
    const Bytes c(json.begin(), json.end());
    auto part = [&](long from, long to) { return Bytes(c.begin() + from, c.begin() + to); };
    // 0-150, a gap at 200, 100-250 over the end of the first, 60 bytes past
    // 300, the rest, a chunk without its offset, the end.
    EXPECT_EQ((Vals{start({PcFile::OsdMenu, "omenu.json", c, {}}, 300), chunk(0, part(0, 150)),
                    chunk(200, part(200, 300)), chunk(100, part(100, 250)), chunk(250, Bytes(60, 0)),
                    chunk(250, part(250, 300)), replyStatus(call(PcCmd::FileData, {0, 0, 0})), end()}),
              (Vals{Ok, Ok, Bad, Ok, Bad, Ok, Bad, Ok}));
    EXPECT_EQ(stored("/data/configs/omenu.json"), c);
}

// Two PCs each send a file, their frames interleaved in every order, for
// peers that differ only in port, only in address, or are the two serial
// lines. A start abandons the transfer in progress whoever sent it; the
// abandoned PC's chunks and end then find no transfer (status 2) and touch
// nothing. So a PC's end is 0 and its file stored whole exactly when the
// other's start did not come between its own start and end.
TEST_F(FileTransfer, TwoPcsInterleavedStoreOnlyTheFileOfAnEndAnsweredDone) {
    const std::string alias = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"hall"}]}})";
    // A: 9000 bytes in three chunks, B: one chunk.
    const Transfer files[2] = {{PcFile::ScanFile, "QDFR_A", content(9000), {}},
                               {PcFile::AliasFile, "", Bytes(alias.begin(), alias.end()), {}}};
    const char* paths[2] = {"/data/smartmapping/QDFR_A", PcFile::AliasPath};
    const PcPeer pairs[][2] = {{{PcLinkId::Udp, 0x0A01A8C0, 5000}, {PcLinkId::Udp, 0x0A01A8C0, 5001}},
                               {{PcLinkId::Tcp, 0x0A01A8C0, 5000}, {PcLinkId::Tcp, 0x0B01A8C0, 5000}},
                               {{PcLinkId::Serial, 0, 0}, {PcLinkId::Serial4G, 0, 0}}};
    const Bytes old = {'o', 'l', 'd'};
    for (const auto& pair : pairs) {
        for (unsigned order = 0; order < 256; ++order) {  // bit i set: frame i is A's
            if (__builtin_popcount(order) != 5) continue;
            for (const char* p : paths) writeHostFile(hostPath(p), "old");
            int step[2] = {0, 0};
            bool abandoned[2] = {false, false};
            u8 got[2] = {};
            std::string trace;
            for (int i = 0; i < 8; ++i) {
                const int x = (order >> i) & 1 ? 0 : 1, s = step[x]++;
                const Bytes& c = files[x].content;
                const size_t at = s > 0 ? 3000 * size_t(s - 1) : 0;
                auto upTo = [&c](size_t n) { return c.begin() + long(std::min(c.size(), n)); };
                if (s == 0) abandoned[1 - x] = step[1 - x] > 0;
                from = pair[x];
                trace += char('A' + x) + std::to_string(s) + " ";
                got[x] = s == 0 ? start(files[x], u32(c.size()))
                         : at >= c.size() ? end() : chunk(u32(at), Bytes(upTo(at), upTo(at + 3000)));
                EXPECT_EQ(int(got[x]), s > 0 && abandoned[x] ? Busy : Ok) << trace;
            }
            for (int x : {0, 1}) EXPECT_EQ(stored(paths[x]), got[x] == Ok ? files[x].content : old) << trace;
            EXPECT_FALSE(deal.fileState().active) << trace;
        }
    }
}

TEST_F(FileTransfer, HostileNamesAndSizesAreRefused) {
    // A second apart, so each refusal's line is logged whole.
    ManualClock& clock = useManualClock();
    const Bytes c = content(10);
    for (const std::string& name :
         {std::string("../../etc/passwd"), std::string("QDFR x.qdfile"), std::string("QDFR$(reboot)"),
          std::string("QDFR;rm -rf"), std::string("scan.qdfile"), std::string(""), std::string(".."),
          std::string("QDFR") + std::string(61, 'a'),
          // A NUL before another byte: what a C string keeps of the name is
          // not what was checked. Only NULs at the end are padding.
          std::string("QDFR\0/../../x", 13), std::string("QDFR1\0x", 7), std::string("../QDFR\0x/QDFR1", 15),
          std::string("QDFR1\0\0x\0\0", 9), std::string("\0QDFR1", 6), std::string("\0\0\0", 3),
          // Names of files a cut-off write leaves, which nothing may take,
          // padded or not.
          std::string("QDFR1.new12-3"), std::string("QDFR1.qdfile.new0-0"), std::string("QDFR1.new12-3\0\0", 15),
          std::string("QDFR\xC3\xA9"), std::string("QDFR\n1")}) {
        clock.advanceMs(LineLimiter::kPeriodMs);
        EXPECT_EQ(start({PcFile::ScanFile, name, c, {}}, 10), Bad) << name;
    }
    EXPECT_EQ(QDir(QString::fromStdString(hostPath(PcFile::ScanDir))).entryList(QDir::Files | QDir::Hidden),
              QStringList{});
    // Each name as the log writes any outside text: a NUL and a line break
    // escaped, an accent as it is.
    const std::string log = readHostFile(hostPath(kLogFile));
    for (const char* shown : {"name \"QDFR\\x00/../../x\"", "name \"QDFR\xC3\xA9\"", "name \"QDFR\\n1\""})
        EXPECT_NE(log.find(shown), std::string::npos) << shown;
    // Names near the temporary pattern that are none: the writer's names
    // end at the serial, and a name going on past it is the PC's own (the
    // start keeps such files in the scan folder).
    for (const char* near : {"QDFR1.new12", "QDFR1.new-3", "QDFR1.new12-3x", "QDFR_hall.new2024-10.qdfile",
                             "QDFR1.new7-1.lock", "QDFR1.new7-1.AbCdEf"}) {
        EXPECT_EQ(send({PcFile::ScanFile, near, c, {}}), Ok) << near;
        EXPECT_EQ(stored(std::string(PcFile::ScanDir) + "/" + near), c) << near;
    }
    // A name field padded with NULs stores the name before them.
    for (const std::string& padded : {std::string("QDFR2\0", 6), std::string("QDFR3\0\0\0", 8),
                                      std::string("QDFR4") + std::string(PcFile::MaxName - 5, '\0')}) {
        EXPECT_EQ(send({PcFile::ScanFile, padded, c, {}}), Ok) << padded.size() << " bytes";
        const std::string name = padded.substr(0, 5);
        EXPECT_EQ(stored(std::string(PcFile::ScanDir) + "/" + name), c) << name;
    }
    EXPECT_EQ(QDir(QString::fromStdString(hostPath(PcFile::ScanDir))).entryList(QDir::Files | QDir::Hidden).size(), 9);
    // A directory part is dropped; the base name alone decides.
    EXPECT_EQ(send({PcFile::ScanFile, "../../QDFR1.qdfile", c, {}}), Ok);
    EXPECT_TRUE(FileOps::exists("/data/smartmapping/QDFR1.qdfile"));
    EXPECT_FALSE(FileOps::exists("/QDFR1.qdfile"));

    // Empty, too long, an unknown type, a request cut short.
    EXPECT_EQ((Vals{start({PcFile::AliasFile, "a.json", c, {}}, 0),
                    start({PcFile::AliasFile, "a.json", c, {}}, PcFile::MaxLength + 1),
                    start({77, "a.json", c, {}}, 10),
                    replyStatus(call(PcCmd::FileStart, Bytes(20, 0)))}),
              (Vals{Bad, Bad, Bad, Bad}));
    EXPECT_EQ(message_deal::safeFileName("a/b\\QDFR-1_x.bin"), "QDFR-1_x.bin");
}

TEST_F(FileTransfer, AliasFileThatCannotBeParsedIsRefusedAndTheOldOneKept) {
    writeHostFile(hostPath(PcFile::AliasPath), "{}");
    auto bytes = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    const std::string deep = std::string(300000, '[') + std::string(300000, ']');
    const std::string nested = std::string(17, '[') + std::string(17, ']');
    const std::string hugeName = "{\"namelist\": {\"source\": [{\"id\": 0, \"name\": \"" + std::string(70000, 'x') + "\"}]}}";
    EXPECT_EQ((Vals{send({PcFile::AliasFile, "alias.json", bytes(nested), {}}),
                    send({PcFile::AliasFile, "alias.json", bytes("{\"namelist\": [1, 2"), {}}),
                    send({PcFile::AliasFile, "alias.json", content(500), {}}),
                    start({PcFile::AliasFile, "alias.json", bytes(deep), {}}, u32(deep.size())),
                    start({PcFile::AliasFile, "alias.json", bytes(hugeName), {}}, u32(hugeName.size()))}),
              (Vals{Bad, Bad, Bad, Bad, Bad}));
    EXPECT_EQ(readHostFile(hostPath(PcFile::AliasPath)), "{}");
    EXPECT_TRUE(m_codes.empty());
}

TEST_F(FileTransfer, AnAliasFileIsRefusedExactlyWhenItsReaderWouldRemoveItAndEveryRefusalLogsItsCheck) {
    writeHostFile(hostPath(kAliasFile), "old");
    auto bytes = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    const std::string shapes[] = {
        R"({"names":{"source":[]}})",
        R"({"namelist":{"source":{"id":0,"valid":"on","name":"a"}}})",  // members 0, "on", "a" hold no "id"
        R"({"namelist":{"source":[{"id":"zero","valid":"on","name":"a"}]}})",
        R"({"namelist":{"source":[{"id":0,"name":"a"}]}})",
        R"({"namelist":)",
    };
    for (const std::string& json : shapes)
        EXPECT_EQ(send({PcFile::AliasFile, "alias.json", bytes(json), {}}), Bad) << json;
    EXPECT_EQ(readHostFile(hostPath(kAliasFile)), "old");
    EXPECT_TRUE(m_codes.empty());
    // Taken as the reader takes them: a numeric string is a number, an empty
    // list, a text or an array where names are looked up hold no names, a
    // kind's object holds its members, and a name that is no text is empty.
    const std::string taken[] = {
        R"({"namelist":{"usermode":[{"id":"3","valid":"off","name":"x"}],"crop":[]}})",
        R"({"namelist":"source"})",
        R"({"namelist":[{"id":0,"valid":"on","name":"a"}]})",
        R"({"namelist":{"source":{"a":{"id":1,"valid":"on","name":"DVI desk"}}}})",
        R"({"namelist":{"source":[{"id":0,"valid":"on","name":{"en":"a"}}]}})",
    };
    for (const std::string& json : taken) {
        EXPECT_EQ(send({PcFile::AliasFile, "alias.json", bytes(json), {}}), Ok) << json;
        EXPECT_EQ(readHostFile(hostPath(kAliasFile)), json);
    }

    const Bytes c = content(10);
    start({77, "a.bin", c, {}}, 10);
    start({PcFile::ScanFile, "scan.qdfile", c, {}}, 10);
    start({PcFile::OsdMenu, "omenu.json", c, {}}, PcFile::MaxLength + 1);
    send({PcFile::OsdMenu, "omenu.json", c, Bytes(16, 0)});
    const std::string log = readHostFile(hostPath(kLogFile));
    for (const char* check : {"type 77, unknown type", "name \"scan.qdfile\"", "length 5242881",
                              "refused: digest", "refused: alias file shape, no \"namelist\""})
        EXPECT_NE(log.find(check), std::string::npos) << check << " not in the log:\n" << log;
}

TEST_F(FileTransfer, TenSecondsOfRefusedTransfersLogAFewDozenLinesAndEveryRefusalIsCounted) {
    ManualClock& clock = useManualClock();
    clock.setMs(0);
    // What earlier tests left held goes out before this test's lines.
    LineLimiter::writeHeldCounts();
    writeLogMsg(INFO, "the log's first line");
    const std::string before = readHostFile(hostPath(kLogFile));
    const Bytes c = content(10);
    // Each millisecond for 10 s: an unknown type, a scan file's bad name, a
    // length of 0, and a start whose end comes with no data.
    for (u64 t = 0; t < 10000; ++t) {
        clock.setMs(t);
        start({77, "a.bin", c, {}}, 10);
        start({PcFile::ScanFile, "scan.qdfile", c, {}}, 10);
        start({PcFile::ScanFile, "QDFR1", c, {}}, 0);
        start({PcFile::ScanFile, "QDFR2", c, {}}, 10);
        end();
    }
    clock.setMs(10000);
    LineLimiter::writeDueCounts();
    // A burst after a quiet second, held when the program stops.
    for (u64 t = 12000; t < 12003; ++t) {
        clock.setMs(t);
        start({77, "a.bin", c, {}}, 10);
    }
    LineLimiter::writeHeldCounts();

    const std::string after = readHostFile(hostPath(kLogFile));
    ASSERT_EQ(after.compare(0, before.size(), before), 0) << "the log lost lines";
    std::vector<std::string> lines;
    for (size_t at = before.size(); at < after.size();) {
        const size_t eol = after.find('\n', at);
        const std::string line = after.substr(at, eol - at);
        lines.push_back(line.substr(line.find("# PELKMSG # ") + 12));
        at = eol + 1;
    }
    // The first of each second whole, and at its end the count of the 999
    // after it (1 ms to 999 ms of the second); the tick writes the tenth.
    const std::string kinds[] = {"unknown type", "name", "length", "length arrived"};
    const std::string whole[] = {
        "file transfer refused: type 77, unknown type 77",
        "file transfer refused: type 13, name \"scan.qdfile\" (a scan file's name starts with QDFR and holds letters, "
        "digits, '.', '_', '-', no temporary name)",
        "file transfer refused: type 13, length 0 (1 to 5242880)",
        "file transfer refused: length, 0 of 10 bytes arrived for /data/smartmapping/QDFR2"};
    std::vector<std::string> want(std::begin(whole), std::end(whole));
    for (int second = 1; second <= 10; ++second)
        for (int k = 0; k < 4; ++k) {
            want.push_back("file transfer refused: 999 more for " + kinds[k] + " in the last second");
            if (second < 10) want.push_back(whole[k]);
        }
    want.push_back("file transfer refused: type 77, unknown type 77");
    want.push_back("file transfer refused: 2 more for unknown type in the last second");
    EXPECT_EQ(lines, want);
}

TEST_F(FileTransfer, AFileItsReaderWouldRemoveIsRefusedAndTheStoredOneKeptByteForByte) {
    auto bytes = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    const std::string menu = R"({"name":"m","osdcount":0,"oactcount":0})";
    const std::string alias = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"Desk"}]}})";
    writeHostFile(hostPath(PcFile::OsdMenuPath), menu);
    writeHostFile(hostPath(PcFile::AliasPath), alias);
    // Each with its right digest: text whose brackets pair but that is no
    // JSON, no "namelist", a kind's member without an id; a second apart,
    // so each refusal's line is logged whole.
    ManualClock& clock = useManualClock();
    auto later = [&](const Transfer& t) {
        clock.advanceMs(LineLimiter::kPeriodMs);
        return send(t);
    };
    EXPECT_EQ((Vals{later({PcFile::OsdMenu, "omenu.json", bytes("welcome {to the hall}"), {}}),
                    later({PcFile::OsdMenu, "omenu.json", bytes(R"({"name":"m" "osdcount":1})"), {}}),
                    later({PcFile::AliasFile, "alias.json", bytes(R"({"name list":{"crop":[]}})"), {}}),
                    later({PcFile::AliasFile, "alias.json",
                           bytes(R"({"namelist":{"crop":{"left":{"valid":"on","name":"Stage"}}}})"), {}})}),
              (Vals{Bad, Bad, Bad, Bad}));
    EXPECT_EQ(stored(PcFile::OsdMenuPath), bytes(menu));
    EXPECT_EQ(stored(PcFile::AliasPath), bytes(alias));
    EXPECT_EQ(QDir(QString::fromStdString(hostPath("/data/configs"))).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"alias.json", "omenu.json"}));
    EXPECT_TRUE(m_codes.empty());
    const std::string log = readHostFile(hostPath(kLogFile));
    for (const char* check : {"refused: OSD menu not JSON", "refused: alias file shape, no \"namelist\"",
                              "refused: alias file shape, element 0 of \"crop\" has no numeric \"id\""})
        EXPECT_NE(log.find(check), std::string::npos) << check << " not in the log:\n" << log;

    // What the readers keep is taken: a menu without its "menu" list shows
    // no item but stays, and a good alias file.
    const std::string noMenu = R"({"name":"m","osdcount":1,"oactcount":0})";
    const std::string good = R"({"namelist":{"crop":[{"id":3,"valid":"on","name":"Stage"}]}})";
    EXPECT_EQ((Vals{send({PcFile::OsdMenu, "omenu.json", bytes(noMenu), {}}),
                    send({PcFile::AliasFile, "alias.json", bytes(good), {}})}),
              (Vals{Ok, Ok}));
    EXPECT_EQ(stored(PcFile::OsdMenuPath), bytes(noMenu));
    EXPECT_EQ(stored(PcFile::AliasPath), bytes(good));
    EXPECT_EQ(m_codes, (std::vector<int>{PcFile::ChangeCode, PcFile::ChangeCode}));
}

TEST_F(FileTransfer, ScanAndRecoveryFilesStayWithinTheirCountSizeAndFreeSpace) {
    const Bytes c = content(100);
    // 63 files in the two folders: one more fits, a second does not.
    for (int i = 0; i < 62; ++i) writeHostFile(hostPath("/data/smartmapping/QDFR" + std::to_string(i)), "x");
    writeHostFile(hostPath(PcFile::RecoveryPath), "x");
    EXPECT_EQ((Vals{send({PcFile::ScanFile, "QDFRnew", c, {}}), send({PcFile::ScanFile, "QDFRmore", c, {}}),
                    send({PcFile::RecoveryFile, "QDFX", c, {}})}),
              (Vals{Ok, Busy, Ok}))
        << "replacing a file adds none";
    EXPECT_FALSE(FileOps::exists("/data/smartmapping/QDFRmore"));
    EXPECT_EQ(m_codes, (std::vector<int>{PcFile::ChangeCode, PcFile::ChangeCode}));

    // 64 MiB together, counted by size (a sparse file takes no disk here).
    FileOps::removePath(PcFile::ScanDir);
    FileOps::makeDirs(PcFile::ScanDir);
    QFile big(QString::fromStdString(hostPath("/data/smartmapping/QDFRbig")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(PcFile::MaxCardBytes) - 150));
    big.close();
    EXPECT_EQ((Vals{send({PcFile::ScanFile, "QDFRa", content(40), {}}), send({PcFile::ScanFile, "QDFRb", c, {}})}),
              (Vals{Ok, Busy}));

    // The free space the store would leave.
    const std::string scan = "/data/smartmapping/QDFRz";
    const u64 mib = 1024 * 1024;
    FileOps::removePath(PcFile::ScanDir);
    EXPECT_EQ((Vals{message_deal::cardFileRoomFault(scan, mib, 9 * mib).empty(),
                    message_deal::cardFileRoomFault(scan, mib, 9 * mib - 1).empty()}),
              (Vals{1, 0}));
}

TEST_F(FileTransfer, KernelImageReachesItsFlashOnlyAfterTheCheck) {
    const Bytes c = content(5000);
    EXPECT_EQ(send({PcFile::KernelImage, "uImage", c, Bytes(16, 0)}), Bad);
    EXPECT_FALSE(FileOps::exists("/dev/mtd10"));

    EXPECT_EQ(send({PcFile::KernelImage, "uImage", c, {}}), Ok);
    Bytes flash = stored("/dev/mtd10");
    ASSERT_GE(flash.size(), c.size());
    flash.resize(c.size());
    EXPECT_EQ(flash, c);
}

// Every store into a flash that takes the requests and keeps its bytes
// (sectors or blocks under its protection): the PC's erase and write of the
// c331's serial flash, a kernel image and a boot logo. Each is answered 2
// with its log line, and the flash holds what it held.
TEST_F(FileTransfer, EveryStoreIntoAFlashThatKeepsItsBytesIsAnsweredTwoAndTheFlashIsAsItWas) {
    ManualClock& clock = useManualClock();
    c331_manage* c331 = c331_manage::get();
    const u8 state = c331->thread_state.load();
    c331->c331_fd = c331->drv->initialize();
    c331->thread_state = 6;
    const auto chip = std::dynamic_pointer_cast<SimC331>(board().spiModel(c331reg::kSpiDevice));
    ASSERT_TRUE(chip);
    const Bytes image = content(3000);
    Bytes old = content(0x1000);
    for (u8& b : old) b = u8(~b);  // no bit of it left where the image has one
    // A kernel partition holding an older image; a blank logo partition.
    {
        auto kernel = board().openMtd("/dev/mtd10");
        ASSERT_EQ(Utils::non_region_erase(*kernel, 0, 0x1000, 1), 0u);
        ASSERT_EQ(Utils::non_region_write(*kernel, old.data(), int(old.size()), 0), 0u);
    }
    board().setMtdProtected("/dev/mtd10", 0, 0x800000);
    board().setMtdProtected("/dev/mtd8", 0, 0x100000);
    // An older record in the serial flash's free area, blank beside it.
    chip->setFlash(0x1800000, old);
    chip->setFlashProtected(0x1800000, 0x2000);
    auto mtd = [&](const char* device) {
        Bytes b(old.size());
        board().openMtd(device)->pread(b.data(), b.size(), 0);
        return b;
    };
    const struct {
        const char* what;
        std::function<u8()> store;
        std::function<Bytes()> flash;
        Bytes held;
        const char* line;
    } rows[] = {
        {"0x70 erase", [&] { return replyStatus(call(PcCmd::FlashErase, {0x00, 0x18, 0, 1, 0})); },
         [&] { return chip->flash(0x1800000, 0x1000); }, old,
         "c331: serial flash does not read back the block erased at 0x1800000 (4096 bytes)"},
        {"0x71 write",
         [&] {
             Bytes d = {0x00, 0x10, 0x80, 0x01, 0x08, 0, 0, 0};
             d.insert(d.end(), old.begin(), old.begin() + 8);
             return replyStatus(call(PcCmd::FlashWrite, d));
         },
         [&] { return chip->flash(0x1801000, 0x1000); }, Bytes(0x1000, 0xFF),
         "c331: serial flash does not read back the bytes written at 0x1801000 (8 bytes)"},
        {"kernel image", [&] { return send({PcFile::KernelImage, "uImage", image, {}}); },
         [&] { return mtd("/dev/mtd10"); }, old,
         "writing /dev/mtd10 failed: the flash does not read back what was stored"},
        {"boot logo", [&] { return send({PcFile::BootLogo, "logo", image, {}}); }, [&] { return mtd("/dev/mtd8"); },
         Bytes(0x1000, 0xFF), "writing /dev/mtd8 failed: the flash does not read back what was stored"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        clock.advanceMs(5000);  // each row's line is the first of its second
        const size_t lines = countIn(readHostFile(hostPath(kLogFile)), row.line);
        EXPECT_EQ(row.store(), Busy);
        EXPECT_TRUE(row.flash() == row.held);
        EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)), row.line), lines + 1);
    }
    EXPECT_TRUE(m_codes.empty());
    c331->thread_state = state;
}

TEST_F(FileTransfer, DeleteRemovesScanAndRecoveryFiles) {
    writeHostFile(hostPath("/data/smartmapping/QDFR1.qdfile"), "x");
    writeHostFile(hostPath("/data/smartmapping/QDFR2.qdfile"), "x");
    writeHostFile(hostPath("/data/rcvrecovery/QDFX"), "x");
    writeHostFile(hostPath("/data/configs/alias.json"), "keep");
    EXPECT_EQ(replyStatus(call(PcCmd::DeleteCardFiles, {})), Ok);
    EXPECT_EQ((Vals{FileOps::exists("/data/smartmapping/QDFR1.qdfile"),
                    FileOps::exists("/data/smartmapping/QDFR2.qdfile"), FileOps::exists("/data/rcvrecovery/QDFX"),
                    FileOps::exists("/data/configs/alias.json")}),
              (Vals{0, 0, 0, 1}));
    EXPECT_FALSE(message_deal::delete_file_name());  // nothing left to delete
}

// ---------------------------------------------------------------- device

TEST_F(CommandDispatch, DeviceInformation) {
    std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    {
        QMutexLocker lock(&settingsLock());
        g_str_ip = "192.168.1.199";
        g_srt_mask = "255.255.255.0";
        g_str_gateway = "not an address";
    }
    const Bytes r = call(PcCmd::DeviceInfo, {});
    ASSERT_EQ(replyStatus(r), Ok);
    const Bytes d = replyData(r);
    ASSERT_EQ(d.size(), 48u);
    EXPECT_EQ(std::string(d.begin(), d.begin() + 32), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(Bytes(d.begin() + 32, d.begin() + 36), (Bytes{1, 17, 0, 0}));  // as the FPGA block reports it
    EXPECT_EQ(Bytes(d.begin() + 36, d.end()), (Bytes{192, 168, 1, 199, 255, 255, 255, 0, 0, 0, 0, 0}));
}

TEST_F(CommandDispatch, ClockIsSetOnlyFromValidBcd) {
    board().simShell().clear();
    EXPECT_EQ(replyStatus(call(PcCmd::SetClock, {0x45, 0x30, 0x12, 0x01, 0x05, 0x24, 0x20})), Ok);
    EXPECT_EQ(board().simShell().commands(),
              (std::vector<std::string>{"date -s \"2024-05-01 12:30:45\"", "hwclock -w"}));
    board().simShell().clear();
    for (const Bytes& bad : {Bytes{0x4A, 0x30, 0x12, 0x01, 0x05, 0x24, 0x20},   // not BCD
                             Bytes{0x00, 0x00, 0x24, 0x01, 0x05, 0x24, 0x20},   // hour 24
                             Bytes{0x00, 0x00, 0x12, 0x30, 0x02, 0x24, 0x20},   // 30 February
                             Bytes{0x00, 0x00, 0x12, 0x01, 0x05, 0x24}}) {      // short
        EXPECT_EQ(replyStatus(call(PcCmd::SetClock, bad)), Bad);
    }
    EXPECT_TRUE(board().simShell().commands().empty());
    EXPECT_EQ(replyStatus(call(PcCmd::TimeReport, {})), Busy);
}

TEST_F(CommandDispatch, NetworkSetupStoresAndAppliesOnlySaneAddresses) {
    ConfigEngine::pInstance();
    board().simShell().clear();
    EXPECT_EQ(replyStatus(call(PcCmd::NetworkSetup, {10, 0, 0, 7, 255, 255, 0, 0, 10, 0, 0, 1})), Ok);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), "10.0.0.7");
    const auto cmds = board().simShell().commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "ifconfig eth0 10.0.0.7 netmask 255.255.0.0"), cmds.end());
    EXPECT_EQ(m_codes, std::vector<int>{1});

    board().simShell().clear();
    for (const Bytes& bad : {Bytes{10, 0, 0, 7, 255, 0, 255, 0, 10, 0, 0, 1},    // holes in the mask
                             Bytes{0, 0, 0, 0, 255, 255, 0, 0, 10, 0, 0, 1},     // no address
                             Bytes{224, 0, 0, 1, 255, 255, 0, 0, 10, 0, 0, 1},   // multicast
                             Bytes{10, 0, 0, 7, 255, 255, 0, 0, 255, 255, 255, 255},
                             Bytes{10, 0, 0, 7, 255, 255, 0, 0}}) {
        EXPECT_EQ(replyStatus(call(PcCmd::NetworkSetup, bad)), Bad);
    }
    EXPECT_TRUE(board().simShell().commands().empty());
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), "10.0.0.7");
}

// A settings file that is there but cannot be read (an I/O error of the
// flash) would be rewritten holding only the request's three keys: the
// request fails with status 1 and the file is left. A missing one starts
// empty. One the start would refuse is refused as the start does: kept
// aside, and the new file holds all seventeen settings.
TEST_F(CommandDispatch, NetworkSetupOverASettingsFileThatCannotBeReadFailsAndLeavesIt) {
    const QString host = QString::fromStdString(hostPath(ConfigEngine::kIniFile));
    const struct {
        const char* what;
        std::function<void()> make;
        std::function<bool()> left;  // the file is as it was made, or kept aside so
        u8 status;
        int keys;  // in the file written
    } rows[] = {
        {"a folder in its place", [&] { QDir().mkpath(host); }, [&] { return QFileInfo(host + ".refused").isDir(); },
         Ok, 17},
        {"a file whose reads fail", [&] { QFile::link("/proc/self/mem", host); },
         [&] { return QFileInfo(host).symLinkTarget() == "/proc/self/mem"; }, Bad, 0},
        {"missing", [] {}, [] { return true; }, Ok, 3},
    };
    // A second apart, so each refusal's line is logged whole.
    ManualClock& clock = useManualClock();
    for (const auto& row : rows) {
        clock.advanceMs(LineLimiter::kPeriodMs);
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine* c = ConfigEngine::pInstance();
        FileOps::removePath(ConfigEngine::kIniFile);
        row.make();
        board().simShell().clear();
        m_codes.clear();
        const size_t logged = readHostFile(hostPath(kLogFile)).size();
        EXPECT_EQ(replyStatus(call(PcCmd::NetworkSetup, {10, 0, 0, 7, 255, 255, 0, 0, 10, 0, 0, 1})), row.status)
            << row.what;
        const bool told = readHostFile(hostPath(kLogFile))
                              .find("settings: /data/configs/tcpip.ini cannot be read; not rewritten", logged) !=
                          std::string::npos;
        EXPECT_EQ(told, row.status != Ok) << row.what;
        EXPECT_TRUE(row.left()) << row.what;
        if (row.status == Ok) {
            QSettings ini(host, QSettings::IniFormat);
            EXPECT_EQ(ini.allKeys().size(), row.keys) << row.what;
            EXPECT_EQ(ini.value("config/SubNetMask").toString(), "255.255.0.0") << row.what;
            FileOps::removePath(ConfigEngine::kIniFile);
            continue;
        }
        EXPECT_EQ(c->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.199") << row.what;
        EXPECT_TRUE(board().simShell().commands().empty()) << row.what;
        EXPECT_TRUE(m_codes.empty()) << row.what;
        FileOps::removePath(ConfigEngine::kIniFile);
    }
}

// A power cut at any write of a network request leaves, at the next start,
// the address, mask and gateway of one request: the old three or the new.
TEST_F(CommandDispatch, NetworkSetupCutAtAnyWriteLeavesOneRequestsThreeValuesAtTheNextStart) {
    const std::string ini = "/data/configs/tcpip.ini";
    const QStringList before = {"10.0.0.7", "255.255.0.0", "10.0.0.1"};
    const QStringList after = {"192.168.5.20", "255.255.255.0", "192.168.5.1"};
    // The write cut: the first of the request (its only one), then any later.
    const struct {
        int cutAt;
        u8 status;
        QStringList found;
    } rows[] = {{1, Busy, before}, {2, Ok, after}, {3, Ok, after}};
    for (const auto& row : rows) {
        std::remove(hostPath(ini).c_str());
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
        ASSERT_EQ(replyStatus(call(PcCmd::NetworkSetup, {10, 0, 0, 7, 255, 255, 0, 0, 10, 0, 0, 1})), Ok);
        std::atomic<int> writes{0};
        FileOps::setCutBeforeRename([&](const std::string& path) { return path == ini && ++writes == row.cutAt; });
        EXPECT_EQ(replyStatus(call(PcCmd::NetworkSetup, {192, 168, 5, 20, 255, 255, 255, 0, 192, 168, 5, 1})),
                  row.status)
            << "cut at write " << row.cutAt;
        FileOps::setCutBeforeRename(nullptr);
        EXPECT_EQ(writes.load(), 1) << "one rewrite of the settings file per request";
        // The next start: what a cut left beside the file goes, then the
        // store reads the file.
        EXPECT_EQ(FileCheck::removeLeftTemporaries(), row.cutAt == 1 ? 1 : 0);
        EXPECT_EQ(QDir(QString::fromStdString(hostPath("/data/configs"))).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"tcpip.ini"});
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine* c = ConfigEngine::pInstance();
        EXPECT_EQ((QStringList{c->read_config_variant(ConfigItem::IPAddress).toString(),
                               c->read_config_variant(ConfigItem::SubNetMask).toString(),
                               c->read_config_variant(ConfigItem::GateWay).toString()}),
                  row.found)
            << "cut at write " << row.cutAt;
    }
}

#include "core/image_view.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/line_limiter.h"
#include "core/zrvrampara.h"
#include "platform/fileops.h"
#include "read_faults.h"
#include "support/quiet_c331_ops.h"
#include "support/test_env.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <thread>

namespace {

namespace O = RamOffset;
constexpr const char* kRam = "/data/ram_device_info";

u16 fileWord(const std::string& f, u32 imageOff) {
    const u32 p = imageOff - 766;
    return u16(u8(f[p]) | (u8(f[p + 1]) << 8));
}

class ZrvRamParaTest : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        useManualClock();
        c331_manage::get()->apply_flag = 0;
    }

    std::unique_ptr<ZrvRamPara> loadModel() {
        auto m = std::make_unique<ZrvRamPara>();
        m->load();
        return m;
    }

    // A writer's edit by the change protocol.
    void edit(ZrvRamPara& m, u32 off, u16 value) {
        c331_manage* mgr = c331_manage::get();
        QMutexLocker lock(&mgr->mutex);
        m.live_image.setWord(off, value);
        mgr->apply_flag = 1;
    }

    std::string ramFile() { return readHostFile(hostPath(kRam)); }
};

// ---------------------------------------------------------------------------
// Start-up load and the stored file

TEST_F(ZrvRamParaTest, FirstStartCreatesTheDefaultFile) {
    auto m = loadModel();
    const std::string f = ramFile();
    ASSERT_EQ(f.size(), 4096u);
    EXPECT_EQ(f.substr(0, 2), "\xAA\xAA");

    EXPECT_EQ(std::memcmp(f.data(), default_para_ramlist.data(), 4096), 0);
    EXPECT_EQ(std::memcmp(&m->live_image, &m->shadow_image, 4096), 0);
    for (int s = 0; s < 16; ++s) EXPECT_EQ(m->ZrvUserModeSaved(s), 0) << s;
    const u8* reg = m->reg_block.REG;
    EXPECT_EQ((Vals{m->live_image.word(O::BRIGHTNESS), g_language.load(), m->user_mode[15].marker[0], reg[37], reg[38],
                    reg[39], reg[1060]}),
              (Vals{100, 0, 0xFF, 0x80, 0x1F, 0x06, 0}));
}

TEST_F(ZrvRamParaTest, FirstStartFileHoldsTheDefaultsFieldByField) {
    // The default file written out by hand: markers, then image bytes 768 to
    // 4095 at file offset image offset - 766, every byte not listed 0.
    std::string want(4096, '\0');
    want[0] = want[1] = char(0xAA);
    auto put = [&](u32 imageOff, u16 v) {
        want[imageOff - 766] = char(v & 0xFF);
        want[imageOff - 765] = char(v >> 8);
    };
    put(770, 100);
    for (u32 i = 0; i < 6; ++i) {  // custom EDID timings
        put(896 + 6 * i, i < 4 ? 1920 : 3840);
        put(898 + 6 * i, i < 4 ? 1080 : 2160);
        put(900 + 6 * i, 60);
    }
    put(1376, 4), put(1378, 1920), put(1380, 1080);
    put(1386, 1), put(1388, 1), put(1390, 1920), put(1392, 1080);
    put(1412, 1920), put(1414, 1080), put(1420, 1920), put(1422, 1080);
    // Forty crop records and the 24 groups after them: {2, 0, 0, 1920, 1080},
    // the group at 2092 0 wide.
    for (u32 g = 1472; g < 2112; g += 10) {
        put(g, 2);
        put(g + 6, g == 2092 ? 0 : 1920);
        put(g + 8, 1080);
    }
    put(2176, 100), put(2178, 50), put(2180, 10), put(2182, 50), put(2184, 2);
    put(2186, 64), put(2188, 64), put(2190, 64);
    for (u32 k = 0; k < 16; ++k) put(2208 + 2 * k, u16(k));
    put(2270, 1);
    const u16 source[6] = {2, 5, 3, 4, 1, 0};
    for (u32 w = 0; w < 6; ++w) {
        const u32 r = 2272 + 26 * w;
        put(r, w == 0 ? 1 : 0);
        put(r + 8, source[w]);
        put(r + 14, 1920);
        put(r + 16, 1080);
    }

    auto m = loadModel();
    const std::string f = ramFile();
    ASSERT_EQ(f.size(), 4096u);
    for (u32 at = 0; at < 4096; ++at)
        EXPECT_EQ(u8(f[at]), u8(want[at])) << "file byte " << at << " (image byte " << at + 766 << ")";

    // The image after the start-up load: the same, and the fade words get
    // their low byte 60.
    for (u32 off = 768; off < 4096; ++off) {
        const bool fade = off >= 2816 && off < 2880 && off % 2 == 0;
        EXPECT_EQ(m->live_image.byte(off), fade ? 60 : u8(want[off - 766])) << "image byte " << off;
    }
}

TEST_F(ZrvRamParaTest, UnmarkedOrShortFileIsKeptAsideAndTheDefaultsServe) {
    // Unmarked, cut off, and a marked file far larger than any image file.
    for (const std::string& bad : {std::string(4096, '\x55'), std::string("\xAA\xAA") + std::string(100, '\x07'),
                                   std::string(1 << 20, '\xAA')}) {
        writeHostFile(hostPath(kRam), bad);
        auto m = loadModel();
        const std::string f = ramFile();
        ASSERT_EQ(f.size(), 4096u);
        EXPECT_EQ(std::memcmp(f.data(), default_para_ramlist.data(), 4096), 0);
        EXPECT_EQ(m->live_image.word(O::CONTRAST), 50);
        EXPECT_TRUE(readHostFile(hostPath(kRam) + ".refused") == bad) << "kept aside whole";
    }
}

// An image file that is there but cannot be read may hold the stored
// parameters: the defaults serve this run and nothing is written over it,
// until a reset asks for the defaults on purpose.
TEST_F(ZrvRamParaTest, AnImageFileThatCannotBeReadIsNotWrittenOverThisRun) {
    std::string stored(reinterpret_cast<const char*>(default_para_ramlist.data()), 4096);
    stored[O::CONTRAST - 766] = 77;
    writeHostFile(hostPath(kRam), stored);
    ReadFaults::arm(hostPath(kRam), {1});
    auto m = loadModel();
    ReadFaults::disarm();
    EXPECT_EQ(m->live_image.word(O::CONTRAST), 50);
    edit(*m, O::SHARPNESS, 3);
    EXPECT_EQ((Vals{m->ram_para_persist(1), m->shadow_image.word(O::SHARPNESS)}), (Vals{1, 3}));
    EXPECT_TRUE(ramFile() == stored) << "written over";
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find("parameter image file /data/ram_device_info cannot be read"),
              std::string::npos);
    EXPECT_EQ(m->ram_para_reset(), 0);
    // The markers and the 3328 image bytes (the brightness counts follow).
    EXPECT_EQ(std::memcmp(ramFile().data(), default_para_ramlist.data(), 2 + 3328), 0);
    // The next start reads what this one stored.
    edit(*m, O::SHARPNESS, 4);
    m->ram_para_persist(1);
    EXPECT_EQ(loadModel()->live_image.word(O::SHARPNESS), 4);
}

TEST_F(ZrvRamParaTest, LoadClearsRunTimeFieldsAndKeepsTheRest) {
    std::string f(reinterpret_cast<const char*>(default_para_ramlist.data()), 4096);
    auto put = [&](u32 off, u16 v) {
        f[off - 766] = char(v);
        f[off - 765] = char(v >> 8);
    };
    put(O::LANGUAGE, 2);
    put(O::BLACKOUT, 1);
    put(O::TEST_PATTERN, 0x0503);
    put(O::LOADED_MODE, 7);
    put(O::SAVE_REQUEST, 0x0905);
    put(O::FADE_BASE, 0x1234);
    put(O::FADE_BASE + 62, 0x0001);
    put(O::CONTRAST, 33);
    writeHostFile(hostPath(kRam), f);

    auto m = loadModel();
    const PARA_RAM_IMAGE& img = m->live_image;
    // Fade words: low byte 60, high byte kept.
    EXPECT_EQ((Vals{img.word(O::BLACKOUT), img.word(O::TEST_PATTERN), img.word(O::LOADED_MODE),
                    img.word(O::SAVE_REQUEST), img.word(O::FADE_BASE), img.word(O::FADE_BASE + 62),
                    img.word(O::CONTRAST), g_language.load()}),
              (Vals{0, 0, 0, 0, 0x123C, 60, 33, 2}));
    for (u32 k = 0; k < 32; ++k) EXPECT_EQ(img.byte(O::FADE_BASE + 2 * k), 60) << k;
    EXPECT_EQ(std::memcmp(&m->live_image, &m->shadow_image, 4096), 0);
    // The request word the file held does not block a save of that mode.
    m->ZrvRequestUserModeSave(5);
    m->ram_para_persist(1);
    EXPECT_EQ(m->ZrvUserModeSaved(4), 1);
    g_language = 0;
}

// ---------------------------------------------------------------------------
// Persisting

TEST_F(ZrvRamParaTest, ChangedParameterSurvivesRestartAndUnchangedImageWritesNothing) {
    {
        auto m = loadModel();
        // Nothing changed: no file is written (the removed file stays away).
        ASSERT_TRUE(FileOps::removePath(kRam));
        EXPECT_EQ(m->ram_para_persist(1), 0);
        EXPECT_FALSE(FileOps::exists(kRam));

        edit(*m, O::CONTRAST, 77);
        m->live_image.setWord(300, 0x4242);  // run-time bytes are not stored
        EXPECT_EQ((Vals{m->ram_para_persist(1), m->shadow_image.word(O::CONTRAST), ramFile().size()}),
                  (Vals{1, 77, 4096}));
    }
    auto again = loadModel();
    EXPECT_EQ((Vals{again->live_image.word(O::CONTRAST), again->live_image.word(300)}), (Vals{77, 0}));
}

TEST_F(ZrvRamParaTest, ChangeWaitingForTheChipSurvivesAPersistingStep) {
    auto m = loadModel();
    edit(*m, O::BRIGHTNESS, 40);  // apply flag still raised: the c331 thread has not run
    // The pending change is neither undone nor taken away from the chip.
    EXPECT_EQ((Vals{m->ram_para_persist(1), c331_manage::get()->apply_flag.load(), m->live_image.word(O::BRIGHTNESS),
                    fileWord(ramFile(), O::BRIGHTNESS)}),
              (Vals{1, 1, 40, 40}));

    // Writers racing with persisting steps: after a last step, the file
    // holds exactly the live image.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (u16 v = 0; v < 2000; ++v) edit(*m, O::SATURATION, v);
        done = true;
    });
    while (!done) m->ram_para_persist(1);
    writer.join();
    m->ram_para_persist(1);
    EXPECT_EQ((Vals{fileWord(ramFile(), O::SATURATION), m->shadow_image.word(O::SATURATION)}), (Vals{1999, 1999}));
}

TEST_F(ZrvRamParaTest, FailedImageWriteKeepsTheShadowForTheNextTry) {
    auto m = loadModel();
    edit(*m, O::SHARPNESS, 3);
    // A folder in place of the file: the write cannot succeed.
    ASSERT_TRUE(FileOps::removePath(kRam));
    ASSERT_TRUE(FileOps::makeDirs(std::string(kRam) + "/x"));
    EXPECT_EQ((Vals{m->ram_para_persist(1), m->shadow_image.word(O::SHARPNESS)}), (Vals{255, 10}));
    ASSERT_TRUE(FileOps::removePath(kRam));
    EXPECT_EQ((Vals{m->ram_para_persist(1), fileWord(ramFile(), O::SHARPNESS)}), (Vals{1, 3}));
}

TEST_F(ZrvRamParaTest, ResetBringsTheDefaultsToFileAndChip) {
    auto m = loadModel();
    edit(*m, O::CONTRAST, 11);
    CROP_PARA crop{0, 0, 0, 100, 100};
    m->ZrvAddNewCrop(1, &crop);
    ASSERT_EQ(m->ZrvGetCropID(1, 1), 1);
    m->ram_para_persist(1);
    c331_manage::get()->apply_flag = 0;

    EXPECT_EQ(m->ram_para_reset(), 0);
    EXPECT_EQ(m->ZrvGetCropID(1, 1), 0) << "the crop map still offers a crop the defaults do not have";
    // The defaults, and after them the brightness counts: the reset is the
    // first change counted ('B' 'C' 1), and the word holds it ('B' 'G' 1).
    const std::string file = ramFile();
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(std::memcmp(file.data(), default_para_ramlist.data(), 4084), 0);
    EXPECT_EQ(file.substr(4084), std::string("BC\1\0\0\0BG\1\0\0\0", 12));
    // Defaults to the chip; the shadow still shows what changed, so the
    // pages redraw it.
    EXPECT_EQ((Vals{m->live_image.word(O::CONTRAST), c331_manage::get()->apply_flag.load(),
                    m->shadow_image.word(O::CONTRAST), m->ram_para_persist(1), m->shadow_image.word(O::CONTRAST)}),
              (Vals{50, 1, 11, 1, 50}));
}

// ---------------------------------------------------------------------------
// User modes

TEST_F(ZrvRamParaTest, PanelSaveWritesTheModeFileAndTheOsdCopyAndDeletingRemovesBoth) {
    auto m = loadModel();
    writeHostFile(hostPath("/data/configs/omenu.json"), "{\"osd\":1}");
    edit(*m, O::OSD_ON, 1);
    edit(*m, O::CONTRAST, 21);

    for (int mode : {3, 10}) {
        ASSERT_EQ(m->ZrvRequestUserModeSave(mode), 1);
        EXPECT_EQ(m->live_image.word(O::SAVE_REQUEST), mode);
        m->ram_para_persist(1);

        const std::string f = readHostFile(hostPath("/data/modes/custom_mode" + std::to_string(mode)));
        ASSERT_EQ(f.size(), 4096u) << mode;
        // Markers, then snapshot byte k is image byte 896 + k.
        EXPECT_EQ((Vals{u8(f[0]), u8(f[1]), u8(f[2 + (O::CONTRAST - 896)]), u8(f[2 + (O::OSD_ON - 896)]),
                        m->ZrvUserModeSaved(mode - 1), m->live_image.word(O::LOADED_MODE), m->ZrvGetCurrentModeIndex(),
                        m->live_image.word(O::SAVE_REQUEST)}),
                  (Vals{0xAA, 0xAA, 21, 1, 1, mode, mode, 0}));
    }
    EXPECT_EQ(readHostFile(hostPath("/data/modes/MO03.json")), "{\"osd\":1}");
    EXPECT_EQ(readHostFile(hostPath("/data/modes/MO0a.json")), "{\"osd\":1}");

    // Restart: the saved modes come back, the others stay empty.
    auto again = loadModel();
    EXPECT_EQ((Vals{again->ZrvUserModeSaved(2), again->ZrvUserModeSaved(9), again->ZrvUserModeSaved(0),
                    again->user_mode[2].snapshot[O::CONTRAST - 896]}),
              (Vals{1, 1, 0, 21}));

    // Deleting slot 3 removes its mode file and its OSD copy.
    EXPECT_EQ((Vals{m->mode_file_deal(2, 1), FileOps::exists("/data/modes/MO03.json"),
                    FileOps::exists("/data/modes/custom_mode3"), m->ZrvUserModeSaved(2)}),
              (Vals{0, 0, 0, 0}));
}

TEST_F(ZrvRamParaTest, FailedModeSaveLeavesTheSlotUnsaved) {
    auto m = loadModel();
    // A file where the modes folder should be: no mode file can be created.
    writeHostFile(hostPath("/data/modes"), "not a folder");
    m->ZrvRequestUserModeSave(4);
    m->ram_para_persist(1);
    EXPECT_EQ((Vals{m->ZrvUserModeSaved(3), m->user_mode[3].marker[0], m->live_image.word(O::LOADED_MODE),
                    m->live_image.word(O::SAVE_REQUEST), m->mode_file_write(3, 1), m->ZrvUserModeSaved(3)}),
              (Vals{0, 0xFF, 0, 0, 0, 0}));
}

TEST_F(ZrvRamParaTest, ProtocolSlotWritesSaveOrDeleteModeFiles) {
    auto m = loadModel();
    ASSERT_EQ(m->mode_file_write(5, 1), 1);
    ASSERT_TRUE(FileOps::exists("/data/modes/custom_mode6"));

    // Slot 5 marked for deletion, slot 7 written as a saved mode.
    const u8 ff[2] = {0xFF, 0xFF};
    u8 mode8[4098];
    std::memset(mode8, 0x11, sizeof mode8);
    mode8[0] = mode8[1] = 0xAA;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        EXPECT_EQ(m->ZrvModeUserRamParaDeal(ff, 2, 0x6000), 0);
        EXPECT_EQ(m->ZrvModeUserRamParaDeal(mode8, 4098, 0x8000), 0);
    }
    m->ram_para_persist(2);
    const std::string f = readHostFile(hostPath("/data/modes/custom_mode8"));
    ASSERT_EQ(f.size(), 4096u);
    // Protocol writes copy no OSD menu.
    EXPECT_EQ((Vals{FileOps::exists("/data/modes/custom_mode6"), m->ZrvUserModeSaved(5), u8(f[0]), u8(f[4095]),
                    m->ZrvUserModeSaved(7), FileOps::exists("/data/modes/MO08.json")}),
              (Vals{0, 0, 0xAA, 0x11, 1, 0}));
}

// A PC that writes a slot and applies it again and again while the modes
// folder cannot take a file: each time the slot reads back empty (what is
// stored), and the log gets one line a second, the rest counted; the count
// is written when it falls due, with no further failure to bring it.
TEST_F(ZrvRamParaTest, SlotFilesThePcCannotHaveWrittenReadBackEmptyAndLogALineASecond) {
    auto m = loadModel();
    writeHostFile(hostPath("/data/modes"), "not a folder");
    ManualClock& clock = useManualClock();
    clock.setMs(5000000);
    const u8 saved[2] = {0xAA, 0xAA};
    const size_t logged = readHostFile(hostPath(kLogFile)).size();
    int readBackSaved = 0;
    for (int i = 0; i < 50; ++i) {
        {
            QMutexLocker lock(&c331_manage::get()->mutex);
            ASSERT_EQ(m->ZrvModeUserRamParaDeal(saved, 2, 0x3000), 0);
        }
        m->ram_para_persist(2);
        readBackSaved += m->ZrvUserModeSaved(2);
        clock.advanceMs(10);
    }
    EXPECT_EQ(readBackSaved, 0);
    auto logSince = [&] { return readHostFile(hostPath(kLogFile)).substr(logged); };
    EXPECT_EQ(countIn(logSince(), "user mode 3 file cannot be written"), 1u);
    // The count falls due with no further failure: the panel's tick writes it.
    clock.advanceMs(1000);
    LineLimiter::writeDueCounts();
    EXPECT_NE(logSince().find("user mode files: 49 more failures in the last second"), std::string::npos);
    EXPECT_EQ(countIn(logSince(), "user mode"), 2u);
}

TEST_F(ZrvRamParaTest, TornOrForeignModeFileIsKeptAsideAndLoadsAsEmptySlot) {
    const std::string torn = std::string("\xAA\xAA") + std::string(500, 'x');
    const std::string foreign(1 << 20, '\xAA');
    writeHostFile(hostPath("/data/modes/custom_mode2"), torn);
    writeHostFile(hostPath("/data/modes/custom_mode3"), std::string("\xAA\xAA") + std::string(4094, 'y'));
    writeHostFile(hostPath("/data/modes/custom_mode4"), foreign);
    auto m = loadModel();
    // Slots outside the sixteen are refused.
    EXPECT_EQ((Vals{m->ZrvUserModeSaved(1), m->ZrvUserModeSaved(2), m->ZrvUserModeSaved(3), m->mode_file_deal(16, 0),
                    m->mode_file_deal(-1, 1), m->mode_file_write(16, 0)}),
              (Vals{0, 1, 0, 0, 0, 0}));
    EXPECT_EQ((Vals{FileOps::exists("/data/modes/custom_mode2"), FileOps::exists("/data/modes/custom_mode3"),
                    FileOps::exists("/data/modes/custom_mode4")}),
              (Vals{0, 1, 0}));
    EXPECT_TRUE(readHostFile(hostPath("/data/modes/custom_mode2.refused")) == torn);
    EXPECT_TRUE(readHostFile(hostPath("/data/modes/custom_mode4.refused")) == foreign);
}

// A mode file that cannot be read reads neither saved nor empty: the
// protocol's next slot pass, which removes the files of empty slots, leaves
// it, and no recall takes the slot.
TEST_F(ZrvRamParaTest, AModeFileThatCannotBeReadIsNeitherRecalledNorRemoved) {
    std::string saved(4096, '\x22');
    saved[0] = saved[1] = char(0xAA);
    writeHostFile(hostPath("/data/modes/custom_mode5"), saved);
    ReadFaults::arm(hostPath("/data/modes/custom_mode5"), {1});
    auto m = loadModel();
    ReadFaults::disarm();
    EXPECT_EQ((Vals{m->ZrvUserModeSaved(4), m->user_mode[4].marker[0], m->ZrvRecallUserMode(5)}), (Vals{0, 0x00, 0}));
    // The PC writes slot 1 (markers and all): a code-2 pass over every slot.
    u8 mode1[4098];
    std::memset(mode1, 0x33, sizeof mode1);
    mode1[0] = mode1[1] = 0xAA;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        ASSERT_EQ(m->ZrvModeUserRamParaDeal(mode1, sizeof mode1, 0x1000), 0);
    }
    m->ram_para_persist(2);
    EXPECT_TRUE(readHostFile(hostPath("/data/modes/custom_mode5")) == saved) << "removed or written over";
    EXPECT_EQ(loadModel()->ZrvUserModeSaved(4), 1);
}

// The PC writes slot 5 whole while a step works on it: its write stays,
// and the PC's own flag-2 pass stores it, whatever the step was doing.
TEST_F(ZrvRamParaTest, PcWriteIntoASlotWhileAStepWorksOnItIsKept) {
    using Step = ZrvRamPara::SlotStep;
    enum Start { Written, Stored, MarkedEmpty };
    struct Case {
        const char* name;
        Start start;
        Step at;
        bool panelDelete;  // the panel deletes the mode, else a flag-2 pass
        bool unwritable;   // the slot's file cannot be written meanwhile
    };
    const Case cases[] = {
        {"pass saving the slot", Written, Step::Written, false, false},
        {"pass saving the slot, its file unwritable", Written, Step::Written, false, true},
        {"pass deleting the slot", MarkedEmpty, Step::Removed, false, false},
        {"panel deleting the mode", Stored, Step::Removed, true, false},
    };
    c331_manage* mgr = c331_manage::get();
    auto pcWrite = [&](ZrvRamPara& m, const u8* bytes, u16 len) {
        QMutexLocker lock(&mgr->mutex);
        ASSERT_EQ(m.ZrvModeUserRamParaDeal(bytes, len, 0x5000), 0);
    };
    u8 pc[4098];
    std::memset(pc, 0x5C, sizeof pc);
    pc[0] = pc[1] = 0xAA;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileOps::removePath("/data/modes/custom_mode5");
        auto m = loadModel();
        {
            // Only slot 4 takes part: the others are neither saved nor empty.
            QMutexLocker lock(&mgr->mutex);
            for (auto& slot : m->user_mode) slot.marker[0] = slot.marker[1] = 0;
        }
        const u8 older[3] = {0xAA, 0xAA, 1}, empty[2] = {0xFF, 0xFF};
        pcWrite(*m, older, 3);
        if (c.start != Written) {
            ASSERT_EQ(m->mode_file_write(4, 2), 1);
        }
        if (c.start == MarkedEmpty) pcWrite(*m, empty, 2);
        if (c.unwritable) FileOps::setReadOnly([](const std::string& p) { return p.find("custom_mode5") != p.npos; });
        int met = 0;
        m->on_slot_step = [&](Step at, int n) {
            if (at == c.at && n == 4 && met++ == 0) pcWrite(*m, pc, sizeof pc);
        };
        if (c.panelDelete)
            m->mode_file_deal(4, 1);
        else
            m->ram_para_persist(2);
        FileOps::setReadOnly(nullptr);
        m->on_slot_step = nullptr;
        EXPECT_EQ(met, 1);
        EXPECT_EQ(std::memcmp(&m->user_mode[4], pc, sizeof pc), 0) << "an older state was put over the PC's write";
        m->ram_para_persist(2);
        EXPECT_TRUE(readHostFile(hostPath("/data/modes/custom_mode5")) == std::string(pc, pc + 4096));
        EXPECT_EQ(loadModel()->ZrvUserModeSaved(4), 1);
    }
}

// The PC marks slot 7 empty and right after writes it whole, each answered
// and applied at once, at varied distances from the delete pass: the mode
// it wrote last is in memory and on disk every time.
TEST_F(ZrvRamParaTest, ASaveRightAfterADeleteOfTheSlotIsNeverLost) {
    auto m = loadModel();
    std::atomic<int> applied{0};  // the PC's writes, each applied with bit 2
    auto pcApplies = [&](const u8* bytes, u16 len) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        m->ZrvModeUserRamParaDeal(bytes, len, 0x7000);
        ++applied;
    };
    std::mt19937 random(59);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int runs = 0, lost = 0;
    for (; runs < 300 && std::chrono::steady_clock::now() < until; ++runs) {
        u8 mode[4098];
        std::memset(mode, u8(runs), sizeof mode);
        mode[0] = mode[1] = 0xAA;
        const auto delay = std::chrono::microseconds(random() % 4000);
        std::atomic<bool> pcDone{false};
        std::thread pc([&] {
            const u8 empty[2] = {0xFF, 0xFF};
            pcApplies(empty, 2);
            std::this_thread::sleep_for(delay);
            pcApplies(mode, sizeof mode);
            pcDone = true;
        });
        // The GUI thread: a flag-2 pass for the writes applied since the last.
        for (int served = 0; std::chrono::steady_clock::now() < until + std::chrono::seconds(5);) {
            const bool done = pcDone;
            if (applied != served) {
                served = applied;
                m->ram_para_persist(2);
            } else if (done) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
        pc.join();
        applied = 0;
        const std::string f = readHostFile(hostPath("/data/modes/custom_mode7"));
        if (std::memcmp(&m->user_mode[6], mode, sizeof mode) != 0 || f != std::string(mode, mode + 4096)) ++lost;
    }
    EXPECT_EQ(lost, 0) << "of " << runs;
}

// Two PCs and the panel, each request answered in the order of the row,
// with the persisting steps their apply flags bring; `during` comes while a
// step works on a mode's slot. Mode 3 holds contrast 77, the live image 50.
// A save keeps the contrast it was asked with and stands until a later
// write or delete of its mode; the mode last saved or recalled is current.
TEST_F(ZrvRamParaTest, EveryAnsweredSaveStandsUntilALaterRequestOfItsMode) {
    using Step = ZrvRamPara::SlotStep;
    enum Kind { None, PcSave, PanelSave, PcSlot, PcDelete, PanelDelete, Recall, Reset, Pass };
    struct Op {
        Kind kind;
        int mode, value;  // value: the contrast saved or written; a pass's code
    };
    struct Case {
        const char* name;
        std::vector<Op> ops;
        Op during;  // at step `at` of mode atMode's slot
        Step at;
        int atMode;
        std::vector<std::pair<int, int>> stored;  // mode, contrast (-1 empty)
        int current, contrast;                    // words 866 and 2178 at the end
    };
    const Case cases[] = {
        {"save beside another PC's delete pass", {{PcDelete, 2, 0}, {Pass, 0, 2}, {Pass, 0, 1}},
         {PcSave, 6, 40}, Step::Removed, 2, {{6, 40}, {3, 77}}, 6, 40},
        {"delete after a save", {{PcSave, 5, 33}, {PcDelete, 5, 0}, {Pass, 0, 2}}, {}, {}, 0, {{5, -1}}, 0, 33},
        {"panel save, then a PC's delete", {{PanelSave, 5, 33}, {PcDelete, 5, 0}, {Pass, 0, 2}}, {}, {}, 0,
         {{5, -1}}, 0, 33},
        {"slot write after a save", {{PcSave, 5, 33}, {PcSlot, 5, 61}, {Pass, 0, 2}}, {}, {}, 0, {{5, 61}}, 0, 33},
        {"save after a delete", {{PcSlot, 5, 61}, {Pass, 0, 2}, {PcDelete, 5, 0}, {PcSave, 5, 33}, {Pass, 0, 2}},
         {}, {}, 0, {{5, 33}}, 5, 33},
        {"recall after a save", {{PcSave, 5, 33}, {Recall, 3, 0}, {Pass, 0, 1}}, {}, {}, 0, {{5, 33}, {3, 77}}, 3, 77},
        {"save after a recall", {{Recall, 3, 0}, {PcSave, 5, 0}, {Pass, 0, 1}}, {}, {}, 0, {{5, 77}}, 5, 77},
        {"two saves of a mode", {{PcSave, 5, 33}, {PanelSave, 5, 44}, {Pass, 0, 1}}, {}, {}, 0, {{5, 44}}, 5, 44},
        {"saves of two modes", {{PcSave, 6, 33}, {PanelSave, 5, 44}, {Pass, 0, 1}}, {}, {}, 0,
         {{6, 33}, {5, 44}}, 5, 44},
        {"panel delete after a save", {{PcSave, 5, 33}, {PanelDelete, 5, 0}, {Pass, 0, 1}}, {}, {}, 0,
         {{5, -1}}, 0, 33},
        {"reset after a save", {{PcSave, 5, 33}, {Reset, 0, 0}, {Pass, 0, 1}}, {}, {}, 0, {{5, 33}}, 0, 50},
        {"save again while the file is written", {{PcSave, 5, 33}, {Pass, 0, 1}, {Pass, 0, 1}}, {PcSave, 5, 44},
         Step::Written, 5, {{5, 44}}, 5, 44},
        {"delete while the save's file is written", {{PcSave, 5, 33}, {Pass, 0, 1}, {Pass, 0, 2}}, {PcDelete, 5, 0},
         Step::Written, 5, {{5, -1}}, 0, 33},
        {"delete of a mode due while another's file is written", {{PcSave, 5, 33}, {PcSave, 6, 44}, {Pass, 0, 1}},
         {PcDelete, 6, 0}, Step::Written, 5, {{5, 33}, {6, -1}}, 5, 44},
        {"recall while the save's file is written", {{PcSave, 5, 33}, {Pass, 0, 1}}, {Recall, 3, 0}, Step::Written, 5,
         {{5, 33}, {3, 77}}, 3, 77},
        {"delete as the slot pass takes the written slot", {{PcSlot, 5, 61}, {Pass, 0, 2}, {Pass, 0, 2}},
         {PcDelete, 5, 0}, Step::Looked, 5, {{5, -1}}, 0, 50},
    };
    c331_manage* mgr = c331_manage::get();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileOps::removePath("/data/modes");
        auto m = loadModel();
        edit(*m, O::CONTRAST, 77);
        ASSERT_EQ(m->mode_file_write(2, 1), 1);
        edit(*m, O::CONTRAST, 50);
        m->ram_para_persist(1);
        auto run = [&](const Op& op) {
            u8 slot[4098] = {};
            slot[0] = slot[1] = op.kind == PcDelete ? 0xFF : 0xAA;
            slot[2 + O::CONTRAST - O::MODE_BEGIN] = u8(op.value);
            const u8 save[2] = {u8(op.mode), 0};
            if ((op.kind == PcSave || op.kind == PanelSave) && op.value) edit(*m, O::CONTRAST, u16(op.value));
            int refused = 0;
            {
                QMutexLocker lock(&mgr->mutex);
                if (op.kind == PcSave) refused = m->ZrvRamParaDeal(save, 2, O::SAVE_REQUEST);
                if (op.kind == PcSlot || op.kind == PcDelete)
                    refused = m->ZrvModeUserRamParaDeal(slot, op.kind == PcDelete ? 2 : 4098, 0x1000 * u32(op.mode));
                if (op.kind == Recall) refused = !m->user_mode_recall_locked(op.mode);
            }
            if (op.kind == PanelSave) refused = !m->ZrvRequestUserModeSave(op.mode);
            if (op.kind == PanelDelete) m->mode_file_deal(op.mode - 1, 1);
            if (op.kind == Reset) refused = m->ram_para_reset();
            if (op.kind == Pass) m->ram_para_persist(op.value);
            EXPECT_EQ(refused, 0) << "request " << op.kind;
        };
        int met = 0;
        m->on_slot_step = [&](Step at, int n) {
            if (c.during.kind != None && at == c.at && n == c.atMode - 1 && !met++) run(c.during);
        };
        for (const Op& op : c.ops) run(op);
        m->on_slot_step = nullptr;
        EXPECT_EQ(met > 0, c.during.kind != None);
        EXPECT_EQ((Vals{m->live_image.word(O::LOADED_MODE), m->live_image.word(O::SAVE_REQUEST),
                        m->live_image.word(O::CONTRAST)}),
                  (Vals{c.current, 0, c.contrast}));
        auto again = loadModel();
        for (const auto& [mode, contrast] : c.stored) {
            const std::string f = readHostFile(hostPath(ZrvFiles::customModePath(mode - 1)));
            const int inFile = f.size() == 4096 ? u8(f[2 + O::CONTRAST - O::MODE_BEGIN]) : -1;
            auto held = [&](ZrvRamPara& z) {
                return z.ZrvUserModeSaved(mode - 1) ? z.user_mode[mode - 1].snapshot[O::CONTRAST - O::MODE_BEGIN] : -1;
            };
            EXPECT_EQ((Vals{held(*m), inFile, held(*again)}), (Vals{contrast, contrast, contrast})) << "mode " << mode;
        }
    }
}

TEST_F(ZrvRamParaTest, RecallCopiesTheSnapshotOnlyFromSavedSlots) {
    auto m = loadModel();
    edit(*m, O::WALL_WIDTH, 3840);
    ASSERT_EQ(m->mode_file_write(0, 1), 1);
    edit(*m, O::WALL_WIDTH, 1024);
    c331_manage::get()->apply_flag = 0;

    // An empty slot, no slot, then slot 1.
    EXPECT_EQ((Vals{m->ZrvRecallUserMode(2), m->ZrvRecallUserMode(17), c331_manage::get()->apply_flag.load(),
                    m->ZrvRecallUserMode(1), m->live_image.word(O::WALL_WIDTH), m->live_image.word(O::LOADED_MODE),
                    c331_manage::get()->apply_flag.load()}),
              (Vals{0, 0, 0, 1, 3840, 1, 1}));
}

// ---------------------------------------------------------------------------
// Protocol RAM writes

TEST_F(ZrvRamParaTest, RamWritesRefuseAnythingThatDoesNotFit) {
    auto m = loadModel();
    const u8 four[4] = {1, 2, 3, 4};
    // The last four bytes fit; one further, or offsets that would wrap
    // round, do not.
    EXPECT_EQ((Vals{m->ZrvRamParaDeal(four, 4, 4092), m->live_image.byte(4095), m->ZrvRamParaDeal(four, 4, 4093),
                    m->ZrvRamParaDeal(four, 2, 0xFFFFFFFFu), m->ZrvRamParaDeal(four, 4, 0xFFFFFFFEu),
                    m->live_image.byte(0)}),
              (Vals{0, 4, 1, 1, 1, 0}));

    // Below the slots, beyond them, bits above 19, then slot 1.
    EXPECT_EQ((Vals{m->ZrvModeUserRamParaDeal(four, 2, 0x0000), m->ZrvModeUserRamParaDeal(four, 2, 0x11000),
                    m->ZrvModeUserRamParaDeal(four, 2, 0x101000), m->ZrvModeUserRamParaDeal(four, 2, 0x1000),
                    m->user_mode[0].marker[0], m->user_mode[0].marker[1]}),
              (Vals{1, 1, 1, 0, 1, 2}));
    // The last slot: whole slot fits, one byte more does not.
    std::vector<u8> big(4098, 0x5A);
    EXPECT_EQ((Vals{m->ZrvModeUserRamParaDeal(big.data(), 4098, 0x10000), m->user_mode[15].snapshot[4095],
                    m->ZrvModeUserRamParaDeal(big.data(), 3, 0x10FFF),
                    m->ZrvModeUserRamParaDeal(big.data(), 4, 0x10FFF),
                    m->ZrvModeUserRamParaDeal(big.data(), 4098, 0x10001)}),
              (Vals{0, 0x5A, 0, 1, 1}));
}

// ---------------------------------------------------------------------------
// Crops and sources

TEST_F(ZrvRamParaTest, CropBookkeepingFillsGapsAndFindsTheNthCrop) {
    auto m = loadModel();
    // Input 3 owns crops 1 and 3 in records 4 and 9; record 6 holds a bad
    // input and record 7 a crop number beyond forty: both ignored.
    m->live_image.setWord(O::crop(4), 0x8000 | (0 << 8) | 3);
    m->live_image.setWord(O::crop(9), 0x8000 | (2 << 8) | 3);
    m->live_image.setWord(O::crop(6), 0x8000 | (0 << 8) | 9);
    m->live_image.setWord(O::crop(7), 0x8000 | (50 << 8) | 0);
    m->ZrvCropSourceInit();
    // Record 7 set no bit of input 0 or 1; crop 2 is the first free one.
    EXPECT_EQ((Vals{m->ZrvGetSourceNum(3, 40), m->ZrvGetSourceNum(3, 5), m->ZrvGetSourceNum(3, 0),
                    m->ZrvGetCropID(3, 2), m->ZrvGetCropID(3, 3), m->ZrvGetCropID(0, 1), g_cut_source_state[5],
                    m->ZrvAddCropID(3)}),
              (Vals{2, 1, 0, 3, 0, 0, 0, 2}));

    CROP_PARA add{0, 10, 20, 640, 360};
    m->ZrvAddNewCrop(3, &add);
    m->ZrvCropSourceInit();
    EXPECT_EQ((Vals{m->live_image.word(O::crop(0)), m->live_image.word(O::crop(0) + O::CROP_W),
                    c331_manage::get()->apply_flag.load(), m->ZrvGetCropID(3, 2), m->ZrvGetCropID(3, 3)}),
              (Vals{0x8000 | (1 << 8) | 3, 640, 1, 2, 3}));

    CROP_PARA got{-1, -1, -1, -1, -1};
    int index = -1;
    m->ZrvGetCropPara(3, 2, &got, &index);
    EXPECT_EQ((Vals{index, got.x, got.h}), (Vals{0, 10, 360}));
    CROP_PARA untouched{7, 7, 7, 7, 7};
    m->ZrvGetCropPara(3, 4, &untouched, &index);
    EXPECT_EQ((Vals{index, untouched.x}), (Vals{40, 7}));
    m->ZrvGetCropPara(6, 1, &untouched, &index);
    EXPECT_EQ(index, 40);

    c331_manage::get()->apply_flag = 0;
    CROP_PARA moved{0, 1, 2, 3, 4};
    m->ZrvSetCropPara(3, 3, &moved);
    EXPECT_EQ((Vals{m->live_image.word(O::crop(9) + O::CROP_X), m->live_image.word(O::crop(9)),
                    c331_manage::get()->apply_flag.load()}),
              (Vals{1, 0x8000 | (2 << 8) | 3, 1}));

    // The rectangle stays; no such crop: nothing happens.
    m->ZrvDeleteCrop(3, 1);
    EXPECT_EQ((Vals{m->live_image.word(O::crop(4)), m->live_image.word(O::crop(4) + O::CROP_W),
                    m->ZrvGetSourceNum(3, 40)}),
              (Vals{0, 1920, 2}));
    m->ZrvDeleteCrop(3, 9);
    EXPECT_EQ(m->ZrvGetSourceNum(3, 40), 2);
}

TEST_F(ZrvRamParaTest, AddingACropWithAllRecordsUsedChangesNothing) {
    auto m = loadModel();
    for (u32 r = 0; r < 40; ++r) m->live_image.setWord(O::crop(r), u16(0x8000 | (r << 8) | 0));
    m->ZrvCropSourceInit();
    EXPECT_EQ(m->ZrvAddCropID(0), 0);
    const PARA_RAM_IMAGE before = m->live_image;
    CROP_PARA add{0, 1, 1, 1, 1};
    m->ZrvAddNewCrop(0, &add);  // input full
    m->ZrvAddNewCrop(1, &add);  // no free record
    EXPECT_EQ(std::memcmp(&before, &m->live_image, 4096), 0);
    EXPECT_EQ(c331_manage::get()->apply_flag.load(), 0);
}

TEST_F(ZrvRamParaTest, SettingASourceClearsTheCurrentModeUnlessARecallIsPending) {
    auto m = loadModel();
    // Mode 4 current and persisted: a new source means it is no longer current.
    edit(*m, O::LOADED_MODE, 4);
    m->ram_para_persist(1);
    m->ZrvSetImageSource(0, 5, 1);
    EXPECT_EQ((Vals{m->live_image.word(O::win(1) + O::WIN_SOURCE), m->live_image.word(O::LOADED_MODE)}), (Vals{5, 0}));

    // A recall not yet persisted keeps its mode number.
    edit(*m, O::LOADED_MODE, 6);
    m->ZrvSetImageSource(0, 1, 0);
    EXPECT_EQ(m->live_image.word(O::LOADED_MODE), 6);

    // The first crop of input 2 in record 12.
    m->live_image.setWord(O::crop(12), 0x8000 | (4 << 8) | 2);
    m->ZrvCropSourceInit();
    m->ZrvSetImageSource(1, 2, 3);
    short isCrop = -1;
    char record = -1;
    EXPECT_EQ((Vals{m->live_image.word(O::win(3) + O::WIN_SOURCE),
                    m->ZrvGetImageSource(m->live_image.data, 3, &isCrop, &record, 0), isCrop, record}),
              (Vals{0x8000 | 12, 2, 1, 12}));

    // Out-of-range windows, inputs and missing crops change nothing.
    const PARA_RAM_IMAGE before = m->live_image;
    m->ZrvSetImageSource(0, 2, 6);
    m->ZrvSetImageSource(0, 6, 0);
    m->ZrvSetImageSource(2, 2, 0);
    m->ZrvSetEDIDPara(6, 1, 2, 3);
    EXPECT_EQ(std::memcmp(&before, &m->live_image, 4096), 0);
    EXPECT_EQ(m->ZrvGetImageSource(m->live_image.data, 6, &isCrop, &record, 0), 255);
}

TEST_F(ZrvRamParaTest, PageEditKeepsAPendingSlotWriteOfThePc) {
    auto m = loadModel();
    c331_manage::get()->apply_flag = 2;  // the PC wrote user-mode slots
    m->ZrvSetEDIDPara(1, 1280, 720, 50);
    // Lowered to 1, the pass would never signal code 2 and the slots the PC
    // wrote would never reach their files.
    EXPECT_EQ(c331_manage::get()->apply_flag.exchange(0), 2);
    m->ZrvSetEDIDPara(1, 1280, 720, 60);
    EXPECT_EQ(c331_manage::get()->apply_flag.load(), 1);
}

TEST_F(ZrvRamParaTest, ImageSourceReadsFromASnapshotWithItsOwnLayout) {
    auto m = loadModel();
    m->live_image.setWord(O::crop(30), 0x8000 | 4);
    m->live_image.setWord(O::win(2) + O::WIN_SOURCE, 0x8000 | 30);
    ASSERT_EQ(m->mode_file_write(0, 1), 1);
    m->live_image.setWord(O::win(2) + O::WIN_SOURCE, 1);  // live differs from the snapshot
    short isCrop = 0;
    char record = 0;
    EXPECT_EQ((Vals{m->ZrvGetImageSource(m->user_mode[0].snapshot, 2, &isCrop, &record, 1), isCrop, record}),
              (Vals{4, 1, 30}));
    EXPECT_EQ((Vals{m->ZrvGetImageSource(m->live_image.data, 2, &isCrop, &record, 0), isCrop}), (Vals{1, 0}));
    // A crop source naming a record past the table has no input.
    m->live_image.setWord(O::win(2) + O::WIN_SOURCE, 0x8000 | 45);
    EXPECT_EQ(m->ZrvGetImageSource(m->live_image.data, 2, &isCrop, &record, 0), 255);
}

TEST_F(ZrvRamParaTest, LanguageChangeIsReportedUntilPersisted) {
    auto m = loadModel();
    EXPECT_EQ(m->ZrvLanguageChanged(), 0);
    edit(*m, O::LANGUAGE, 1);
    EXPECT_EQ((Vals{m->ZrvLanguageChanged(), g_language.load(), m->ram_para_persist(1), m->ZrvLanguageChanged()}),
              (Vals{1, 1, 1, 0}));
    g_language = 0;
}

// ---------------------------------------------------------------------------
// Readers beside the writers

// A link writes a crop record under the c331 manager's mutex, a receiver a
// signal summary under the model's own; each takes the lock, writes the
// first field, holds on a while, writes the second. Every reader the other
// threads use waits for the lock and sees both fields written, never one.
TEST_F(ZrvRamParaTest, EveryReaderBesideTheWritersSeesARecordWhole) {
    struct Seen {
        int first, second;
    };
    // The poll step's chip operation that reads the crop (the crop offsets
    // after a timing change).
    struct CropReadingOps : QuietC331Ops {
        Seen seen{-1, -1};
        void check_input_port(int) override {
            const CROP_RECORD c = c331_manage::get()->chip_image().crop(5);
            seen = {c.x, c.y};
        }
    };
    auto m = loadModel();
    const ModelInstall install(m.get());
    c331_manage* mgr = c331_manage::get();
    // Crop 1 of HDMI1 (input 2) in record 5, and HDMI1's signal summary.
    m->live_image.setCrop(5, CROP_RECORD{0x8000 | 2, 10, 20, 640, 360});
    m->ZrvCropSourceInit();
    m->ZrvSetSignalPara(2, 1280, 720, 60);
    struct Row {
        const char* reader;
        bool receiver;  // the writer: a receiver (signal summary), else a link (crop record 5)
        std::function<Seen()> read;
    };
    const Row rows[] = {
        {"a page's view", false,
         [] {
             const CROP_RECORD c = ImageView::take().live.crop(5);
             return Seen{c.x, c.y};
         }},
        {"the crop pages' look-up", false,
         [&] {
             CROP_PARA p{};
             int index = -1;
             m->ZrvGetCropPara(2, 1, &p, &index);
             return Seen{p.x, p.y};
         }},
        {"the c331 thread's poll step", false,
         [&] {
             CropReadingOps ops;
             c331_chip_ops* saved = mgr->ops;
             mgr->setChipOps(&ops);
             mgr->pattern_gen = 0;
             mgr->poll_step();
             mgr->setChipOps(saved);
             return ops.seen;
         }},
        {"the home page's signal summary", true,
         [&] {
             const SIGNAL_PARA s = m->ZrvGetSignalPara(2);
             return Seen{s.width, s.height};
         }},
    };
    int round = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reader);
        ++round;
        const u16 first = u16(1000 + round), second = u16(2000 + round);
        std::mutex stateMutex;
        std::condition_variable changed;
        bool held = false, read = false, readWhileHeld = false;
        std::thread writer([&] {
            QMutex& lock = row.receiver ? m->mutex : mgr->mutex;
            lock.lock();
            if (row.receiver)
                m->live_image.setWord(O::signal(2), first);
            else
                m->live_image.setWord(O::crop(5) + O::CROP_X, first);
            std::unique_lock<std::mutex> state(stateMutex);
            held = true;
            changed.notify_all();
            // Time for a reader that does not wait for the lock to finish.
            readWhileHeld = changed.wait_for(state, std::chrono::milliseconds(300), [&] { return read; });
            state.unlock();
            if (row.receiver)
                m->live_image.setWord(O::signal(2) + 2, second);
            else
                m->live_image.setWord(O::crop(5) + O::CROP_Y, second);
            lock.unlock();
        });
        {
            std::unique_lock<std::mutex> state(stateMutex);
            ASSERT_TRUE(changed.wait_for(state, std::chrono::seconds(10), [&] { return held; }));
        }
        const Seen seen = row.read();
        {
            std::lock_guard<std::mutex> state(stateMutex);
            read = true;
        }
        changed.notify_all();
        writer.join();
        EXPECT_FALSE(readWhileHeld) << "read while the writer held its lock";
        EXPECT_EQ((Vals{seen.first, seen.second}), (Vals{first, second}));
    }
}

// The threads beside the writers read through the readers above. A page that
// named the model's image, slots or register block itself, or a chip
// operation that took the live image itself (the poll step runs without the
// lock), would read what a link writes half done.
TEST(ImageReaders, NoPageNorChipOperationReadsTheModelButThroughItsReaders) {
    const std::regex raw(R"(\b(live_image|shadow_image|user_mode|reg_block|copy_live|ZrvUserModeSaved|)"
                         R"(ZrvGetCurrentModeIndex)\b|(\.|->)(live|shadow)\(\))");
    const std::regex image(R"(\b(live_image|shadow_image|user_mode)\b|(\.|->)(live|shadow)\(\))");
    struct Scan {
        const char* folder;
        const std::regex& pattern;
        // The manager's own reads under its mutex, and the pass's write of
        // the output-channel layout.
        std::set<std::string> allowed;
    };
    const Scan scans[] = {
        {"ui", raw, {}},
        {"video_engine", image, {"video_engine/c331_manage.cpp", "video_engine/c331_timing.cpp"}},
    };
    for (const Scan& scan : scans)
        eachSourceLine({scan.folder}, [&](const std::string& name, int line, const std::string& text) {
            if (std::regex_search(text, scan.pattern) && !scan.allowed.count(name))
                ADD_FAILURE() << name << ":" << line << " reads the model past its readers: " << text;
        });
}

}  // namespace

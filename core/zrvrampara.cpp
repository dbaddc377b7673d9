#include "core/zrvrampara.h"

#include "core/file_checks.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/fileops.h"
#include "video_engine/c331_manage.h"

#include <QByteArray>
#include <QMutexLocker>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

ZrvRamPara* ZrvRamPara::p_zrvrampara_config = nullptr;
u8 g_cut_source_state[30];

namespace {

using namespace RamOffset;

// Image offset to offset in the stored file.
constexpr u32 fileOff(u32 imageOff) { return imageOff - PERSIST_BEGIN + RamFile::DATA_OFFSET; }

constexpr void putWord(std::array<u8, RamFile::FILE_SIZE>& f, u32 imageOff, u16 v) {
    f[fileOff(imageOff)] = u8(v);
    f[fileOff(imageOff) + 1] = u8(v >> 8);
}

constexpr std::array<u8, RamFile::FILE_SIZE> buildDefaults() {
    std::array<u8, RamFile::FILE_SIZE> f{};
    f[0] = RamFile::MARKER;
    f[1] = RamFile::MARKER;
    putWord(f, RESERVED_770, 100);
    for (u32 i = 0; i < 6; ++i) {
        putWord(f, edid(i), i < 4 ? 1920 : 3840);
        putWord(f, edid(i) + 2, i < 4 ? 1080 : 2160);
        putWord(f, edid(i) + 4, 60);
    }
    putWord(f, SPLICE_MODE, 4);
    putWord(f, WALL_WIDTH, 1920);
    putWord(f, WALL_HEIGHT, 1080);
    putWord(f, 1386, 1);
    putWord(f, 1388, 1);
    putWord(f, 1390, 1920);
    putWord(f, 1392, 1080);
    putWord(f, OUT1_WIDTH, 1920);
    putWord(f, OUT1_HEIGHT, 1080);
    putWord(f, OUT2_WIDTH, 1920);
    putWord(f, OUT2_HEIGHT, 1080);
    // The crop pattern runs on past the forty records; one group of it has
    // width 0.
    for (u32 g = CROP_BASE; g < CROP_PATTERN_END; g += CROP_SIZE) {
        putWord(f, g + CROP_ID, 2);
        putWord(f, g + CROP_W, g == 2092 ? 0 : 1920);
        putWord(f, g + CROP_H, 1080);
    }
    putWord(f, BRIGHTNESS, 100);
    putWord(f, CONTRAST, 50);
    putWord(f, SHARPNESS, 10);
    putWord(f, SATURATION, 50);
    putWord(f, COLOR_TEMP, 2);
    putWord(f, RED_GAIN, 64);
    putWord(f, GREEN_GAIN, 64);
    putWord(f, BLUE_GAIN, 64);
    for (u32 k = 0; k < PRIORITY_COUNT; ++k) putWord(f, priority(k), u16(k));
    putWord(f, RESERVED_2270, 1);
    constexpr u16 sources[6] = {2, 5, 3, 4, 1, 0};
    for (u32 w = 0; w < WIN_COUNT; ++w) {
        putWord(f, win(w) + WIN_ENABLE, w == 0 ? 1 : 0);
        putWord(f, win(w) + WIN_SOURCE, sources[w]);
        putWord(f, win(w) + WIN_WIDTH, 1920);
        putWord(f, win(w) + WIN_HEIGHT, 1080);
    }
    return f;
}

bool validInput(int input) { return input >= 0 && input < ZRV_INPUT_COUNT; }
bool validSlot(int n) { return n >= 0 && n < ZRV_USER_MODE_COUNT; }

int cropNumber(u16 id) { return ((id >> 8) & 0x7F) + 1; }

}  // namespace

// Constant-initialised: usable before main and never torn by start-up order.
constexpr std::array<u8, RamFile::FILE_SIZE> default_para_ramlist = buildDefaults();

// ---------------------------------------------------------------------------
// Record helpers of the image

WIN_RECORD PARA_RAM_IMAGE::win(int w) const {
    WIN_RECORD r{};
    if (w >= 0 && u32(w) < WIN_SLOTS) std::memcpy(&r, &data[RamOffset::win(u32(w))], sizeof r);
    return r;
}

void PARA_RAM_IMAGE::setWin(int w, const WIN_RECORD& rec) {
    if (w >= 0 && u32(w) < WIN_SLOTS) std::memcpy(&data[RamOffset::win(u32(w))], &rec, sizeof rec);
}

CROP_RECORD PARA_RAM_IMAGE::crop(int r) const {
    CROP_RECORD c{};
    if (r >= 0 && u32(r) < CROP_COUNT) std::memcpy(&c, &data[RamOffset::crop(u32(r))], sizeof c);
    return c;
}

void PARA_RAM_IMAGE::setCrop(int r, const CROP_RECORD& rec) {
    if (r >= 0 && u32(r) < CROP_COUNT) std::memcpy(&data[RamOffset::crop(u32(r))], &rec, sizeof rec);
}

SIGNAL_PARA PARA_RAM_IMAGE::signal(int input) const {
    SIGNAL_PARA s{};
    if (validInput(input)) std::memcpy(&s, &data[RamOffset::signal(u32(input))], sizeof s);
    return s;
}

void PARA_RAM_IMAGE::setSignal(int input, const SIGNAL_PARA& rec) {
    if (validInput(input)) std::memcpy(&data[RamOffset::signal(u32(input))], &rec, sizeof rec);
}

namespace ZrvFiles {
std::string customModePath(int slot) { return "/data/modes/custom_mode" + std::to_string(slot + 1); }

std::string modeOsdPath(int slot) {
    char name[32];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", unsigned(slot + 1) & 0xFF);
    return name;
}
}  // namespace ZrvFiles

// ---------------------------------------------------------------------------
// Construction and start-up load

ZrvRamPara::ZrvRamPara(QObject* parent) : QObject(parent) {
    std::memset(&live_image, 0, sizeof live_image);
    std::memset(&shadow_image, 0, sizeof shadow_image);
    std::memset(user_mode, 0, sizeof user_mode);
    for (auto& slot : user_mode) slot.marker[0] = slot.marker[1] = USER_MODE_EMPTY;
    std::memset(&reg_block, 0, sizeof reg_block);
}

ZrvRamPara* ZrvRamPara::pInstance() {
    if (!p_zrvrampara_config) {
        auto* p = new ZrvRamPara();
        // The program's image file is written off its start-up road and off
        // the GUI thread: the links open without waiting for the disk.
        p->writeImageFileInBackground();
        p->load();
        p_zrvrampara_config = p;
    }
    return p_zrvrampara_config;
}

namespace {
// A brightness count after the image: two marker bytes and a u32, or zeros
// for none (as older files hold).
void putCount(LatestFileWriter::Bytes& f, u32 at, const u8 mark[2], u32 count) {
    if (count == 0) return;
    f[at] = mark[0];
    f[at + 1] = mark[1];
    for (u32 i = 0; i < 4; ++i) f[at + 2 + i] = u8(count >> (8 * i));
}
u32 getCount(const u8* b, u32 at, const u8 mark[2]) {
    if (b[at] != mark[0] || b[at + 1] != mark[1]) return 0;
    const u32 c = u32(b[at + 2]) | u32(b[at + 3]) << 8 | u32(b[at + 4]) << 16 | u32(b[at + 5]) << 24;
    return c <= BriChange::kCycle ? c : 0;
}
}  // namespace

bool ZrvRamPara::writeRamFile(const u8* persist, u32 lastChange, u32 wordChange) {
    LatestFileWriter::Bytes f(RamFile::FILE_SIZE, 0);
    f[0] = RamFile::MARKER;
    f[1] = RamFile::MARKER;
    std::memcpy(&f[RamFile::DATA_OFFSET], persist, PERSIST_LEN);
    putCount(f, RamFile::BRI_COUNT_OFFSET, RamFile::BRI_COUNT_MARK, lastChange);
    putCount(f, RamFile::BRI_GEN_OFFSET, RamFile::BRI_GEN_MARK, wordChange);
    if (m_imageWriter) {
        m_imageWriter->post(std::move(f));  // the writer takes the file mutex
        return true;
    }
    QMutexLocker lock(&Utils::_file_deal_mutex);
    return FileOps::writeFileAtomic(ZrvFiles::RAM_DEVICE_INFO, f.data(), f.size());
}

bool ZrvRamPara::writeDefaultFile() {
    if (m_imageWriter) {
        // After any image still on its way, never overtaken by it.
        m_imageWriter->post(LatestFileWriter::Bytes(default_para_ramlist.begin(), default_para_ramlist.end()));
        return true;
    }
    QMutexLocker lock(&Utils::_file_deal_mutex);
    return FileOps::writeFileAtomic(ZrvFiles::RAM_DEVICE_INFO, default_para_ramlist.data(),
                                    default_para_ramlist.size());
}

void ZrvRamPara::writeImageFileInBackground() {
    if (m_imageWriter) return;
    m_imageWriter = std::make_unique<LatestFileWriter>(
        [](const LatestFileWriter::Bytes& f) {
            QMutexLocker lock(&Utils::_file_deal_mutex);
            return FileOps::writeFileAtomic(ZrvFiles::RAM_DEVICE_INFO, f.data(), f.size());
        },
        "parameter image file");
}

bool ZrvRamPara::drainImageFile() { return !m_imageWriter || m_imageWriter->drain(); }

void ZrvRamPara::load() {
    // Once, at the start: a line for each file refused, however many.
    const LogWhole whole;
    using FileCheck::Checked;
    const char* path = ZrvFiles::RAM_DEVICE_INFO;
    bool loaded = false;
    bool fileHeld = false;  // the file stays as it is: not written this run
    QMutexLocker fileLock(&Utils::_file_deal_mutex);
    QByteArray f;
    // Anything larger than the image file is not one: never read it whole.
    const FileOps::FileRead read = FileOps::readFile(path, f, RamFile::FILE_SIZE);
    if (read.outcome == FileOps::FileRead::Missing) {
        debugPrintf("\n %s file un exist \n", path);
    } else {
        debugPrintf("\n %s file exist \n", path);
        if (!read) {
            // A read error of the flash says nothing of what the file holds.
            fileHeld = FileCheck::notTaken(Checked::ParameterImage, path, read);
        } else {
            const auto* b = reinterpret_cast<const u8*>(f.constData());
            // A file too short to hold the whole image was torn: as bad as an
            // unmarked one.
            if (u32(f.size()) >= RamFile::DATA_END && b[0] == RamFile::MARKER && b[1] == RamFile::MARKER) {
                std::memcpy(&live_image.data[PERSIST_BEGIN], b + RamFile::DATA_OFFSET, PERSIST_LEN);
                loaded = true;
                u32 last = 0, held = 0;
                if (u32(f.size()) == RamFile::FILE_SIZE) {
                    last = getCount(b, RamFile::BRI_COUNT_OFFSET, RamFile::BRI_COUNT_MARK);
                    held = getCount(b, RamFile::BRI_GEN_OFFSET, RamFile::BRI_GEN_MARK);
                }
                m_briWritten[0] = last;
                m_briWritten[1] = held;
                bri_word_change = held;
                // A file of an older version keeps the word's change alone.
                bri_last_change = BriChange::later(held, last) ? held : last;
            } else {
                debugPrintf("\n ram_valid = %#x,%#x \n", f.size() > 0 ? b[0] : 0u, f.size() > 1 ? b[1] : 0u);
                fileHeld = !FileCheck::keepAside(Checked::ParameterImage, path,
                                                 f.size() < int(RamFile::DATA_END) ? "shorter than the parameter image"
                                                                                  : "not marked 0xAA 0xAA");
            }
        }
    }
    fileLock.unlock();
    if (!loaded) {
        bri_last_change = bri_word_change = m_briWritten[0] = m_briWritten[1] = 0;
        m_imageFileHeld = fileHeld;
        if (!fileHeld && !writeDefaultFile()) writeLogMsg(ERROR, "parameter image file cannot be written");
        // The defaults go into the image even when the file could not be
        // written: a zeroed image would drive a black, zero-sized wall.
        std::memcpy(&live_image.data[PERSIST_BEGIN], &default_para_ramlist[RamFile::DATA_OFFSET], PERSIST_LEN);
    }

    // Run-time fields never survive a restart.
    live_image.setWord(BLACKOUT, 0);
    // A save request is never carried over a restart: the word shows only
    // the requests of this run.
    live_image.setWord(SAVE_REQUEST, 0);
    for (u32 b = TEST_PATTERN; b < TEST_PATTERN + 4; ++b) live_image.setByte(b, 0);
    g_language = live_image.byte(LANGUAGE);
    for (u32 k = 0; k < FADE_WORDS; ++k) live_image.setByte(FADE_BASE + 2 * k, 60);

    ZrvCropSourceInit();
    shadow_image = live_image;

    // Nothing here waits: the links open right after the load, and the
    // files are written whole and renamed, so no pause makes them safer.
    for (int slot = 0; slot < ZRV_USER_MODE_COUNT; ++slot) mode_file_deal(slot, 0);

    std::memset(&reg_block.REG[37], 0, sizeof reg_block.REG - 37);
    reg_block.REG[37] = 0x80;
    reg_block.REG[38] = 0x1F;
    reg_block.REG[39] = 0x06;
}

// ---------------------------------------------------------------------------
// Change signal and persisting

int ZrvRamPara::test_signal(int code) {
    QMutexLocker lock(&Utils::_test_signal_mutex);
    emit sig_update_para(code);
    return 1;
}

int ZrvRamPara::ram_para_save() { return test_signal(1); }

int ZrvRamPara::ram_para_reset() {
    int result = 0;
    debugPrintf("\n ready to write default para ramlist ");
    c331_manage* mgr = c331_manage::get();
    u32 last, held;
    {
        QMutexLocker lock(&mgr->mutex);
        std::memcpy(&live_image.data[PERSIST_BEGIN], &default_para_ramlist[RamFile::DATA_OFFSET], PERSIST_LEN);
        countBrightnessWrite();
        factoryWordsWritten();
        last = bri_last_change;
        held = bri_word_change;
        mgr->raise_apply(1);
    }
    // The default file with the brightness counts: a start from it counts
    // on after the records already stored.
    if (!writeRamFile(&default_para_ramlist[RamFile::DATA_OFFSET], last, held)) {
        writeLogMsg(ERROR, "parameter image file cannot be reset");
        result = 255;
    } else {
        m_briWritten[0] = last;
        m_briWritten[1] = held;
        m_imageFileHeld = false;  // replaced on purpose
    }
    // The factory table has no crops: a bit map left from before would offer
    // crops whose records are gone.
    ZrvCropSourceInit();
    return result;
}

ZrvRamPara::SlotWrite ZrvRamPara::writeSlot(int n, u32 writes, USER_MODE_SLOT next, bool copyOsd) {
    next.marker[0] = next.marker[1] = USER_MODE_SAVED;
    {
        // A PC's write or delete of the slot answered since is the later
        // word: the file is not written over with the older content.
        QMutexLocker lock(&c331_manage::get()->mutex);
        if (m_slotWrites[n] != writes) return SlotWrite::Superseded;
    }
    // Written whole beside its place and renamed over it: nothing is gained
    // by waiting here, and every other writer would wait with us.
    bool ok;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        ok = FileOps::writeFileAtomic(ZrvFiles::customModePath(n), &next, USER_MODE_FILE_SIZE);
    }
    if (on_slot_step) on_slot_step(SlotStep::Written, n);
    if (!ok) {
        // The slot stays as it was: marking it saved would recall data that
        // is not on disk.
        modeFileFault("user mode " + std::to_string(n + 1) + " file cannot be written");
        return SlotWrite::Failed;
    }
    bool kept;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        // A PC write into the slot while the file was written is newer than
        // what was written: keep it (its own flag-2 pass writes it), never
        // put the older copy back over it.
        kept = m_slotWrites[n] == writes;
        if (kept) user_mode[n] = next;
    }
    if (copyOsd && kept) {
        const std::string to = ZrvFiles::modeOsdPath(n);
        debugPrintf("\n cp  %s %s \n", ZrvFiles::OMENU, to.c_str());
        QMutexLocker lock(&Utils::_file_deal_mutex);
        static LineLimiter uncopied(LineLimiter::logCount(WARNING, "OSD menu", "copies failed"));
        // Read as the OSD reads it: a menu file it would refuse is refused
        // here too, and never read whole.
        QByteArray menu;
        const FileOps::FileRead read = FileOps::readFile(ZrvFiles::OMENU, menu, FileCheck::kOsdMenuMax);
        if (read.outcome != FileOps::FileRead::Read && read.outcome != FileOps::FileRead::Missing)
            FileCheck::notTaken(FileCheck::Checked::OsdMenu, ZrvFiles::OMENU, read);
        if (!read || !FileOps::writeFileAtomic(to, menu))
            uncopied.occur([&] { writeLogMsg(WARNING, "OSD menu copy failed: " + to); });
    }
    return kept ? SlotWrite::Written : SlotWrite::Superseded;
}

int ZrvRamPara::mode_file_write(int n, int kind) {
    if (!validSlot(n)) return 0;
    USER_MODE_SLOT next;
    u32 writes;
    bool osdOn;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        next = user_mode[n];
        writes = m_slotWrites[n];
        if (kind == 1) std::memcpy(next.snapshot, &live_image.data[MODE_BEGIN], MODE_LEN);
        osdOn = live_image.word(OSD_ON) == 1;
    }
    return writeSlot(n, writes, next, kind == 0 && osdOn) == SlotWrite::Written;
}

void ZrvRamPara::modeFileFault(const std::string& line, LogPlace at) {
    m_modeFileFaults.occur([&] { writeLogMsg(ERROR, line, at); });
}

int ZrvRamPara::mode_file_deal(int n, int op, bool* removed) {
    if (!validSlot(n)) return 0;
    u32 writes;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        // The panel's Delete: a save of the mode asked before it would bring
        // the mode back right after.
        if (op == 1) slotChanged(n);
        writes = m_slotWrites[n];
    }
    return dealSlot(n, op, writes, removed);
}

int ZrvRamPara::dealSlot(int n, int op, u32 writes, bool* removed) {
    if (removed) *removed = true;
    if (op == 1) {
        bool hadOsd = false;
        {
            // The OSD copy of the mode the slot held when its deletion was
            // asked for; a mode the PC wrote since has none.
            QMutexLocker lock(&c331_manage::get()->mutex);
            const u32 osd = OSD_ON - MODE_BEGIN;
            if (m_slotWrites[n] == writes) {
                hadOsd = (user_mode[n].snapshot[osd] | (user_mode[n].snapshot[osd + 1] << 8)) == 1;
                if (hadOsd) user_mode[n].snapshot[osd] = user_mode[n].snapshot[osd + 1] = 0;
            }
        }
        const bool gone = FileOps::removeDurably(ZrvFiles::customModePath(n));
        if (removed) *removed = gone;
        // Reloaded below: the slot keeps showing the mode that stayed.
        if (!gone) modeFileFault("user mode " + std::to_string(n + 1) + " file cannot be removed");
        if (hadOsd && !FileOps::removeDurably(ZrvFiles::modeOsdPath(n)))
            modeFileFault("user mode " + std::to_string(n + 1) + " OSD menu copy cannot be removed");
        if (on_slot_step) on_slot_step(SlotStep::Removed, n);
    }

    const std::string path = ZrvFiles::customModePath(n);
    QByteArray f;
    bool present = false;
    bool held = false;  // the file stays where it is, unread
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FileOps::FileRead read = FileOps::readFile(path, f, USER_MODE_FILE_SIZE);
        // A file of another size is no slot file: a short one was cut off
        // while being written, a longer one is someone else's. The slot
        // reads empty rather than recalling a half or foreign mode.
        if (read.outcome == FileOps::FileRead::TooLarge || (read && u32(f.size()) != USER_MODE_FILE_SIZE))
            read = {FileOps::FileRead::NotAFile, "not " + std::to_string(USER_MODE_FILE_SIZE) + " bytes"};
        present = bool(read);
        if (!present && read.outcome != FileOps::FileRead::Missing)
            held = FileCheck::notTaken(FileCheck::Checked::UserMode, path, read);
    }
    QMutexLocker lock(&c331_manage::get()->mutex);
    // A PC write into the slot while its file was removed or read is newer
    // than the file: marked empty over it, the next pass would delete the
    // mode the PC was told was stored. It stays; its own pass stores it.
    if (m_slotWrites[n] != writes) return 0;
    if (!present) {
        // An empty slot's file is removed by the protocol's next slot pass:
        // one that could not be read must not read empty.
        user_mode[n].marker[0] = user_mode[n].marker[1] = held ? USER_MODE_UNREAD : USER_MODE_EMPTY;
        return 0;
    }
    std::memcpy(&user_mode[n], f.constData(), USER_MODE_FILE_SIZE);
    return 1;
}

ZrvRamPara::Snapshot ZrvRamPara::snapshot() {
    Snapshot s;
    QMutexLocker lock(&c331_manage::get()->mutex);
    copy_live(s.image.data, 0, IMAGE_SIZE);
    // Taken with the image, so the brightness word and the change it holds
    // never part.
    s.lastChange = bri_last_change;
    s.wordChange = bri_word_change;
    return s;
}

int ZrvRamPara::ram_para_persist(int code, int* failedSave) { return persist(code, nullptr, failedSave); }

int ZrvRamPara::ram_para_persist(int code, const Snapshot& looked, int* failedSave) {
    Snapshot s = looked;
    return persist(code, &s, failedSave);
}

int ZrvRamPara::persist(int code, Snapshot* looked, int* failedSave) {
    c331_manage* mgr = c331_manage::get();
    if (failedSave) *failedSave = 0;
    // This step's own edits of the save words, under the c331 manager's
    // mutex: into the image it stores too, which may have been taken before.
    auto ownEdit = [&](u32 off, u16 v) {
        live_image.setWord(off, v);
        if (looked) looked->image.setWord(off, v);
    };

    // 1. Saves asked for (the panel's, a PC's word 868), in the order they
    // were, each with the settings it was asked with. One asked while this
    // step works waits for the next step, which its apply flag brings.
    struct Due {
        int mode;
        SaveRequest save;
    };
    std::vector<Due> due;
    {
        QMutexLocker lock(&mgr->mutex);
        for (int n = 0; n < ZRV_USER_MODE_COUNT; ++n)
            if (m_saves[n].request) due.push_back({n + 1, m_saves[n]});
    }
    std::sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.save.request < b.save.request; });
    for (const Due& d : due) {
        const int n = d.mode - 1;
        USER_MODE_SLOT next;
        {
            QMutexLocker lock(&mgr->mutex);
            next = user_mode[n];
        }
        std::memcpy(next.snapshot, d.save.settings, MODE_LEN);
        const u32 osd = OSD_ON - MODE_BEGIN;
        const bool osdOn = (d.save.settings[osd] | (d.save.settings[osd + 1] << 8)) == 1;
        const SlotWrite done = writeSlot(n, d.save.slotWrites, next, osdOn);
        if (done == SlotWrite::Failed && failedSave) *failedSave = d.mode;
        {
            QMutexLocker lock(&mgr->mutex);
            // Only the request carried out: one asked meanwhile is newer.
            if (m_saves[n].request == d.save.request) m_saves[n].request = 0;
            // The mode is current unless a recall or another choice came
            // after the save was asked.
            if (done == SlotWrite::Written && m_modeMarks == d.save.modeMarks) ownEdit(LOADED_MODE, u16(d.mode));
            ownEdit(SAVE_REQUEST, latestSaveRequest());
        }
        static LineLimiter saves([](u64 count) {
            debugPrintf("\n %llu more user mode saves in the last second \n", static_cast<unsigned long long>(count));
        });
        saves.occur([&d] { debugPrintf("\n user mode save change ,%#x \n", unsigned(d.mode)); });
    }

    // 2. Slots written by the protocol.
    if (code == 2) {
        for (int slot = 0; slot < ZRV_USER_MODE_COUNT; ++slot) {
            // The marks, the content and the write count taken together: a
            // PC's write landing after them (a delete included) is newer
            // than what this pass stores, and its own pass stores it.
            USER_MODE_SLOT seen;
            u32 writes;
            {
                QMutexLocker lock(&mgr->mutex);
                seen = user_mode[slot];
                writes = m_slotWrites[slot];
            }
            if (on_slot_step) on_slot_step(SlotStep::Looked, slot);
            const u8 m0 = seen.marker[0], m1 = seen.marker[1];
            // A save of the mode asked before the PC's write was dropped
            // where the write entered; one asked after it stands.
            if (m0 == USER_MODE_EMPTY || m1 == USER_MODE_EMPTY) {
                dealSlot(slot, 1, writes, nullptr);
            } else if (m0 == USER_MODE_SAVED || m1 == USER_MODE_SAVED) {
                // A slot its file did not take reads as what the file holds
                // (or empty): the PC reading it back and the pages must not
                // see a mode that a restart would not find.
                if (writeSlot(slot, writes, seen, false) == SlotWrite::Failed) dealSlot(slot, 0, writes, nullptr);
            }
        }
    }

    // 3. The image file: the image the page in front looked at, else the
    // image now. Either was taken under the c331 manager's mutex, so a
    // writer's edit is wholly in it or wholly after it; the shadow becomes
    // exactly what was written, so a later edit still differs.
    const Snapshot taken = looked ? *looked : snapshot();
    const PARA_RAM_IMAGE& snap = taken.image;
    const u32 last = taken.lastChange, held = taken.wordChange;
    if (std::memcmp(&snap.data[PERSIST_BEGIN], &shadow_image.data[PERSIST_BEGIN], PERSIST_LEN) == 0 &&
        last == m_briWritten[0] && held == m_briWritten[1])
        return 0;
    // Once for each change the c331 thread signals, as often as a PC sends.
    static LineLimiter stores([](u64 n) {
        debugPrintf("\n %llu more parameter stores in the last second \n", static_cast<unsigned long long>(n));
    });
    stores.occur([] { debugPrintf("\n ram_para diffrent !"); });
    // A file this start could not use is left as it is (the start said so).
    const bool ok = m_imageFileHeld || writeRamFile(&snap.data[PERSIST_BEGIN], last, held);
    if (!ok) {
        // The shadow keeps the old image so the next signal tries again,
        // which a PC's writes bring as often as it sends them.
        static LineLimiter unwritten(LineLimiter::logCount(ERROR, "parameter image", "writes failed"));
        unwritten.occur([] { writeLogMsg(ERROR, "parameter image file cannot be written"); });
        return 255;
    }
    m_briWritten[0] = last;
    m_briWritten[1] = held;
    QMutexLocker lock(&mgr->mutex);
    shadow_image = snap;
    // The shadow never holds a save request: the pages draw a save still
    // pending from the live word differing from it.
    shadow_image.setWord(SAVE_REQUEST, 0);
    return 1;
}

// ---------------------------------------------------------------------------
// Protocol writes

int ZrvRamPara::ZrvRamParaDeal(const u8* data, u16 len, u32 offset) {
    // Compared without adding, so no offset can wrap round into range.
    if (offset > IMAGE_SIZE || len > IMAGE_SIZE - offset) return 1;
    if (len == 0) return 0;
    if (!data) return 1;
    const u32 watched[] = {LOADED_MODE, SPLICE_MODE, WALL_WIDTH, WALL_HEIGHT};
    u16 before[4];
    for (size_t i = 0; i < 4; ++i) before[i] = live_image.word(watched[i]);
    // The run-time bytes include the signal summaries of the receivers.
    {
        QMutexLocker lock(&mutex);
        std::memcpy(&live_image.data[offset], data, len);
    }
    for (size_t i = 0; i < 4; ++i) {
        if (live_image.word(watched[i]) == before[i]) continue;
        if (i == 0)
            m_pcMode = live_image.word(LOADED_MODE);
        else
            m_pcWall = true;
    }
    auto covers = [&](u32 word) { return offset < word + 2 && word < offset + len; };
    if (covers(BRIGHTNESS)) countBrightnessWrite();
    if (covers(LOADED_MODE)) ++m_modeMarks;
    if (covers(SAVE_REQUEST)) {
        const u16 m = live_image.word(SAVE_REQUEST);
        if (m >= 1 && m <= ZRV_USER_MODE_COUNT)
            enterSaveRequest(m);
        else
            live_image.setWord(SAVE_REQUEST, latestSaveRequest());
    }
    return 0;
}

ZrvRamPara::PcChanges ZrvRamPara::takePcChanges() {
    PcChanges c;
    c.modeChosen = m_pcMode != 0 && live_image.word(LOADED_MODE) == m_pcMode;
    c.wall = m_pcWall;
    m_pcMode = 0;
    m_pcWall = false;
    return c;
}

u32 ZrvRamPara::countBrightnessWrite() {
    bri_word_change = countBrightnessRecord();
    return bri_word_change;
}

u32 ZrvRamPara::countBrightnessRecord() {
    bri_last_change = BriChange::next(bri_last_change);
    return bri_last_change;
}

void ZrvRamPara::setOwnBrightness(u16 word) {
    live_image.setWord(BRIGHTNESS, word);
    bri_word_change = 0;
}

void ZrvRamPara::noteBrightnessRecord(u32 c) {
    if (BriChange::later(c, bri_last_change)) bri_last_change = c;
}

void ZrvRamPara::copy_live(void* dst, u32 offset, u32 len) {
    if (!dst || offset > IMAGE_SIZE || len > IMAGE_SIZE - offset) return;
    QMutexLocker lock(&mutex);
    std::memcpy(dst, &live_image.data[offset], len);
}

int ZrvRamPara::ZrvModeUserRamParaDeal(const u8* data, u16 len, u32 addr) {
    const u32 s = (addr >> 12) & 0xFF;
    // Address bits above 19 name no slot either.
    if ((addr >> 20) != 0 || s < 1 || s > u32(ZRV_USER_MODE_COUNT)) return 1;
    const u32 off = addr & 0xFFF;
    if (u32(len) > sizeof(USER_MODE_SLOT) - off) return 1;
    if (len && !data) return 1;
    // The PC writes slots as fast as it is answered.
    static LineLimiter slotWrites([](u64 n) {
        debugPrintf("\n %llu more writes of user modes in the last second \n", static_cast<unsigned long long>(n));
    });
    slotWrites.occur([s] { debugPrintf("\n write ram_user_mode = %#x \n", unsigned(s)); });
    if (len) {
        std::memcpy(reinterpret_cast<u8*>(&user_mode[s - 1]) + off, data, len);
        slotChanged(int(s) - 1);
    }
    return 0;
}

void ZrvRamPara::slotChanged(int n) {
    ++m_slotWrites[n];
    if (!m_saves[n].request) return;
    m_saves[n].request = 0;
    live_image.setWord(SAVE_REQUEST, latestSaveRequest());
}

void ZrvRamPara::enterSaveRequest(int m) {
    SaveRequest& save = m_saves[m - 1];
    if (++m_saveRequests == 0) ++m_saveRequests;  // 0 is none
    save.request = m_saveRequests;
    save.slotWrites = m_slotWrites[m - 1];
    save.modeMarks = m_modeMarks;
    std::memcpy(save.settings, &live_image.data[MODE_BEGIN], MODE_LEN);
    live_image.setWord(SAVE_REQUEST, u16(m));
}

u16 ZrvRamPara::latestSaveRequest() const {
    int latest = 0;
    for (int n = 0; n < ZRV_USER_MODE_COUNT; ++n)
        if (m_saves[n].request && (!latest || m_saves[n].request > m_saves[latest - 1].request)) latest = n + 1;
    return u16(latest);
}

// ---------------------------------------------------------------------------
// Sources and crops

int ZrvRamPara::ZrvGetImageSource(const u8* image, u8 window, short* is_crop, char* crop_index, u8 layout) {
    if (!image || window >= WIN_COUNT || layout > 1) return 255;
    const u32 shift = layout == 1 ? MODE_BEGIN : 0;
    auto word = [&](u32 off) { return u16(image[off - shift] | (image[off - shift + 1] << 8)); };
    const u16 source = word(win(window) + WIN_SOURCE);
    if (!(source & 0x8000)) {
        if (is_crop) *is_crop = 0;
        return source & 0xFF;
    }
    const u32 r = source & 0xFF;
    if (is_crop) *is_crop = 1;
    if (crop_index) *crop_index = char(r);
    if (r >= CROP_COUNT) return 255;
    return word(crop(r) + CROP_ID) & 0xFF;
}

PARA_RAM_IMAGE ZrvRamPara::liveCrops() {
    PARA_RAM_IMAGE crops{};
    QMutexLocker lock(&c331_manage::get()->mutex);
    std::memcpy(&crops.data[CROP_BASE], &live_image.data[CROP_BASE], CROP_SIZE * CROP_COUNT);
    return crops;
}

int ZrvRamPara::ZrvGetSourceNum(int input, int count) { return cropsOf(liveCrops(), input, count); }

int ZrvRamPara::cropsOf(const PARA_RAM_IMAGE& image, int input, int count) {
    if (count < 1 || !validInput(input)) return 0;
    if (count > int(CROP_COUNT)) count = CROP_COUNT;
    int n = 0;
    for (int r = 0; r < count; ++r) {
        const u16 id = image.word(crop(r) + CROP_ID);
        if ((id & 0x8000) && (id & 0xFF) == input) ++n;
    }
    return n;
}

void ZrvRamPara::ZrvCropSourceInit() {
    const PARA_RAM_IMAGE crops = liveCrops();
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    for (u32 r = 0; r < CROP_COUNT; ++r) {
        const u16 id = crops.word(crop(r) + CROP_ID);
        if (!(id & 0x8000)) continue;
        const int input = id & 0xFF;
        const int number = cropNumber(id);
        // Bits beyond an input's forty would mark another input's crops.
        if (!validInput(input) || number > int(CROP_COUNT)) continue;
        const int bit = (number - 1) + 40 * input;
        g_cut_source_state[bit / 8] |= u8(1u << (bit % 8));
    }
}

int ZrvRamPara::ZrvGetCropID(int input, int n) {
    if (!validInput(input) || n < 1) return 0;
    int seen = 0;
    for (int k = 0; k < int(CROP_COUNT); ++k) {
        const int bit = k + 40 * input;
        if (g_cut_source_state[bit / 8] & (1u << (bit % 8))) {
            if (++seen == n) return k + 1;
        }
    }
    return 0;
}

int ZrvRamPara::ZrvAddCropID(int input) {
    if (!validInput(input)) return 0;
    for (int k = 0; k < int(CROP_COUNT); ++k) {
        const int bit = k + 40 * input;
        if (!(g_cut_source_state[bit / 8] & (1u << (bit % 8)))) return k + 1;
    }
    return 0;
}

namespace {
// Index of the valid record of `input` with crop number `number`; 40 when none.
int findCropRecord(const PARA_RAM_IMAGE& img, int input, int number) {
    if (number < 1) return CROP_COUNT;
    for (u32 r = 0; r < CROP_COUNT; ++r) {
        const u16 id = img.word(crop(r) + CROP_ID);
        if ((id & 0x8000) && (id & 0xFF) == input && cropNumber(id) == number) return int(r);
    }
    return CROP_COUNT;
}
}  // namespace

void ZrvRamPara::ZrvGetCropPara(int input, int n, CROP_PARA* para, int* index) {
    const int r = cropParaOf(liveCrops(), input, n, para);
    if (index) *index = r;
}

int ZrvRamPara::cropParaOf(const PARA_RAM_IMAGE& image, int input, int n, CROP_PARA* para) {
    const int r = validInput(input) ? findCropRecord(image, input, ZrvGetCropID(input, n)) : int(CROP_COUNT);
    if (r >= int(CROP_COUNT) || !para) return r;
    const u32 b = crop(u32(r));
    para->id = image.word(b + CROP_ID);
    para->x = image.word(b + CROP_X);
    para->y = image.word(b + CROP_Y);
    para->w = image.word(b + CROP_W);
    para->h = image.word(b + CROP_H);
    return r;
}

void ZrvRamPara::ZrvSetCropPara(char input, char n, const CROP_PARA* para) {
    const int in = static_cast<signed char>(input);
    if (!validInput(in) || !para) return;
    const int number = ZrvGetCropID(in, static_cast<signed char>(n));
    // Applied and persisted at once, like adding or deleting: an edit left
    // waiting for an unrelated change would be lost at power-off. The record
    // is looked up under the same lock: a PC writes the table under it.
    c331_manage* mgr = c331_manage::get();
    QMutexLocker lock(&mgr->mutex);
    const int r = findCropRecord(live_image, in, number);
    if (r >= int(CROP_COUNT)) return;
    const u32 b = crop(u32(r));
    live_image.setWord(b + CROP_X, u16(para->x));
    live_image.setWord(b + CROP_Y, u16(para->y));
    live_image.setWord(b + CROP_W, u16(para->w));
    live_image.setWord(b + CROP_H, u16(para->h));
    mgr->raise_apply(1);
}

void ZrvRamPara::ZrvAddNewCrop(int input, const CROP_PARA* para) {
    if (!validInput(input) || !para) return;
    // Numbers come from the table as it is now, not from a stale bit map.
    ZrvCropSourceInit();
    const int number = ZrvAddCropID(input);
    if (number == 0) return;
    c331_manage* mgr = c331_manage::get();
    {
        QMutexLocker lock(&mgr->mutex);
        u32 r = 0;
        while (r < CROP_COUNT && (live_image.word(crop(r) + CROP_ID) & 0x8000)) ++r;
        if (r == CROP_COUNT) return;
        const u32 b = crop(r);
        live_image.setWord(b + CROP_ID, u16(0x8000 | (((number - 1) & 0x7F) << 8) | input));
        live_image.setWord(b + CROP_X, u16(para->x));
        live_image.setWord(b + CROP_Y, u16(para->y));
        live_image.setWord(b + CROP_W, u16(para->w));
        live_image.setWord(b + CROP_H, u16(para->h));
        mgr->raise_apply(1);
    }
    ZrvCropSourceInit();
}

void ZrvRamPara::ZrvDeleteCrop(char input, char n) {
    const int in = static_cast<signed char>(input);
    if (!validInput(in)) return;
    const int number = ZrvGetCropID(in, static_cast<signed char>(n));
    c331_manage* mgr = c331_manage::get();
    {
        QMutexLocker lock(&mgr->mutex);
        const int r = findCropRecord(live_image, in, number);
        if (r >= int(CROP_COUNT)) return;
        live_image.setWord(crop(u32(r)) + CROP_ID, 0);
        // Windows that show the crop fall back to its input's whole picture
        // in the same edit: left on the freed record they would silently
        // show whatever crop is added there next, maybe of another input.
        for (u32 w = 0; w < WIN_SLOTS; ++w) {
            const u16 source = live_image.word(win(w) + WIN_SOURCE);
            if ((source & 0x8000) && (source & 0xFF) == u32(r)) live_image.setWord(win(w) + WIN_SOURCE, u16(in));
        }
        mgr->raise_apply(1);
    }
    ZrvCropSourceInit();
}

void ZrvRamPara::ZrvSetImageSource(int sel, char input, char window) {
    const int in = static_cast<signed char>(input);
    const int w = static_cast<signed char>(window);
    if (!validInput(in) || w < 0 || w >= int(WIN_COUNT) || sel < 0) return;
    const int number = sel > 0 ? ZrvGetCropID(in, sel) : 0;
    c331_manage* mgr = c331_manage::get();
    QMutexLocker lock(&mgr->mutex);
    u16 word = u16(in);
    if (sel > 0) {
        const int r = findCropRecord(live_image, in, number);
        // No such crop: leave the window alone rather than point it at
        // record 0, which belongs to whatever crop happens to be there.
        if (r >= int(CROP_COUNT)) return;
        word = u16(0x8000 | r);
    }
    live_image.setWord(win(u32(w)) + WIN_SOURCE, word);
    if (live_image.word(LOADED_MODE) == shadow_image.word(LOADED_MODE)) {
        live_image.setWord(LOADED_MODE, 0);
        ++m_modeMarks;
    }
    mgr->raise_apply(1);
}

void ZrvRamPara::ZrvSetEDIDPara(int input, short width, short height, short refresh) {
    if (!validInput(input)) return;
    c331_manage* mgr = c331_manage::get();
    QMutexLocker lock(&mgr->mutex);
    const u32 b = edid(u32(input));
    live_image.setWord(b, u16(width));
    live_image.setWord(b + 2, u16(height));
    live_image.setWord(b + 4, u16(refresh));
    mgr->raise_apply(1);
}

SIGNAL_PARA ZrvRamPara::ZrvGetSignalPara(int input) {
    QMutexLocker lock(&mutex);
    return live_image.signal(input);
}

int ZrvRamPara::ZrvSetSignalPara(int input, u16 width, u16 height, u8 rate) {
    if (!validInput(input)) return 255;
    QMutexLocker lock(&mutex);
    live_image.setSignal(input, SIGNAL_PARA{width, height, rate, 0});
    return 0;
}

int ZrvRamPara::ZrvSetSignalPara(int input, u16 width, u16 height, u8 rate, u32 rawOffset, const u8 raw[3]) {
    if (!validInput(input)) return 255;
    QMutexLocker lock(&mutex);
    live_image.setSignal(input, SIGNAL_PARA{width, height, rate, 0});
    for (u32 i = 0; i < 3; ++i) live_image.setByte(rawOffset + i, raw[i]);
    return 0;
}

// ---------------------------------------------------------------------------
// Language and user modes

int ZrvRamPara::ZrvLanguageChanged() {
    // A PC writes the live image from its link's thread, under this mutex.
    QMutexLocker lock(&c331_manage::get()->mutex);
    if (live_image.word(LANGUAGE) == shadow_image.word(LANGUAGE)) return 0;
    g_language = live_image.byte(LANGUAGE);
    return 1;
}

int ZrvRamPara::ZrvUserModeSaved(int n) {
    if (!validSlot(n)) return 0;
    return user_mode[n].marker[0] == USER_MODE_SAVED && user_mode[n].marker[1] == USER_MODE_SAVED;
}

int ZrvRamPara::ZrvGetCurrentModeIndex() { return currentModeOf(live_image); }

int ZrvRamPara::currentModeOf(const PARA_RAM_IMAGE& image) {
    const u16 m = image.word(LOADED_MODE);
    return m < 17 ? (m & 0xFF) : 0;
}

int ZrvRamPara::user_mode_recall_locked(int m) {
    if (m < 1 || m > ZRV_USER_MODE_COUNT || !ZrvUserModeSaved(m - 1)) return 0;
    std::memcpy(&live_image.data[MODE_BEGIN], user_mode[m - 1].snapshot, MODE_LEN);
    countBrightnessWrite();
    live_image.setWord(LOADED_MODE, u16(m));
    ++m_modeMarks;
    // A save asked before stays: it keeps the settings it was asked with,
    // not the ones recalled over them.
    return 1;
}

int ZrvRamPara::ZrvRecallUserMode(int m) {
    c331_manage* mgr = c331_manage::get();
    QMutexLocker lock(&mgr->mutex);
    if (!user_mode_recall_locked(m)) return 0;
    mgr->raise_apply(1);
    return 1;
}

void ZrvRamPara::factoryWordsWritten() {
    // The user modes themselves stay, and so do the saves asked before.
    ++m_modeMarks;
    live_image.setWord(SAVE_REQUEST, latestSaveRequest());
}

int ZrvRamPara::ZrvRequestUserModeSave(int m) {
    if (m < 1 || m > ZRV_USER_MODE_COUNT) return 0;
    c331_manage* mgr = c331_manage::get();
    QMutexLocker lock(&mgr->mutex);
    // Asked again, it is a new request with the settings as they are now.
    enterSaveRequest(m);
    mgr->raise_apply(1);
    return 1;
}

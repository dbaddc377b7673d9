#pragma once
// The parameter model: the one store of the device's parameters.
//
// Every subsystem reads and writes the same 4096-byte image of little-endian
// 16-bit words. Writers follow the change protocol: lock the c331 manager's
// mutex, edit the live image (never the shadow), raise the manager's apply
// flag (1 parameters, 2 user-mode slots written by the protocol), unlock.
// The c331 thread applies the change and calls test_signal(flag); the GUI
// thread's refresh dispatcher refreshes the page in front and then calls
// ram_para_persist(code), which carries out user-mode saves, writes the image
// file when something changed and brings the shadow up to date. A thread
// that reads the image or the slots beside the writers holds the same mutex
// or reads a copy taken under it (ImageView, core/image_view.h).
#include "core/global.h"
#include "core/latest_file_writer.h"
#include "core/line_limiter.h"

#include <QMutex>
#include <QObject>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

// Byte offsets of the fields of PARA_RAM_IMAGE (u16 words unless noted).
namespace RamOffset {
constexpr u32 IMAGE_SIZE = 4096;

// Run-time status, never stored.
constexpr u32 SIGNAL_BASE = 256;   // SIGNAL_PARA of input i at 256 + 6 i
constexpr u32 SIGNAL_SIZE = 6;
constexpr u32 SIGNAL_END = 292;    // first byte after the six records

// Persistent part: bytes 768 to 4095.
constexpr u32 PERSIST_BEGIN = 768;
constexpr u32 PERSIST_LEN = 3328;
constexpr u32 LANGUAGE = 768;      // low byte = g_language
constexpr u32 RESERVED_770 = 770;  // default 100, stored unchanged
constexpr u32 KEY_LOCK = 772;
constexpr u32 WIFI_AP = 774;
constexpr u32 TEST_PATTERN = 864;  // u8, cleared at start
constexpr u32 LOADED_MODE = 866;   // user mode last loaded or saved, 0 none
constexpr u32 SAVE_REQUEST = 868;  // user-mode save request, 0 none

// What a user mode keeps: bytes 896 to 4095.
constexpr u32 MODE_BEGIN = 896;
constexpr u32 MODE_LEN = 3200;

constexpr u32 EDID_BASE = 896;     // input i at 896 + 6 i: width, height, refresh
constexpr u32 EDID_SIZE = 6;

constexpr u32 SPLICE_MODE = 1376;
constexpr u32 WALL_WIDTH = 1378;
constexpr u32 WALL_HEIGHT = 1380;
constexpr u32 OUT_LAYOUT = 1382;   // seven words, 1382 to 1395
constexpr u32 OUT_LAYOUT_WORDS = 7;
constexpr u32 OUT1_WIDTH = 1412;
constexpr u32 OUT1_HEIGHT = 1414;
constexpr u32 OUT2_X = 1416;
constexpr u32 OUT2_Y = 1418;
constexpr u32 OUT2_WIDTH = 1420;
constexpr u32 OUT2_HEIGHT = 1422;

constexpr u32 CROP_BASE = 1472;    // CROP_RECORD r at 1472 + 10 r
constexpr u32 CROP_SIZE = 10;
constexpr u32 CROP_COUNT = 40;
constexpr u32 CROP_PATTERN_END = 2112;  // default crop pattern runs to here

constexpr u32 AUDIO_WINDOW = 2112;
constexpr u32 DOT_BY_DOT = 2114;
constexpr u32 BLACKOUT = 2116;
constexpr u32 SWITCH_EFFECT = 2118;
constexpr u32 OSD_ON = 2124;

constexpr u32 BRIGHTNESS = 2176;
constexpr u32 CONTRAST = 2178;
constexpr u32 SHARPNESS = 2180;
constexpr u32 SATURATION = 2182;
constexpr u32 COLOR_TEMP = 2184;
constexpr u32 RED_GAIN = 2186;
constexpr u32 GREEN_GAIN = 2188;
constexpr u32 BLUE_GAIN = 2190;

constexpr u32 PRIORITY_BASE = 2208;  // sixteen words; 2208 + 2 w for window w
constexpr u32 PRIORITY_COUNT = 16;
constexpr u32 RESERVED_2270 = 2270;  // default 1, stored unchanged

constexpr u32 WIN_BASE = 2272;     // WIN_RECORD w at 2272 + 26 w
constexpr u32 WIN_SIZE = 26;
constexpr u32 WIN_COUNT = 6;       // windows in use
constexpr u32 WIN_SLOTS = 16;      // records with room reserved

constexpr u32 FADE_BASE = 2816;    // fade-in 2816 + 4 s, fade-out 2818 + 4 s
constexpr u32 FADE_WORDS = 32;

// Field offsets inside one WIN_RECORD.
constexpr u32 WIN_ENABLE = 0;
constexpr u32 WIN_ATTR = 4;
constexpr u32 WIN_SOURCE = 8;
constexpr u32 WIN_X = 10;
constexpr u32 WIN_Y = 12;
constexpr u32 WIN_WIDTH = 14;
constexpr u32 WIN_HEIGHT = 16;
constexpr u32 WIN_OUTPUT = 18;
constexpr u32 WIN_AUDIO = 20;
constexpr u32 WIN_DBD_MODE = 22;

// Field offsets inside one CROP_RECORD.
constexpr u32 CROP_ID = 0;
constexpr u32 CROP_X = 2;
constexpr u32 CROP_Y = 4;
constexpr u32 CROP_W = 6;
constexpr u32 CROP_H = 8;

constexpr u32 win(u32 w) { return WIN_BASE + WIN_SIZE * w; }
constexpr u32 crop(u32 r) { return CROP_BASE + CROP_SIZE * r; }
constexpr u32 edid(u32 input) { return EDID_BASE + EDID_SIZE * input; }
constexpr u32 signal(u32 input) { return SIGNAL_BASE + SIGNAL_SIZE * input; }
constexpr u32 priority(u32 w) { return PRIORITY_BASE + 2 * w; }
constexpr u32 fadeIn(u32 s) { return FADE_BASE + 4 * s; }
constexpr u32 fadeOut(u32 s) { return FADE_BASE + 4 * s + 2; }
}  // namespace RamOffset

// Layout of "/data/ram_device_info" and of the built-in default file.
namespace RamFile {
constexpr u32 FILE_SIZE = 4096;
constexpr u8 MARKER = 0xAA;        // bytes 0 and 1
constexpr u32 DATA_OFFSET = 2;     // image bytes 768 to 4095 start here
constexpr u32 DATA_END = DATA_OFFSET + RamOffset::PERSIST_LEN;  // 3330; zeros follow
// Brightness changes (ZrvRamPara) in the zeros after the image: 'B' 'C' and
// the last change counted (u32), then 'B' 'G' and the change the brightness
// word holds (u32). Older files hold zeros there: nothing counted.
constexpr u32 BRI_COUNT_OFFSET = 4084;
constexpr u8 BRI_COUNT_MARK[2] = {'B', 'C'};
constexpr u32 BRI_GEN_OFFSET = 4090;
constexpr u8 BRI_GEN_MARK[2] = {'B', 'G'};
}  // namespace RamFile

// Counts of brightness changes: 1 to kCycle, then 1 again; 0 is none, and
// 0xFFFFFF, what an erased flash reads, is never one. The brightness record
// keeps them in 24 bits.
namespace BriChange {
constexpr u32 kCycle = 0xFFFFFE;
constexpr u32 next(u32 c) { return c % kCycle + 1; }
// Change a was counted after change b (b none: any change is later), the
// nearer way round the cycle.
constexpr bool later(u32 a, u32 b) {
    if (a == 0 || a > kCycle) return false;
    if (b == 0 || b > kCycle) return true;
    const u32 d = (a + kCycle - b) % kCycle;
    return d != 0 && d < kCycle / 2;
}
}  // namespace BriChange

constexpr int ZRV_INPUT_COUNT = 6;      // 0 EXT, 1 DVI, 2 HDMI1, 3 HDMI2, 4 HDMI3, 5 HDMI4
constexpr int ZRV_USER_MODE_COUNT = 16;
constexpr u8 USER_MODE_SAVED = 0xAA;
constexpr u8 USER_MODE_EMPTY = 0xFF;
// A slot whose file is there but could not be read or kept aside: neither
// saved nor empty, so no recall takes it and no pass removes its file.
constexpr u8 USER_MODE_UNREAD = 0x00;

#pragma pack(push, 1)
// Signal summary of an input, written by the receiver drivers under the
// model's mutex.
struct SIGNAL_PARA {
    u16 width;
    u16 height;
    u8 rate;
    u8 reserved;
};

// One of the six windows.
struct WIN_RECORD {
    u16 enable;      // non-zero: shown
    u16 reserved0;
    u16 attr;        // bits 0-1 used
    u16 reserved1;
    u16 source;      // input 0-5, or 0x8000 | crop record index
    u16 x;
    u16 y;
    u16 width;
    u16 height;
    u16 output;      // bit 0 black, 1 freeze, 2 fade on source change, 8 dot-by-dot
    u16 audio;       // bit 15: this window gives the sound
    u16 dbd_mode;    // dot-by-dot mode 0 to 9
    u16 reserved2;
};

// One of the forty crops. Id word: bit 15 valid, bits 14-8 crop number - 1,
// bits 7-0 input.
struct CROP_RECORD {
    u16 id;
    u16 x;
    u16 y;
    u16 width;
    u16 height;
};
#pragma pack(pop)

static_assert(sizeof(SIGNAL_PARA) == RamOffset::SIGNAL_SIZE, "SIGNAL_PARA layout");
static_assert(sizeof(WIN_RECORD) == RamOffset::WIN_SIZE, "WIN_RECORD layout");
static_assert(sizeof(CROP_RECORD) == RamOffset::CROP_SIZE, "CROP_RECORD layout");

// A crop as the pages and the model pass it.
struct CROP_PARA {
    int id;
    int x;
    int y;
    int w;
    int h;
};

// The 4096-byte parameter image. The helpers read and write little-endian
// words whatever the host, and copy records in and out whole; an offset
// outside the image reads 0 and writes nothing.
struct PARA_RAM_IMAGE {
    u8 data[RamOffset::IMAGE_SIZE];

    u8 byte(u32 off) const { return off < RamOffset::IMAGE_SIZE ? data[off] : 0; }
    void setByte(u32 off, u8 v) {
        if (off < RamOffset::IMAGE_SIZE) data[off] = v;
    }
    u16 word(u32 off) const {
        return off + 1 < RamOffset::IMAGE_SIZE ? u16(data[off] | (data[off + 1] << 8)) : 0;
    }
    int16_t sword(u32 off) const { return int16_t(word(off)); }
    void setWord(u32 off, u16 v) {
        if (off + 1 >= RamOffset::IMAGE_SIZE) return;
        data[off] = u8(v);
        data[off + 1] = u8(v >> 8);
    }

    // Records (the host is little-endian, like the image). Out-of-range
    // indices give a zero record and writes are ignored.
    WIN_RECORD win(int w) const;
    void setWin(int w, const WIN_RECORD& rec);
    CROP_RECORD crop(int r) const;
    void setCrop(int r, const CROP_RECORD& rec);
    SIGNAL_PARA signal(int input) const;
    void setSignal(int input, const SIGNAL_PARA& rec);
};
static_assert(sizeof(PARA_RAM_IMAGE) == RamOffset::IMAGE_SIZE, "PARA_RAM_IMAGE layout");

// A user-mode slot: markers (0xAA 0xAA saved, 0xFF 0xFF empty) and a snapshot
// whose byte k is image byte 896 + k.
struct USER_MODE_SLOT {
    u8 marker[2];
    u8 snapshot[4096];
};
static_assert(sizeof(USER_MODE_SLOT) == 4098, "USER_MODE_SLOT layout");
constexpr u32 USER_MODE_FILE_SIZE = 4096;  // markers and snapshot bytes 0 to 4093

// Protocol registers and chip-status bytes, REG 0 to REG 1060.
struct PARA_REG_BLOCK {
    u8 REG[1061];
};
static_assert(sizeof(PARA_REG_BLOCK) == 1061, "PARA_REG_BLOCK layout");

// The factory image as stored in "/data/ram_device_info": markers, image
// bytes 768 to 4095 with their defaults, zeros.
extern const std::array<u8, RamFile::FILE_SIZE> default_para_ramlist;

// One bit per (input, crop number): bit (n - 1) + 40 * input, least
// significant bit of the lowest byte first. Rebuilt by ZrvCropSourceInit.
extern u8 g_cut_source_state[30];

// Device paths of the model's files.
namespace ZrvFiles {
constexpr const char* RAM_DEVICE_INFO = "/data/ram_device_info";
constexpr const char* MODES_DIR = "/data/modes";
constexpr const char* OMENU = "/data/configs/omenu.json";
std::string customModePath(int slot);  // "/data/modes/custom_mode" + (slot + 1)
std::string modeOsdPath(int slot);     // "/data/modes/MO" + %02x of slot + 1 + ".json"
}  // namespace ZrvFiles

class ZrvRamPara : public QObject {
    Q_OBJECT
public:
    // The singleton; the first call creates it and loads the image, the
    // shadow, the user-mode slots and the register block. Never destroyed.
    // Its image file is written in the background (below).
    static ZrvRamPara* pInstance();
    static ZrvRamPara* p_zrvrampara_config;

    // Tests build their own object, call load() and may point
    // p_zrvrampara_config at it.
    explicit ZrvRamPara(QObject* parent = nullptr);
    void load();

    // The model's own mutex: guards the SIGNAL_PARA records only. It is
    // taken last: a reader of the whole image may hold the c331 manager's
    // mutex when it takes this one.
    QMutex mutex;

    PARA_RAM_IMAGE live_image;                       // what every writer edits
    PARA_RAM_IMAGE shadow_image;                     // the image as last persisted
    USER_MODE_SLOT user_mode[ZRV_USER_MODE_COUNT];   // slot 0 = user mode 1
    PARA_REG_BLOCK reg_block;

    PARA_RAM_IMAGE& live() { return live_image; }

    // Who changed the brightness, counted where the change enters and never
    // told from values. A user's write of word 2176 (the panel's setter, a
    // protocol RAM write covering the word, a user-mode recall, a factory
    // reset) and the PC's store or erase of the brightness record (command
    // block) each count a change; the FPGA manager's own level written into
    // the word counts none. The image file keeps both counts below, the
    // brightness record the change it holds: after a stop or a power cut the
    // later of word and record comes back. Both under the c331 manager's
    // mutex.
    u32 bri_last_change = 0;  // the last change counted
    u32 bri_word_change = 0;  // the change the word holds; 0 the device's own level
    // A user's write of the word entered: a new change, held by the word;
    // returns it. Caller holds the c331 manager's mutex.
    u32 countBrightnessWrite();
    // The PC stored or erased the brightness record: a new change, held by
    // the record alone; returns it. Caller holds the c331 manager's mutex.
    u32 countBrightnessRecord();
    // The FPGA manager writes its own level into the word: no change, and
    // the word holds none from now on. Caller holds the c331 manager's mutex.
    void setOwnBrightness(u16 word);
    // A brightness record of change c was read: changes counted from now on
    // are later than it. Caller holds the c331 manager's mutex.
    void noteBrightnessRecord(u32 c);
    // Copies len bytes of the live image from offset under the model's
    // mutex, so signal summaries written meanwhile are never torn. Callers
    // that need a writer's edit whole hold the c331 manager's mutex too.
    void copy_live(void* dst, u32 offset, u32 len);
    PARA_RAM_IMAGE& shadow() { return shadow_image; }

    // Emits sig_update_para(code); returns 1. The refresh dispatcher is
    // connected queued, so this never runs the persisting step inline.
    int test_signal(int code);
    // test_signal(1): refresh and persist without chip work.
    int ram_para_save();
    // Rewrites the image file from the defaults and brings the defaults into
    // the live image with the apply flag raised, so the chip follows; the
    // shadow keeps the old values until the persisting step, so the pages
    // see every field that changed. 0 done, 255 the file could not be written
    // (the live image still gets the defaults). Call without holding the
    // c331 manager's mutex.
    int ram_para_reset();

    // The GUI-side persisting step after a change signal with reason code:
    // pending user-mode save, protocol-written slots (code 2), then the image
    // file when bytes 768 to 4095 differ from the shadow, and shadow := the
    // persisted image. Returns 1 when the image file was written (or handed
    // to the background writer), 0 when nothing changed, 255 when writing
    // failed. failedSave, when given, gets the mode (1 to 16) of a save
    // request whose file could not be written, else 0; a slot the PC wrote
    // whose file could not be written is loaded again from its file, so it
    // reads as what is stored.
    int ram_para_persist(int code, int* failedSave = nullptr);
    // The live image with the brightness changes it holds, taken whole under
    // the c331 manager's mutex.
    struct Snapshot {
        PARA_RAM_IMAGE image;
        u32 lastChange;
        u32 wordChange;
    };
    Snapshot snapshot();
    // The same step storing `looked`, with this step's own edits of the save
    // words, instead of the image as it is after steps 1 and 2. The refresh
    // dispatcher takes it before the page in front looks at the image: the
    // shadow then never holds a change that landed after the page looked,
    // so the next refresh still sees it. Later changes bring their own signal.
    int ram_para_persist(int code, const Snapshot& looked, int* failedSave = nullptr);
    // From now on the image file is written by a thread of its own: the
    // persisting step hands it the newest image and returns, so the GUI
    // thread never waits for the disk; a failed write is retried there.
    // The singleton has it; other objects write the file in place.
    void writeImageFileInBackground();
    // Waits until the newest image handed over is on disk (true), or its
    // write failed or did not end within the writer's bound (false; it is
    // tried again). True without the writer.
    bool drainImageFile();

    // Protocol parameter-RAM write into the live image: 0 done, 1 refused
    // (nothing written). A write that covers a byte of the brightness word
    // counts a change of it, whatever the bytes; one that covers word 868
    // with a mode number 1 to 16 asks for that mode's save, whatever the
    // word held (any other number asks for none, and the word goes on
    // showing the save still pending). Takes no lock: the caller holds the
    // c331 manager's mutex and raises the apply flag.
    int ZrvRamParaDeal(const u8* data, u16 len, u32 offset);
    // What the PC's image writes changed since its last apply (register 161
    // bit 1) took them: the user mode it chose in word 866 (when the word
    // still holds it: a recall or save since marked another), the wall's
    // size or splice mode. Counted where the writes enter, as the shadow
    // cannot tell it: the persisting step that each write brings stores it
    // before the apply comes. Caller holds the c331 manager's mutex.
    struct PcChanges {
        bool modeChosen = false;
        bool wall = false;
    };
    PcChanges takePcChanges();
    // Protocol write into user-mode slot s - 1 (addr bits 19-12 = s, 1 to 16;
    // bits 11-0 = byte in the slot, markers included): 0 done, 1 refused
    // (nothing written). Takes no lock, like ZrvRamParaDeal: the caller holds
    // the c331 manager's mutex, under which the write into the slot is
    // counted and drops a save of the mode asked before it.
    int ZrvModeUserRamParaDeal(const u8* data, u16 len, u32 addr);

    // A window's source from an image (layout 0) or a user-mode snapshot
    // (layout 1): the input; for a crop source *is_crop gets 1 and
    // *crop_index the record. 255 for a window or crop out of range.
    static int ZrvGetImageSource(const u8* image, u8 window, short* is_crop, char* crop_index, u8 layout);
    // The reads below that look at the live image copy what they need under
    // the c331 manager's mutex, the lock its writers hold: call them without
    // it. A reader that holds a copy of the image (ImageView) reads that copy
    // with the static forms, which take no lock.
    int ZrvGetSourceNum(int input, int count);
    static int cropsOf(const PARA_RAM_IMAGE& image, int input, int count);
    // Rebuilds g_cut_source_state, which only the GUI thread uses.
    void ZrvCropSourceInit();
    static int ZrvGetCropID(int input, int n);
    int ZrvAddCropID(int input);
    void ZrvGetCropPara(int input, int n, CROP_PARA* para, int* index);
    // ZrvGetCropPara on an image: the record index (CROP_COUNT when none;
    // para then stays as it was).
    static int cropParaOf(const PARA_RAM_IMAGE& image, int input, int n, CROP_PARA* para);
    void ZrvSetCropPara(char input, char n, const CROP_PARA* para);
    void ZrvAddNewCrop(int input, const CROP_PARA* para);
    // Frees the record of the input's n-th crop; windows showing it get the
    // input itself in the same locked edit.
    void ZrvDeleteCrop(char input, char n);
    void ZrvSetImageSource(int sel, char input, char window);
    void ZrvSetEDIDPara(int input, short width, short height, short refresh);
    // Writes an input's signal summary under the model's mutex (receiver
    // drivers); returns 0, or 255 for an input out of range.
    int ZrvSetSignalPara(int input, u16 width, u16 height, u8 rate);
    // The same together with three raw bytes at image offset rawOffset (the
    // IT6805 receivers keep the low bytes of their measurement there), all
    // under the one lock so a reader never sees the two halves disagree.
    int ZrvSetSignalPara(int input, u16 width, u16 height, u8 rate, u32 rawOffset, const u8 raw[3]);
    int ZrvLanguageChanged();
    // Caller holds the c331 manager's mutex (the link threads write the
    // slots and word 866 under it); other readers use an ImageView.
    int ZrvUserModeSaved(int n);
    int ZrvGetCurrentModeIndex();
    static int currentModeOf(const PARA_RAM_IMAGE& image);
    // An input's signal summary, under the model's own mutex (which every
    // writer of the summaries holds): no wait for the c331 thread's passes.
    SIGNAL_PARA ZrvGetSignalPara(int input);

    // Recall of user mode m (1 to 16) into the live image under the c331
    // manager's mutex with the apply flag raised; 1 done, 0 empty or out of
    // range. Saves not carried out yet stay: they keep the settings they
    // were asked with.
    int ZrvRecallUserMode(int m);
    // The same for a caller that already holds the c331 manager's mutex; it
    // raises the apply flag itself.
    int user_mode_recall_locked(int m);
    // A writer put the factory values over the persistent words (a factory
    // reset), holding the c331 manager's mutex: no mode is current any more,
    // which is counted, and word 868 goes on showing the saves still pending,
    // which keep the settings they were asked with.
    void factoryWordsWritten();
    // Panel save request of user mode m (1 to 16) with the settings as they
    // are now: word 868 := m and apply flag 1, carried out by the persisting
    // step; 1 requested, 0 refused.
    int ZrvRequestUserModeSave(int m);

    // The file routines below must be called without holding the c331
    // manager's mutex: they take it briefly themselves.
    // Writes slot n (0 to 15) to its file. kind 0 panel save (copies the OSD
    // menu file when the OSD is on), 1 snapshot the live image first, 2 slot
    // written by the protocol. 1 written, 0 refused or failed.
    int mode_file_write(int n, int kind);
    // op 1 deletes slot n's files first (and drops a save of the mode asked
    // before); then loads slot n from its file.
    // 1 loaded, 0 missing or refused (the slot then reads empty; a refused
    // file is kept aside) or unreadable (the slot reads USER_MODE_UNREAD).
    // removed, when given, tells whether the mode's file is gone after op
    // 1 (one that could not be removed is loaded again and logged).
    int mode_file_deal(int n, int op, bool* removed = nullptr);
    // Test seam: called in the persisting step's thread where a PC's write
    // into slot n meets the step: after the slot's file was written, before
    // the slot is marked saved (Written), after the slot's files were
    // removed, before the slot is loaded again (Removed), and after the
    // protocol's slot pass took the slot as it stores it (Looked).
    enum class SlotStep { Written, Removed, Looked };
    std::function<void(SlotStep, int n)> on_slot_step;

signals:
    void sig_update_para(int code);

private:
    // Whole-file write of the image file from image bytes 768 to 4095
    // (takes Utils::_file_deal_mutex), or its hand-over to the writer.
    bool writeRamFile(const u8* persist, u32 lastChange, u32 wordChange);
    // The brightness counts the image file holds (last change, word's change).
    u32 m_briWritten[2] = {0, 0};
    // The same with the default file.
    bool writeDefaultFile();
    std::unique_ptr<LatestFileWriter> m_imageWriter;
    // The image file is there but this start could not use it (a read
    // failed, or a refused file could not be kept aside): it may hold the
    // stored parameters, so no change of this run is written over it. A
    // reset to the defaults, which replaces it on purpose, clears it.
    std::atomic<bool> m_imageFileHeld{false};
    int persist(int code, Snapshot* looked, int* failedSave);
    // The crop records of the live image (the rest zero), copied under the
    // c331 manager's mutex.
    PARA_RAM_IMAGE liveCrops();
    // Writes into each slot from outside the persisting step (the PC's),
    // counted where they enter, under the c331 manager's mutex. A step that
    // works on a slot notes the count first and never puts an older state
    // over the slot when it moved: what the PC wrote is newer, its own
    // flag-2 pass stores it. A value compared instead would miss a write
    // that brought the same bytes back.
    u32 m_slotWrites[ZRV_USER_MODE_COUNT] = {};
    // Writes slot n's file from `next` (marked saved) and, only when that
    // succeeded and no write entered the slot since the count `writes`
    // (taken with the slot `next` was made from), makes it the slot. A
    // write that entered before the file is begun leaves the file alone.
    enum class SlotWrite { Failed, Written, Superseded };
    SlotWrite writeSlot(int n, u32 writes, USER_MODE_SLOT next, bool copyOsd);
    // A change entered slot n from outside the persisting step (a PC's
    // write, the panel's Delete): counted, and a save of the mode asked
    // before it is dropped, as the change is the later word. Caller holds
    // the c331 manager's mutex.
    void slotChanged(int n);
    // Save requests, counted where they enter (the panel's Save, a PC's
    // write of word 868) and held per mode with the settings of that moment:
    // a later recall, reset or save of another mode neither drops one nor
    // gives it other settings. Word 868 shows the mode of the latest one
    // not carried out yet, 0 when none is. Under the c331 manager's mutex.
    struct SaveRequest {
        u32 request = 0;     // its count; 0 none
        u32 slotWrites = 0;  // the slot's writes counted when it was asked
        u32 modeMarks = 0;   // word 866's writes counted then
        u8 settings[RamOffset::MODE_LEN];
    };
    SaveRequest m_saves[ZRV_USER_MODE_COUNT];
    u32 m_saveRequests = 0;
    // Writes of word 866 by anyone but the persisting step (a recall, a
    // source chosen, a reset, a PC's write): a save asked before one marks
    // its mode current no more.
    u32 m_modeMarks = 0;
    // What takePcChanges gives next: the mode the PC last wrote into word
    // 866 (0: none since the last apply), whether it changed the wall.
    u16 m_pcMode = 0;
    bool m_pcWall = false;
    // Caller holds the c331 manager's mutex.
    void enterSaveRequest(int m);
    u16 latestSaveRequest() const;
    // mode_file_deal for a slot whose writes were counted `writes`: the
    // files of the mode it held then are removed, and the slot is loaded
    // again only when no write entered since.
    int dealSlot(int n, int op, u32 writes, bool* removed);
    // A user-mode file that could not be written or removed. The PC can
    // cause these as often as it writes slots: limited like every line a
    // peer can cause.
    void modeFileFault(const std::string& line, LogPlace at = {});
    LineLimiter m_modeFileFaults{LineLimiter::logCount(ERROR, "user mode files", "failures")};
};

#include "core/image_words.h"

#include "core/zrvrampara.h"

#include <cstring>
#include <sstream>

namespace ImageWords {

using namespace RamOffset;

namespace {
constexpr int kNoRange = 1, kNoRangeHi = 0;  // lo > hi

PARA_RAM_IMAGE defaultImage() {
    PARA_RAM_IMAGE image{};
    std::memcpy(&image.data[PERSIST_BEGIN], default_para_ramlist.data() + RamFile::DATA_OFFSET, PERSIST_LEN);
    return image;
}

std::string measured() { return "measured"; }

std::string cropDefaults() {
    const PARA_RAM_IMAGE image = defaultImage();
    std::string out;
    for (u32 r = 0; r < CROP_COUNT; ++r) {
        const CROP_RECORD c = image.crop(int(r));
        const std::string rec = std::to_string(c.id) + ", " + std::to_string(c.x) + ", " + std::to_string(c.y) +
                                ", " + std::to_string(c.width) + ", " + std::to_string(c.height);
        if (r == 0)
            out = rec;
        else if (rec != out)
            return "as the default image holds them";
    }
    return "every record " + out;
}

std::string windowDefaults() {
    const PARA_RAM_IMAGE image = defaultImage();
    std::string out;
    for (u32 w = 0; w < WIN_COUNT; ++w) {
        const WIN_RECORD r = image.win(int(w));
        out += (w ? "; window " : "window ") + std::to_string(w) + (r.enable ? " shown" : " hidden") + ", source " +
               std::to_string(r.source) + ", " + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " +
               std::to_string(r.width) + " x " + std::to_string(r.height);
    }
    return out;
}
}  // namespace

const std::vector<ImageField>& fields() {
    static const std::vector<ImageField> table = {
        {signal(0), SIGNAL_SIZE * ZRV_INPUT_COUNT, 2,
         "signal of input i at 256 + 6 i: width, height, then the frame rate in the low byte; 0 0 0: no signal "
         "(inputs 0 EXT, 1 DVI, 2 HDMI1, 3 HDMI2, 4 HDMI3, 5 HDMI4)",
         kNoRange, kNoRangeHi, measured},
        {LANGUAGE, 2, 2, "front-panel language: 0 simplified Chinese, 1 English, 2 Russian, 3 Vietnamese, "
                         "4 traditional Chinese (other values show English)", 0, 4, nullptr},
        {RESERVED_770, 2, 2, "reserved, kept as written", kNoRange, kNoRangeHi, nullptr},
        {KEY_LOCK, 2, 2, "front-panel key lock: 1 locked", 0, 1, nullptr},
        {WIFI_AP, 1, 1, "Wi-Fi access point: 0 running, 1 stopped", 0, 1, nullptr},
        {TEST_PATTERN, 1, 1, "test pattern shown: 0 none, 1 to 8 the pattern; cleared at start", 0, 8, nullptr},
        {LOADED_MODE, 2, 2, "user mode last loaded or saved, 0 none; writing it and register 161 bit 1 "
                            "recalls that mode", 0, 16, nullptr},
        {SAVE_REQUEST, 2, 2, "user-mode save request: writing m (1 to 16) saves the settings as they are then "
                             "as user mode m, whatever is recalled before it is carried out; reads the mode of "
                             "the latest save not carried out yet, 0 when none", 0, 16, nullptr},
        {edid(0), EDID_SIZE * ZRV_INPUT_COUNT, 2,
         "custom EDID timing of input i at 896 + 6 i: width, height, refresh rate in Hz", 0, 65535, nullptr},
        {SPLICE_MODE, 2, 2, "splice mode of the two outputs: 2 vertical, 3 horizontal, 4 copy", 2, 4, nullptr},
        {WALL_WIDTH, 2, 2, "LED wall width in pixels", 0, 65535, nullptr},
        {WALL_HEIGHT, 2, 2, "LED wall height in pixels", 0, 65535, nullptr},
        {OUT_LAYOUT, 2 * OUT_LAYOUT_WORDS, 2, "output-channel layout, written by the device", 0, 65535, nullptr},
        {OUT1_WIDTH, 2, 2, "OUT1 width", 0, 65535, nullptr},
        {OUT1_HEIGHT, 2, 2, "OUT1 height", 0, 65535, nullptr},
        {OUT2_X, 2, 2, "OUT2 x within the wall", 0, 65535, nullptr},
        {OUT2_Y, 2, 2, "OUT2 y within the wall", 0, 65535, nullptr},
        {OUT2_WIDTH, 2, 2, "OUT2 width", 0, 65535, nullptr},
        {OUT2_HEIGHT, 2, 2, "OUT2 height", 0, 65535, nullptr},
        {crop(0), CROP_SIZE * CROP_COUNT, 2, "crop table: 40 crop records of 10 bytes (below)", kNoRange,
         kNoRangeHi, cropDefaults},
        {AUDIO_WINDOW, 2, 2, "window whose source gives the sound", 0, 5, nullptr},
        {DOT_BY_DOT, 2, 2, "dot-by-dot (point-to-point) mode: 1 on", 0, 1, nullptr},
        {BLACKOUT, 2, 2, "blackout: 1 outputs black", 0, 1, nullptr},
        {SWITCH_EFFECT, 2, 2, "window switching effect: 0 seamless, 1 fade", 0, 1, nullptr},
        {OSD_ON, 2, 2, "OSD menu on: 1 on (user-mode saves keep a copy of the OSD menu file)", 0, 1, nullptr},
        {BRIGHTNESS, 2, 2, "brightness", 0, 100, nullptr},
        {CONTRAST, 2, 2, "contrast", 0, 100, nullptr},
        {SHARPNESS, 2, 2, "sharpness", 0, 10, nullptr},
        {SATURATION, 2, 2, "saturation", 0, 100, nullptr},
        {COLOR_TEMP, 2, 2, "colour-temperature preset (index of the image-quality page's list)", kNoRange,
         kNoRangeHi, nullptr},
        {RED_GAIN, 2, 2, "red gain", 0, 128, nullptr},
        {GREEN_GAIN, 2, 2, "green gain", 0, 128, nullptr},
        {BLUE_GAIN, 2, 2, "blue gain", 0, 128, nullptr},
        {PRIORITY_BASE, 2 * PRIORITY_COUNT, 2, "layer priority of window w at 2208 + 2 w (windows 0 to 5 used)",
         0, 15, nullptr},
        {RESERVED_2270, 2, 2, "reserved, kept as written", kNoRange, kNoRangeHi, nullptr},
        {win(0), WIN_SIZE * WIN_COUNT, 2, "windows 0 to 5: six window records of 26 bytes (below)", kNoRange,
         kNoRangeHi, windowDefaults},
        {FADE_BASE, 2 * FADE_WORDS, 2, "fade-in (2816 + 4 s) and fade-out (2818 + 4 s) step counts; set to 60 at "
                                       "start", 0, 255, nullptr},
    };
    return table;
}

const std::vector<ImageField>& windowFields() {
    static const std::vector<ImageField> table = {
        {WIN_ENABLE, 2, 2, "shown when not 0", 0, 1, nullptr},
        {WIN_ATTR, 2, 2, "attributes (bits 0 and 1)", 0, 3, nullptr},
        {WIN_SOURCE, 2, 2, "source: input 0 to 5, or 0x8000 plus the index 0 to 39 of a crop record",
         kNoRange, kNoRangeHi, nullptr},
        {WIN_X, 2, 2, "x on the wall", 0, 65535, nullptr},
        {WIN_Y, 2, 2, "y on the wall", 0, 65535, nullptr},
        {WIN_WIDTH, 2, 2, "width", 0, 65535, nullptr},
        {WIN_HEIGHT, 2, 2, "height", 0, 65535, nullptr},
        {WIN_OUTPUT, 2, 2, "bit 0 black, bit 1 freeze, bit 2 fade on a source change, bit 8 dot-by-dot on",
         kNoRange, kNoRangeHi, nullptr},
        {WIN_AUDIO, 2, 2, "bit 15: this window gives the sound", kNoRange, kNoRangeHi, nullptr},
        {WIN_DBD_MODE, 2, 2, "dot-by-dot mode", 0, 9, nullptr},
    };
    return table;
}

const std::vector<ImageField>& cropFields() {
    static const std::vector<ImageField> table = {
        {CROP_ID, 2, 2, "bit 15 in use; bits 14-8 crop number - 1 (numbers 1 to 40 per input); bits 7-0 input",
         kNoRange, kNoRangeHi, nullptr},
        {CROP_X, 2, 2, "x in the input picture", 0, 65535, nullptr},
        {CROP_Y, 2, 2, "y in the input picture", 0, 65535, nullptr},
        {CROP_W, 2, 2, "width", 0, 65535, nullptr},
        {CROP_H, 2, 2, "height", 0, 65535, nullptr},
    };
    return table;
}

std::vector<int> defaults(const ImageField& f) {
    std::vector<int> out;
    if (f.offset < PERSIST_BEGIN) return out;
    const PARA_RAM_IMAGE image = defaultImage();
    for (u32 at = f.offset; at < f.offset + f.bytes; at += f.wordBytes)
        out.push_back(f.wordBytes == 1 ? image.byte(at) : image.word(at));
    return out;
}

namespace {

std::string offsetText(const ImageField& f) {
    if (f.bytes <= f.wordBytes) return std::to_string(f.offset);
    return std::to_string(f.offset) + "-" + std::to_string(f.offset + f.bytes - 1);
}

std::string rangeText(const ImageField& f) {
    if (f.lo > f.hi) return "-";
    return std::to_string(f.lo) + " to " + std::to_string(f.hi);
}

std::string defaultText(const ImageField& f) {
    if (f.describeDefault) return f.describeDefault();
    std::string s;
    for (int v : defaults(f)) s += (s.empty() ? "" : ", ") + std::to_string(v);
    return s;
}

void table(std::ostringstream& out, const std::vector<ImageField>& rows, bool withDefault) {
    out << (withDefault ? "| offset | size | meaning | range | default |\n|---|---|---|---|---|\n"
                        : "| offset | meaning | range |\n|---|---|---|\n");
    for (const ImageField& f : rows) {
        if (withDefault)
            out << "| " << offsetText(f) << " | " << f.bytes << " | " << f.meaning << " | " << rangeText(f)
                << " | " << defaultText(f) << " |\n";
        else
            out << "| +" << f.offset << " | " << f.meaning << " | " << rangeText(f) << " |\n";
    }
}

}  // namespace

std::string markdown() {
    std::ostringstream out;
    out << "# The parameter image\n\n"
           "The 4096-byte parameter image that the PC software reads and writes with\n"
           "RAM commands 0x61 and 0x60 at addresses 0x000 to 0xFFF (`zrvctl word-read`,\n"
           "`zrvctl word-write`). Words are 16 bits, little-endian, at even offsets;\n"
           "sizes are in bytes. Bytes 768 to 4095 are kept in \"/data/ram_device_info\"\n"
           "(image byte n at file offset n - 766; after the image, file offsets 4084 to\n"
           "4089 hold 'B', 'C' and the last brightness change counted, 4090 to 4095 'B',\n"
           "'G' and the change the brightness word holds, each a u32, see protocol.md,\n"
           "zeros in files of older versions); bytes below 768 are measured while the\n"
           "device runs and never stored. A user mode keeps bytes 896 to 4095. A write is\n"
           "applied at once, and one that covers a byte of word 2176 counts a change of\n"
           "the brightness even when it writes the value the word holds; writes of the\n"
           "user-mode words follow register 161 (see protocol.md). Bytes not listed are\n"
           "reserved and kept as written.\n\n"
           "Printed from the image layout by `zrv_parameters docs/parameters.md`; a test\n"
           "fails when this page and the program differ.\n\n";
    table(out, fields(), true);
    out << "\n## Window record (26 bytes, window w at 2272 + 26 w)\n\n";
    table(out, windowFields(), false);
    out << "\n## Crop record (10 bytes, record r at 1472 + 10 r)\n\n";
    table(out, cropFields(), false);
    return out.str();
}

}  // namespace ImageWords

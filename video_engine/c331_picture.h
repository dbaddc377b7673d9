#pragma once
// Picture adjustments and test patterns of the c331. After composition each
// output pipeline has an offset stage (brightness), two gain stages
// (contrast, saturation), a 3 x 3 colour matrix (colour temperature), a
// two-direction peaking filter (sharpness) whose coefficients follow the
// window's scaling, and a pattern generator. These operations turn the
// picture words of the parameter image into those registers.
//
// Runs in the c331 thread only (chip start-up and the apply pass).
#include "video_engine/c331_drv.h"
#include "video_engine/c331_pic_host.h"
#include "video_engine/c331_state.h"

class c331_picture {
public:
    // Highest sharpness word that means something (levels 1 to 10 are the
    // words 11 to 20); anything above is taken as 20.
    static constexpr int kMaxSharpness = 20;
    // Patterns the generator knows (1 to 20); higher numbers wrap around.
    static constexpr int kPatternCount = 20;

    // fd is read at every call (the manager opens the device after the
    // operations are made).
    c331_picture(c331_drv& drv, const int& fd, c331_state& st, c331_pic_host& host);

    void c331_SetBrightness(unsigned short value);
    void c331_SetContrast(int value);
    void c331_SetSaturation(int value);
    // value = preset (bits 0-7) | blue << 8 | green << 16 | red << 24;
    // preset 0 custom (gain bytes, 128 unity), 1 warm, 2 nature, 3 cool.
    void c331_SetColorTemp(int value);
    // 0 to 10 off, 11 to 20 levels 1 to 10; kept for the windows set up later.
    void c331_SetSharpness(int value);
    // The kept sharpness on the pipelines of layout slot s (nothing while
    // its port has no signal). Whenever a window is placed on pipelines or
    // its source appears, its pipelines take the sharpness again.
    void sharpen_slot(int s);
    // 0 off (always: clears the generator of every pipeline), 1 to 20 a
    // pattern drawn by window 0's pipelines. 0, or -1 (nothing written) for
    // a pattern with more than one window or a pattern below 0.
    int c331_SetPattern(int pattern);

    // Nonzero while a test pattern is shown (the input checks pause).
    int zrvApi_IsPatternGen() const { return m_st.pattern_gen; }

    // The register values, for the operations above and their checks.
    static u32 brightness_offset(int value);   // 12-bit two's complement
    static u32 contrast_gain(int value);
    static u32 saturation_gain(int value);
    // Diagonal gains (8192 = 1.0) of a colour value.
    static void color_gains(int value, u32* red, u32* green, u32* blue);
    static int sharpness_level(int value);     // 0 to 10
    // Peaking coefficients c0..c4 for a scaling ratio, per direction.
    static void sharpness_hset(double ratio, u8 out[5]);
    static void sharpness_vset(double ratio, u8 out[5]);

private:
    void set_gain_all_channels(u32 enableCode, const u32 (&codes)[3], u32 gain);
    void w(u32 code, u32 value, u32 base = 0) { m_drv.write_C331(m_fd, code, value, base); }
    void wm(u32 code, u32 value, u32 mask, u32 base = 0) { m_drv.write_c331_mask(m_fd, code, value, mask, base); }
    // Pipelines of layout slot s (its channel list, totalh x totalv
    // entries, empty entries and numbers past the last pipeline left out).
    int slot_pipes(int slot, int pipes[C331_CH_NUM]) const;

    c331_drv& m_drv;
    const int& m_fd;
    c331_state& m_st;
    c331_pic_host& m_host;
    int m_sharpness = 0;
};

#pragma once
// Panel and output timing of the c331. From the LED wall size, the size of
// output 1 and the splice mode, the panel set-up decides how the wall is cut
// between the two outputs, how many output channels (Vby-One transmitters)
// carry it and in which arrangement, picks horizontal and vertical totals
// the output clock can make, programs the output timing, hands the
// output-channel layout to the FPGA side through the parameter image and
// rebuilds the window layout.
//
// Runs in the c331 thread only (chip start-up and the apply pass).
#include "video_engine/c331_drv.h"
#include "video_engine/c331_pic_host.h"
#include "video_engine/c331_state.h"

#include <vector>

struct PARA_RAM_IMAGE;

// One entry of the output timing list: totals the output clock can make.
struct c331_timing_pair {
    u32 htt;
    u32 vtt;
};

class c331_timing {
public:
    // Splice modes (image word 1376, taken modulo 6).
    enum { SPLICE_NONE = 0, SPLICE_HV = 1, SPLICE_V = 2, SPLICE_H = 3, SPLICE_CP12 = 4, SPLICE_CP21 = 5 };
    // Arrangements of the output channels.
    enum { ARRANG2K4_2x1 = 5, ARRANG2K4_4x1_8K = 6, ARRANG2K4_2x2_8K = 7, ARRANG2K4_1x2 = 8 };
    // Pixels per output above which one channel per output is not enough.
    static constexpr u64 kOneChannelLimit = 19600000;
    // Pixels per frame one output channel can carry (about 594 MHz at 60 Hz).
    static constexpr u64 kChannelPixels = 9900000;
    // Largest LED wall side the outputs can carry (the output page's limit).
    static constexpr int kMaxWall = 16376;

    // fd is read at every call (the manager opens the device after the
    // operations are made). image: where the output-channel layout words are
    // written; null means the parameter model's live image.
    c331_timing(c331_drv& drv, const int& fd, c331_state& st, c331_pic_host& host, PARA_RAM_IMAGE* image = nullptr);

    // Whole panel set-up; returns the result of the closing parameter dump.
    int zrvApi_PnlInit2(int ledW, int ledH, int out1W, int out1H, int splice);
    // Chooses arrangement and blanking, gets the totals, programs the timing.
    void zrvApi_PnlInitOch3();
    // Gives the totals for the current output sizes; sets the channel size
    // and may clear the one-channel flag. Returns 1.
    int zrvApi_PnlInitOch_diff(u32* htt, u32* vtt, u32 hblank, u32 vblank);
    // Offset 1376 writes the output-channel layout words 1382 to 1395;
    // any other offset does nothing.
    void zrvApi_WriteRam(int offset);
    // Programs the output timing registers from the output-channel record.
    void zrvApi_c331InitRegPanel();

    // The timing list, ascending by horizontal total.
    static const std::vector<c331_timing_pair>& timing_list();
    // First pair of the list with both totals at least the given ones.
    static bool find_timing(u32 htt, u32 vtt, c331_timing_pair* found = nullptr);

    static const char* splice_name(u32 mode);

private:
    PARA_RAM_IMAGE* image() const;
    void w(u32 code, u32 value, u32 base = 0) { m_drv.write_C331(m_fd, code, value, base); }
    // Makes the totals hold the active area with its blanking; logs when
    // it had to raise them.
    void fit_totals(u32 hblank, u32 vblank);

    c331_drv& m_drv;
    const int& m_fd;
    c331_state& m_st;
    c331_pic_host& m_host;
    PARA_RAM_IMAGE* m_image;
};

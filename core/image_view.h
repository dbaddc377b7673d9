#pragma once
// The parameter model as a thread that does not own it reads and edits it.
//
// The links write the live image and the user-mode slots from their own
// threads under the c331 manager's mutex. A reader elsewhere (the panel)
// reads them only through an ImageView: the live image, the shadow and the
// slots' marks copied together under that mutex (and the model's own for the
// signal summaries), so a PC's write lands wholly before or wholly after it
// and no word or mark is ever drawn half written. One copy serves all a page
// reads in a turn: one short lock, never a wait per word behind the c331
// thread's passes, which hold the mutex while they program the chip.
#include "core/zrvrampara.h"

#include <functional>

struct ImageView {
    PARA_RAM_IMAGE live{};
    PARA_RAM_IMAGE shadow{};
    u32 savedModes = 0;  // bit n: slot n holds a saved mode (0xAA 0xAA)
    // The brightness changes the live image holds (ZrvRamPara), taken with it.
    u32 lastChange = 0;
    u32 wordChange = 0;

    // A copy of ZrvRamPara::p_zrvrampara_config (all zero without one).
    // Call it without the c331 manager's mutex.
    static ImageView take();
    // The live image and its brightness counts, as the persisting step
    // stores them.
    ZrvRamPara::Snapshot snapshot() const;

    // Bytes begin to begin + len of the live image differ from the shadow.
    bool differs(u32 begin, u32 len) const;
    bool modeSaved(int slot) const;
    // The user mode last loaded or saved (ZrvGetCurrentModeIndex).
    int currentMode() const;
    // The save request not carried out yet: word 868 when it differs from
    // the shadow's, else 0.
    int pendingSave() const;
    // Window w's input (ZrvGetImageSource, layout 0).
    int windowInput(int window, short* isCrop = nullptr, char* record = nullptr) const;
    // The input's valid crop records (ZrvGetSourceNum over all forty).
    int cropCount(int input) const;
    // The input's n-th crop (ZrvGetCropPara): its record index, CROP_COUNT
    // when there is none (para unchanged then).
    int cropPara(int input, int n, CROP_PARA* para) const;
};

// An edit of the live image by a reader of ImageViews (a page): runs
// edit(live, shadow) with the c331 manager's mutex held and, when it
// returns true, raises the apply flag (1) under it, so the chip follows and
// the change is persisted. Returns what edit returned; false without a model.
bool editImage(const std::function<bool(PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE& shadow)>& edit);

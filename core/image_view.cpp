#include "core/image_view.h"

#include "video_engine/c331_manage.h"

#include <QMutexLocker>

#include <cstring>

ImageView ImageView::take() {
    ImageView v;
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (!model) return v;
    QMutexLocker lock(&c331_manage::get()->mutex);
    model->copy_live(v.live.data, 0, sizeof v.live.data);
    v.shadow = model->shadow_image;
    for (int n = 0; n < ZRV_USER_MODE_COUNT; ++n)
        if (model->ZrvUserModeSaved(n)) v.savedModes |= 1u << n;
    v.lastChange = model->bri_last_change;
    v.wordChange = model->bri_word_change;
    return v;
}

ZrvRamPara::Snapshot ImageView::snapshot() const { return {live, lastChange, wordChange}; }

bool ImageView::differs(u32 begin, u32 len) const {
    if (begin > RamOffset::IMAGE_SIZE || len > RamOffset::IMAGE_SIZE - begin) return false;
    return std::memcmp(&live.data[begin], &shadow.data[begin], len) != 0;
}

bool ImageView::modeSaved(int slot) const {
    return slot >= 0 && slot < ZRV_USER_MODE_COUNT && (savedModes >> slot) & 1;
}

int ImageView::currentMode() const { return ZrvRamPara::currentModeOf(live); }

int ImageView::pendingSave() const {
    const u16 request = live.word(RamOffset::SAVE_REQUEST);
    return request != shadow.word(RamOffset::SAVE_REQUEST) ? request : 0;
}

int ImageView::windowInput(int window, short* isCrop, char* record) const {
    if (window < 0 || window > 0xFF) return 255;
    return ZrvRamPara::ZrvGetImageSource(live.data, u8(window), isCrop, record, 0);
}

int ImageView::cropCount(int input) const { return ZrvRamPara::cropsOf(live, input, int(RamOffset::CROP_COUNT)); }

int ImageView::cropPara(int input, int n, CROP_PARA* para) const {
    return ZrvRamPara::cropParaOf(live, input, n, para);
}

bool editImage(const std::function<bool(PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE& shadow)>& edit) {
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (!model) return false;
    c331_manage* c331 = c331_manage::get();
    QMutexLocker lock(&c331->mutex);
    const bool changed = edit(model->live_image, model->shadow_image);
    if (changed) c331->raise_apply(1);
    return changed;
}

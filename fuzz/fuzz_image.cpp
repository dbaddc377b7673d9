// The persisted parameter image and a user-mode file as a start finds them:
// the model loads both, then one persisting step runs on what it loaded.
#include "fuzz_env.h"

#include "core/zrvrampara.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzenv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks the slot, then the image file and the mode file
    // share the rest.
    if (size < 1) return 0;
    const int slot = data[0] % ZRV_USER_MODE_COUNT;
    ++data;
    --size;
    const size_t half = size / 2;
    if (!fuzzenv::place(ZrvFiles::RAM_DEVICE_INFO, data, half)) return 0;
    if (!fuzzenv::place(ZrvFiles::customModePath(slot), data + half, size - half)) return 0;
    ZrvRamPara model;
    ZrvRamPara::p_zrvrampara_config = &model;
    model.load();
    model.ZrvRecallUserMode(slot + 1);
    model.ram_para_persist(2);
    ZrvRamPara::p_zrvrampara_config = nullptr;
    return 0;
}

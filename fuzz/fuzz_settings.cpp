// The settings file "/data/configs/tcpip.ini" and the loader's file as a
// start finds them: the settings store is built from them afresh.
#include "fuzz_env.h"

#include "core/config_engine.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzenv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first half is the settings file, the rest the loader's.
    const size_t half = size / 2;
    if (!fuzzenv::place(ConfigEngine::kIniFile, data, half)) return 0;
    if (!fuzzenv::place(ConfigEngine::kLoaderIni, data + half, size - half)) return 0;
    delete ConfigEngine::p_config;
    ConfigEngine::p_config = nullptr;
    ConfigEngine::pInstance();
    return 0;
}

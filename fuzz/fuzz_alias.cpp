// The alias file as the PC sends it (the arrival check) and as a start
// finds it on disk (the look-up of every kind the panel asks for).
#include "fuzz_env.h"

#include "core/JsonParse.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzenv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    alias_file_well_formed(text, &why);
    if (!fuzzenv::place(kAliasFile, data, size)) return 0;
    alias_file_changed();
    ALIAS_PARA a;
    for (const char* kind : {"source", "usermode", "crop"})
        for (int id = 0; id < 3; ++id) get_json_alias_para(&a, kind, id);
    return 0;
}

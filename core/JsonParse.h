#pragma once
// User-given names of inputs, user modes and crops, read from the alias file
// "/data/configs/alias.json" that the PC uploads.
#include <string>

struct ALIAS_PARA {
    int id = 0;
    std::string valid;
    std::string name;
};

constexpr const char* kAliasFile = "/data/configs/alias.json";

// Looks up the alias of `kind` ("source", "usermode", "crop") with `id`.
// 1 when found, not switched off ("off") and named; else 0. Found but off or
// unnamed still fills `out`. A file that does not parse at all is removed.
int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id);

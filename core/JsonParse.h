#pragma once
// User-given names of inputs, user modes and crops, read from the alias file
// "/data/configs/alias.json" that the PC uploads.
#include <QByteArray>

#include <string>

struct ALIAS_PARA {
    int id = 0;
    std::string valid;
    std::string name;
};

constexpr const char* kAliasFile = "/data/configs/alias.json";

// True when the text may be taken as an alias file: at most 64 KiB,
// nested no deeper than the names need, and valid JSON. A file the PC sends
// is stored only when this holds.
bool alias_file_ok(const QByteArray& text);

// Looks up the alias of `kind` ("source", "usermode", "crop") with `id`.
// 1 when found, not switched off ("off") and named; else 0. Found but off or
// unnamed still fills `out`. A file that fails alias_file_ok is removed
// with a log line.
int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id);

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

// Looks up the alias of `kind` ("source", "usermode", "crop") with `id`.
// 1 when found, not switched off ("off") and named; else 0. Found but off or
// unnamed still fills `out`. A file over 64 KiB, nested deeper than the
// names need or not JSON is removed with a log line. The file is parsed once and the result kept until the
// file changes (its modification time, size or identity) or
// alias_file_changed() is called.
int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id);

// Whether text is an alias file of the shape the lookup reads: at most
// 64 KiB, nested no deeper than the names need, and an object
// with "namelist", an object of kinds, each an array of elements with "id"
// (a number or a numeric string), "valid" and "name" (texts). A file of
// another shape would be stored and never show a name. Else false with the
// reason in why.
bool alias_file_well_formed(const std::string& text, std::string* why);

// The alias file was replaced (change code 103): the next look-up parses it
// again even if its time stamp looks the same.
void alias_file_changed();
// How many times the alias file was parsed since the start.
unsigned alias_file_parses();

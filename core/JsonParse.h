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
// The kinds the panel looks up.
constexpr const char* kAliasKinds[] = {"source", "usermode", "crop"};

// Looks up the alias of `kind` ("source", "usermode", "crop") with `id`.
// 1 when found, not switched off ("off") and named; else 0. Found but off or
// unnamed still fills `out`. A file over 64 KiB, nested deeper than the
// names need or not JSON is refused and kept aside (FileCheck::keepAside)
// with a log line, and so is one whose look-up meets a broken step: no
// "namelist", an element up to the match without a numeric "id" (a number
// or a numeric string), or the matching element without "valid" or "name".
// A "namelist" or kind that is a text or a number holds nothing, and a kind
// that is an object holds its members as elements; a missing kind or id
// refuses nothing. The file is parsed once and the result kept until the
// file changes (its modification time, size or identity) or
// alias_file_changed() is called.
int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id);

// Whether the look-up keeps the file whatever it is asked: false, with the
// reason in why, when some look-up of a kind above would refuse it. The
// protocol refuses such an upload, so a file it takes is never set aside.
bool alias_file_well_formed(const std::string& text, std::string* why);

// The alias file was replaced (change code 103): the next look-up parses it
// again even if its time stamp looks the same.
void alias_file_changed();
// How many times the alias file was parsed since the start.
unsigned alias_file_parses();

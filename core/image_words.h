#pragma once
// The words of the parameter image that the PC software reads and writes,
// described once beside the layout constants. docs/parameters.md is printed
// from this table (tools/zrv_parameters), and a test keeps the two equal, so
// the page cannot drift from the image.
#include "core/global.h"

#include <string>
#include <vector>

struct ImageField {
    u32 offset;         // byte offset in the image
    u32 bytes;          // whole size of the field
    u32 wordBytes;      // 2 for words, 1 for a byte field
    const char* meaning;
    int lo, hi;         // range of each word; lo > hi: no plain range
    // Shown instead of the default image's words (records, run-time fields).
    std::string (*describeDefault)();
};

namespace ImageWords {

// The fields in offset order.
const std::vector<ImageField>& fields();
// Fields of one window record and one crop record, offsets within the record.
const std::vector<ImageField>& windowFields();
const std::vector<ImageField>& cropFields();

// The default of a field as the built-in default image holds it: its words
// (or bytes) in order; empty for run-time fields, which are never stored.
std::vector<int> defaults(const ImageField& f);

// The whole text of docs/parameters.md.
std::string markdown();

}  // namespace ImageWords

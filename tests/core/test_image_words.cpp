// docs/parameters.md against the image layout of the program.
#include "core/image_words.h"
#include "core/zrvrampara.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

TEST(ImageWords, TheParametersPageIsWhatTheLayoutPrints) {
    std::ifstream in(ZRV_SOURCE_DIR "/docs/parameters.md", std::ios::binary);
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(page == ImageWords::markdown())
        << "docs/parameters.md differs from the image layout; print it again with "
           "`zrv_parameters docs/parameters.md` from the build folder";
}

TEST(ImageWords, FieldsLieInTheImageInOrderAndTheirDefaultsInTheirRange) {
    u32 end = 0;
    for (const ImageField& f : ImageWords::fields()) {
        const std::string what = std::to_string(f.offset) + " " + f.meaning;
        EXPECT_GE(f.offset, end) << what;  // sorted, no overlap
        EXPECT_LE(f.offset + f.bytes, RamOffset::IMAGE_SIZE) << what;
        EXPECT_EQ(f.bytes % f.wordBytes, 0u) << what;
        if (f.wordBytes == 2) {
            EXPECT_EQ(f.offset % 2, 0u) << what;
        }
        end = f.offset + f.bytes;
        if (f.lo > f.hi) continue;
        for (int v : ImageWords::defaults(f)) {
            EXPECT_GE(v, f.lo) << what;
            EXPECT_LE(v, f.hi) << what;
        }
    }
}

}  // namespace

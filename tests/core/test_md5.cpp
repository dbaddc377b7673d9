#include "core/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string md5Of(const std::string& s) { return MD5(s.data(), u32(s.size())).toString(); }

TEST(MD5Test, GivesTheReferenceDigests) {
    EXPECT_EQ(md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5Test, DigestLeavesTheMessageOpen) {
    // Split at every length round the 56- and 64-byte block edges, taking a
    // digest in the middle each time.
    const std::string text(200, 'q');
    const std::string whole = md5Of(text);
    for (u32 cut = 0; cut <= 130; ++cut) {
        MD5 m;
        m.update(text.data(), cut);
        const std::string first = m.toString();
        EXPECT_EQ(m.toString(), first) << cut;
        EXPECT_EQ(first, md5Of(text.substr(0, cut))) << cut;
        m.update(reinterpret_cast<const u8*>(text.data()) + cut, u32(text.size()) - cut);
        EXPECT_EQ(m.toString(), whole) << cut;
    }
    MD5 r(text.data(), 10);
    r.reset();
    EXPECT_EQ(r.toString(), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace

#include "frame_helpers.h"

#include "support/test_env.h"

#include <random>

namespace {

bool noFlagInsideBody(const Bytes& enc) {
    // Three starts, then no start or end byte until the last one.
    for (size_t i = 3; i + 1 < enc.size(); ++i)
        if (enc[i] == 0xA5 || enc[i] == 0x5A) return false;
    return enc.size() >= 5 && enc[0] == 0xA5 && enc[1] == 0xA5 && enc[2] == 0xA5 && enc.back() == 0x5A;
}

Bytes decodeOne(const Bytes& enc, FrameDecoder& d) {
    Collector c;
    c.feed(d, enc);
    return c.frames.size() == 1 ? c.frames[0] : Bytes{};
}

}  // namespace

TEST(FrameCodec, EachSpecialByteRoundTripsAtStartMiddleAndEnd) {
    for (u8 special : {u8(0xA5), u8(0xA6), u8(0x5A), u8(0x5B)}) {
        // The frame's first byte, a data byte in the middle, and the check
        // byte at the end all take the special value in turn.
        Bytes atStart = makeFrame(0x61, {1, 2, 3, 4}, 0, u16(0xF000 | 0), Frame::kPc);
        atStart[0] = special;
        atStart.back() = Utils::BCC(atStart.data(), u32(atStart.size() - 1));

        Bytes inMiddle = makeFrame(0x61, {1, special, special, 4});

        Bytes atEnd = makeFrame(0x61, {1, 2, 3, 0});
        atEnd[atEnd.size() - 2] = u8(Utils::BCC(atEnd.data(), u32(atEnd.size() - 2)) ^ special);
        atEnd.back() = special;
        ASSERT_EQ(Utils::BCC(atEnd.data(), u32(atEnd.size() - 1)), special);

        for (const Bytes& f : {atStart, inMiddle, atEnd}) {
            const Bytes enc = encode(f);
            EXPECT_TRUE(noFlagInsideBody(enc)) << "special " << int(special);
            FrameDecoder d(4096);
            EXPECT_EQ(decodeOne(enc, d), f) << "special " << int(special);
        }
    }
}

TEST(FrameCodec, RandomFramesRoundTripAndReencodeTheSame) {
    std::mt19937 rng(7);
    FrameDecoder d(8192);
    for (int i = 0; i < 300; ++i) {
        Bytes data(rng() % 300);
        for (auto& b : data) b = u8(rng() % 4 == 0 ? 0xA5 + (rng() % 2) : rng());
        const Bytes f = makeFrame(u8(rng()), data);
        const Bytes enc = encode(f);
        ASSERT_TRUE(noFlagInsideBody(enc));
        const Bytes back = decodeOne(enc, d);
        ASSERT_EQ(back, f);
        ASSERT_EQ(encode(back), enc);
    }
}

TEST(FrameCodec, PropertiesHoldForEveryLengthDensityAndSplit) {
    // Word-wide scans must give what a byte-wide reading of the framing
    // gives: at every length around the word size, at every alignment, with
    // stuffed bytes rare, common or everywhere, fed in any pieces.
    std::mt19937 rng(11);
    const u8 specials[4] = {0xA5, 0xA6, 0x5A, 0x5B};
    for (int round = 0; round < 2000; ++round) {
        const size_t len = round < 100 ? size_t(round) : size_t(rng() % 700);
        const unsigned density = rng() % 4;  // 0 none .. 3 every byte
        Bytes data(len);
        size_t stuffed = 0;
        for (auto& b : data) {
            const bool special = density == 3 || (density > 0 && rng() % (density == 1 ? 64 : 3) == 0);
            b = special ? specials[rng() % 4] : u8(rng());
            stuffed += protocol_phy::isSpecial(b);
        }
        Bytes f = makeFrame(u8(rng()), data);
        stuffed += protocol_phy::isSpecial(f[9]) + protocol_phy::isSpecial(f.back());
        for (size_t k = 0; k < 4; ++k) stuffed += protocol_phy::isSpecial(f[k]);

        // The check byte is the XOR of all bytes, from any starting address.
        const size_t skew = rng() % 8;
        Bytes shifted(skew);
        shifted.insert(shifted.end(), f.begin(), f.end() - 1);
        u8 x = 0;
        for (size_t k = 0; k + 1 < f.size(); ++k) x ^= f[k];
        ASSERT_EQ(Utils::BCC(shifted.data() + skew, u32(f.size() - 1)), x) << "length " << f.size();

        const Bytes enc = encode(f);
        ASSERT_EQ(enc.size(), f.size() + stuffed + 4) << "round " << round;
        ASSERT_TRUE(noFlagInsideBody(enc));
        // Exactly the room it needs is enough; a byte less is refused.
        Bytes out(enc.size());
        ASSERT_EQ((Vals{protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), out.data(), u32(enc.size())),
                        protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), out.data(),
                                                             u32(enc.size() - 1))}),
                  (Vals{enc.size(), 0}));

        // Garbage, the frame in random pieces, then the frame once more.
        Bytes stream(rng() % 20);
        for (auto& b : stream) b = u8(rng() & 0x7F);  // never a start byte
        stream.insert(stream.end(), enc.begin(), enc.end());
        stream.insert(stream.end(), enc.begin(), enc.end());
        FrameDecoder d(4096);
        Collector c;
        for (size_t i = 0; i < stream.size();) {
            const size_t piece = std::min(stream.size() - i, size_t(1 + rng() % 40));
            c.feed(d, Bytes(stream.begin() + i, stream.begin() + i + piece));
            i += piece;
        }
        ASSERT_EQ(c.frames, (std::vector<Bytes>{f, f})) << "round " << round;
        ASSERT_EQ(encode(c.frames[0]), enc);
    }
}

TEST(FrameCodec, EncoderRefusesWhatDoesNotFit) {
    const Bytes f = makeFrame(0x60, {0xA5, 0xA5, 0xA5, 0xA5});
    const u32 exact = u32(encode(f).size());
    Bytes out(exact);
    EXPECT_EQ((Vals{protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), out.data(), exact),
                    protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), out.data(), exact - 1),
                    protocol_phy::data_re_transf_meaning(f.data(), 0, out.data(), exact)}),
              (Vals{exact, 0, 0}));
}

TEST(FrameDecoding, BadFramesAreDroppedAndTheNextGoodOneIsTaken) {
    const Bytes good = makeFrame(0x90, {});
    Bytes badCheck = makeFrame(0x90, {7});
    badCheck.back() ^= 0x01;
    const Bytes shortBody = {0xA5, 0xA5, 0xA5, 0x00, 0xF0, 0x10, 0xF0, 0x5A};
    const Bytes emptyBody = {0xA5, 0xA5, 0xA5, 0x5A};
    Bytes badEscape = encode(makeFrame(0x90, {1, 2}));
    badEscape.insert(badEscape.begin() + 6, {0xA6, 0x03});
    Bytes escapeAtEnd = encode(makeFrame(0x90, {1, 2}));
    escapeAtEnd.insert(escapeAtEnd.end() - 1, 0x5B);

    for (const Bytes& bad : {encode(badCheck), shortBody, emptyBody, badEscape, escapeAtEnd}) {
        FrameDecoder d(4096);
        Collector c;
        c.feed(d, bad);
        EXPECT_TRUE(c.frames.empty());
        EXPECT_GE(d.dropped(), 1u);
        c.feed(d, encode(good));
        EXPECT_EQ(c.frames, std::vector<Bytes>{good});
    }
}

TEST(FrameDecoding, SplitConcatenatedAndInterruptedStreams) {
    const Bytes a = makeFrame(0x61, {0x80, 0x08, 0, 0, 2, 0, 0, 0});
    const Bytes b = makeFrame(0xA1, {0x5A, 0x5B, 0xA5, 0xA6});
    Bytes stream = {0x00, 0x13, 0x5A};  // noise before the first start
    for (const Bytes& f : {a, b, a}) {
        const Bytes e = encode(f);
        stream.insert(stream.end(), e.begin(), e.end());
    }
    // Byte by byte and in every chunk size, the same three frames come out.
    for (size_t chunk : {size_t(1), size_t(2), size_t(3), size_t(7), stream.size()}) {
        FrameDecoder d(4096);
        Collector c;
        for (size_t i = 0; i < stream.size(); i += chunk)
            c.feed(d, Bytes(stream.begin() + i, stream.begin() + std::min(stream.size(), i + chunk)));
        EXPECT_EQ(c.frames, (std::vector<Bytes>{a, b, a})) << "chunk " << chunk;
    }
    // A frame cut short by a new start is dropped; the new one stands.
    Bytes cut = encode(a);
    cut.resize(cut.size() / 2);
    const Bytes eb = encode(b);
    cut.insert(cut.end(), eb.begin(), eb.end());
    FrameDecoder d(4096);
    EXPECT_EQ(decodeOne(cut, d), b);
}

TEST(FrameDecoding, BodyLongerThanTheRecordIsDropped) {
    FrameDecoder d(64);
    Collector c;
    c.feed(d, encode(makeFrame(0x60, Bytes(60, 0x11))));
    EXPECT_TRUE(c.frames.empty());
    const Bytes fits = makeFrame(0x60, Bytes(53, 0x11));  // 64 bytes decoded
    c.feed(d, encode(fits));
    EXPECT_EQ(c.frames, std::vector<Bytes>{fits});
    // One byte over, in a single run without stuffed bytes.
    const Bytes over = makeFrame(0x60, Bytes(54, 0x11));
    c.feed(d, encode(over));
    EXPECT_EQ(c.frames, std::vector<Bytes>{fits});
}

TEST(ReplyFrame, SwapsAddressesEchoesHeaderAndEndsWithTheCheckByte) {
    const Bytes req = makeFrame(0x61, {1, 2, 3}, 0x07, 0xF000, 0xF010);
    Bytes reply(64);
    reply[10] = 0;  // status
    reply[11] = 0xAB;
    const u32 n = protocol_phy::finishReply(req.data(), reply.data(), 2, u32(reply.size()));
    ASSERT_EQ(n, 13u);
    // Addresses swapped, bytes 4 to 9 echoed, the XOR of the twelve bytes last.
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 13),
              (Bytes{0x10, 0xF0, 0x00, 0xF0, 0x11, 0x22, 0x33, 0x07, 0x55, 0x61, 0x00, 0xAB, 0x88}));
    // No room for the check byte: no reply rather than a cut one.
    EXPECT_EQ(protocol_phy::finishReply(req.data(), reply.data(), 2, 12), 0u);
}

// The frame decoder of every link on arbitrary bytes, cut into reads at
// places the input chooses: it never reads or writes out of bounds, every
// frame it delivers is at least a header and a check byte long with a right
// check byte, and encoding a delivered frame and decoding it again gives the
// same frame.
#include "core/utils.h"
#include "protocol/protocol_phy.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // First byte: the largest frame taken (small ones reach the size check).
    const u32 maxFrame = 16 + u32(data[0]) * 64;
    ++data;
    --size;
    FrameDecoder decoder(maxFrame);
    auto check = [&](const u8* frame, u32 length) {
        if (length < Frame::kMinLen || length > maxFrame) std::abort();
        if (Utils::BCC(frame, length - 1) != frame[length - 1]) std::abort();
        std::vector<u8> enc(protocol_phy::encodedMax(length));
        const u32 n = protocol_phy::data_re_transf_meaning(frame, length, enc.data(), u32(enc.size()));
        if (n == 0 || n > enc.size()) std::abort();
        const std::vector<u8> original(frame, frame + length);
        FrameDecoder again(maxFrame);
        int frames = 0;
        again.feed(enc.data(), n, [&](const u8* f, u32 l) {
            ++frames;
            if (std::vector<u8>(f, f + l) != original) std::abort();
        });
        if (frames != 1) std::abort();
    };
    // Reads of the sizes the bytes themselves suggest, as a socket gives them.
    size_t at = 0;
    while (at < size) {
        const size_t piece = 1 + data[at] % 97;
        const size_t n = piece < size - at ? piece : size - at;
        decoder.feed(data + at, n, check);
        at += n;
    }
    return 0;
}

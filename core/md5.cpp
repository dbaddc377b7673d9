#include "core/md5.h"

#include <cstring>

const u8 MD5::PADDING[64] = {0x80};
const char MD5::HEX[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                           '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

namespace {
inline u32 F(u32 x, u32 y, u32 z) { return (x & y) | (~x & z); }
inline u32 G(u32 x, u32 y, u32 z) { return (x & z) | (y & ~z); }
inline u32 H(u32 x, u32 y, u32 z) { return x ^ y ^ z; }
inline u32 I(u32 x, u32 y, u32 z) { return y ^ (x | ~z); }
inline u32 rotl(u32 x, int n) { return (x << n) | (x >> (32 - n)); }
inline void FF(u32& a, u32 b, u32 c, u32 d, u32 x, int s, u32 ac) { a = rotl(a + F(b, c, d) + x + ac, s) + b; }
inline void GG(u32& a, u32 b, u32 c, u32 d, u32 x, int s, u32 ac) { a = rotl(a + G(b, c, d) + x + ac, s) + b; }
inline void HH(u32& a, u32 b, u32 c, u32 d, u32 x, int s, u32 ac) { a = rotl(a + H(b, c, d) + x + ac, s) + b; }
inline void II(u32& a, u32 b, u32 c, u32 d, u32 x, int s, u32 ac) { a = rotl(a + I(b, c, d) + x + ac, s) + b; }
}  // namespace

MD5::MD5() { reset(); }

MD5::MD5(const void* data, u32 len) {
    reset();
    update(data, len);
}

void MD5::reset() {
    _finished = 0;
    _count[0] = _count[1] = 0;
    _state[0] = 0x67452301;
    _state[1] = 0xefcdab89;
    _state[2] = 0x98badcfe;
    _state[3] = 0x10325476;
    std::memset(_buffer, 0, sizeof _buffer);
    std::memset(_digest, 0, sizeof _digest);
}

void MD5::update(const void* data, u32 len) { update(static_cast<const u8*>(data), len); }

void MD5::update(const u8* input, u32 length) {
    _finished = 0;
    if (length == 0) return;
    u32 index = (_count[0] >> 3) & 0x3f;
    // The bit count is 64 bits wide in two words; carry into the high one.
    if ((_count[0] += (length << 3)) < (length << 3)) ++_count[1];
    _count[1] += (length >> 29);
    const u32 partLen = 64 - index;
    u32 i = 0;
    if (length >= partLen) {
        std::memcpy(&_buffer[index], input, partLen);
        transform(_buffer);
        for (i = partLen; i + 63 < length; i += 64) transform(&input[i]);
        index = 0;
    }
    std::memcpy(&_buffer[index], &input[i], length - i);
}

void MD5::final() {
    u8 bits[8];
    u32 oldState[4];
    u32 oldCount[2];
    u8 oldBuffer[64];
    std::memcpy(oldState, _state, 16);
    std::memcpy(oldCount, _count, 8);
    std::memcpy(oldBuffer, _buffer, 64);
    encode(_count, bits, 8);
    const u32 index = (_count[0] >> 3) & 0x3f;
    const u32 padLen = (index < 56) ? (56 - index) : (120 - index);
    update(PADDING, padLen);
    update(bits, 8);
    encode(_state, _digest, 16);
    // Keep the message open: the pad went through the buffer, so state,
    // count and the buffered tail all go back to what they were.
    std::memcpy(_state, oldState, 16);
    std::memcpy(_count, oldCount, 8);
    std::memcpy(_buffer, oldBuffer, 64);
}

const u8* MD5::digest() {
    if (!_finished) {
        _finished = 1;
        final();
        _finished = 1;
    }
    return _digest;
}

std::string MD5::toString() { return bytesToHexString(digest(), 16); }

std::string MD5::bytesToHexString(const u8* bytes, u32 len) {
    std::string s;
    s.reserve(len * 2);
    for (u32 i = 0; i < len; ++i) {
        s += HEX[bytes[i] >> 4];
        s += HEX[bytes[i] & 0x0f];
    }
    return s;
}

void MD5::encode(const u32* input, u8* output, u32 length) {
    for (u32 i = 0, j = 0; j < length; ++i, j += 4) {
        output[j] = u8(input[i]);
        output[j + 1] = u8(input[i] >> 8);
        output[j + 2] = u8(input[i] >> 16);
        output[j + 3] = u8(input[i] >> 24);
    }
}

void MD5::decode(const u8* input, u32* output, u32 length) {
    for (u32 i = 0, j = 0; j < length; ++i, j += 4)
        output[i] = u32(input[j]) | (u32(input[j + 1]) << 8) | (u32(input[j + 2]) << 16) |
                    (u32(input[j + 3]) << 24);
}

void MD5::transform(const u8 block[64]) {
    u32 a = _state[0], b = _state[1], c = _state[2], d = _state[3], x[16];
    decode(block, x, 64);

    FF(a, b, c, d, x[0], 7, 0xd76aa478);
    FF(d, a, b, c, x[1], 12, 0xe8c7b756);
    FF(c, d, a, b, x[2], 17, 0x242070db);
    FF(b, c, d, a, x[3], 22, 0xc1bdceee);
    FF(a, b, c, d, x[4], 7, 0xf57c0faf);
    FF(d, a, b, c, x[5], 12, 0x4787c62a);
    FF(c, d, a, b, x[6], 17, 0xa8304613);
    FF(b, c, d, a, x[7], 22, 0xfd469501);
    FF(a, b, c, d, x[8], 7, 0x698098d8);
    FF(d, a, b, c, x[9], 12, 0x8b44f7af);
    FF(c, d, a, b, x[10], 17, 0xffff5bb1);
    FF(b, c, d, a, x[11], 22, 0x895cd7be);
    FF(a, b, c, d, x[12], 7, 0x6b901122);
    FF(d, a, b, c, x[13], 12, 0xfd987193);
    FF(c, d, a, b, x[14], 17, 0xa679438e);
    FF(b, c, d, a, x[15], 22, 0x49b40821);

    GG(a, b, c, d, x[1], 5, 0xf61e2562);
    GG(d, a, b, c, x[6], 9, 0xc040b340);
    GG(c, d, a, b, x[11], 14, 0x265e5a51);
    GG(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    GG(a, b, c, d, x[5], 5, 0xd62f105d);
    GG(d, a, b, c, x[10], 9, 0x02441453);
    GG(c, d, a, b, x[15], 14, 0xd8a1e681);
    GG(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    GG(a, b, c, d, x[9], 5, 0x21e1cde6);
    GG(d, a, b, c, x[14], 9, 0xc33707d6);
    GG(c, d, a, b, x[3], 14, 0xf4d50d87);
    GG(b, c, d, a, x[8], 20, 0x455a14ed);
    GG(a, b, c, d, x[13], 5, 0xa9e3e905);
    GG(d, a, b, c, x[2], 9, 0xfcefa3f8);
    GG(c, d, a, b, x[7], 14, 0x676f02d9);
    GG(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    HH(a, b, c, d, x[5], 4, 0xfffa3942);
    HH(d, a, b, c, x[8], 11, 0x8771f681);
    HH(c, d, a, b, x[11], 16, 0x6d9d6122);
    HH(b, c, d, a, x[14], 23, 0xfde5380c);
    HH(a, b, c, d, x[1], 4, 0xa4beea44);
    HH(d, a, b, c, x[4], 11, 0x4bdecfa9);
    HH(c, d, a, b, x[7], 16, 0xf6bb4b60);
    HH(b, c, d, a, x[10], 23, 0xbebfbc70);
    HH(a, b, c, d, x[13], 4, 0x289b7ec6);
    HH(d, a, b, c, x[0], 11, 0xeaa127fa);
    HH(c, d, a, b, x[3], 16, 0xd4ef3085);
    HH(b, c, d, a, x[6], 23, 0x04881d05);
    HH(a, b, c, d, x[9], 4, 0xd9d4d039);
    HH(d, a, b, c, x[12], 11, 0xe6db99e5);
    HH(c, d, a, b, x[15], 16, 0x1fa27cf8);
    HH(b, c, d, a, x[2], 23, 0xc4ac5665);

    II(a, b, c, d, x[0], 6, 0xf4292244);
    II(d, a, b, c, x[7], 10, 0x432aff97);
    II(c, d, a, b, x[14], 15, 0xab9423a7);
    II(b, c, d, a, x[5], 21, 0xfc93a039);
    II(a, b, c, d, x[12], 6, 0x655b59c3);
    II(d, a, b, c, x[3], 10, 0x8f0ccc92);
    II(c, d, a, b, x[10], 15, 0xffeff47d);
    II(b, c, d, a, x[1], 21, 0x85845dd1);
    II(a, b, c, d, x[8], 6, 0x6fa87e4f);
    II(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    II(c, d, a, b, x[6], 15, 0xa3014314);
    II(b, c, d, a, x[13], 21, 0x4e0811a1);
    II(a, b, c, d, x[4], 6, 0xf7537e82);
    II(d, a, b, c, x[11], 10, 0xbd3af235);
    II(c, d, a, b, x[2], 15, 0x2ad7d2bb);
    II(b, c, d, a, x[9], 21, 0xeb86d391);

    _state[0] += a;
    _state[1] += b;
    _state[2] += c;
    _state[3] += d;
}

#include "protocol/protocol_phy.h"

#include "core/utils.h"

#include <cstring>

namespace {

constexpr u64 kOnes = 0x0101010101010101ull;
constexpr u64 kHigh = 0x8080808080808080ull;

// Non-zero when some byte of x is zero (exact as a whole; which bit is set
// may be wrong above the first zero byte, so only the answer "any" is used).
constexpr u64 zeroByte(u64 x) { return (x - kOnes) & ~x & kHigh; }

// Non-zero when some byte of w is a stuffed byte. 0x5A and 0x5B differ
// only in the lowest bit, so one test takes both.
constexpr u64 specialByte(u64 w) {
    return zeroByte(w ^ (kOnes * protocol_phy::kStart)) | zeroByte(w ^ (kOnes * protocol_phy::kEscA6)) |
           zeroByte((w | kOnes) ^ (kOnes * protocol_phy::kEsc5B));
}

u64 load64(const u8* p) {
    u64 w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Index within a word of its first marked byte (the lowest set bit of a
// mark is exact); mark is not 0.
size_t firstMarked(u64 mark) { return size_t(__builtin_ctzll(mark)) / 8; }

// Sixteen bytes at a time in the vector unit (SSE2, NEON), as the compiler's
// generic vectors: marks each stuffed byte with 0xFF.
typedef u8 V16 __attribute__((vector_size(16)));
constexpr V16 splat(u8 b) { return V16{b, b, b, b, b, b, b, b, b, b, b, b, b, b, b, b}; }

inline void specialMarks16(const u8* p, u64& lo, u64& hi) {
    V16 v;
    std::memcpy(&v, p, sizeof v);
    const auto m = (v == splat(protocol_phy::kStart)) | (v == splat(protocol_phy::kEscA6)) |
                   ((v | splat(1)) == splat(protocol_phy::kEsc5B));
    std::memcpy(&lo, &m, 8);
    std::memcpy(&hi, reinterpret_cast<const u8*>(&m) + 8, 8);
}

}  // namespace

size_t protocol_phy::nextSpecial(const u8* data, size_t from, size_t n) {
    size_t i = from;
    for (; i + 16 <= n; i += 16) {
        u64 lo, hi;
        specialMarks16(data + i, lo, hi);
        if ((lo | hi) == 0) continue;
        if (kLittleEndian) return i + (lo ? firstMarked(lo) : 8 + firstMarked(hi));
        break;
    }
    for (; i + 8 <= n; i += 8) {
        const u64 mark = specialByte(load64(data + i));
        if (mark == 0) continue;
        if (kLittleEndian) return i + firstMarked(mark);
        break;
    }
    while (i < n && !isSpecial(data[i])) ++i;
    return i;
}

u32 protocol_phy::data_re_transf_meaning(const u8* frame, u32 length, u8* out, u32 outCap) {
    if (!frame || !out || length == 0) return 0;
    // Room is checked as the output grows: one pass, and the worst case is
    // never charged to a buffer that is big enough anyway.
    if (outCap < kStartCount + 1 + length) return 0;
    u32 n = 0;
    for (u32 i = 0; i < kStartCount; ++i) out[n++] = kStart;
    size_t i = 0;
    while (i < length) {
        const size_t j = nextSpecial(frame, i, length);
        const u32 run = u32(j - i);
        // The run, its escape pair and the end byte must all fit.
        if (u64(n) + run + (j < length ? 2 : 0) + 1 > outCap) return 0;
        std::memcpy(out + n, frame + i, run);
        n += run;
        if (j == length) break;
        const u8 b = frame[j];
        out[n++] = (b == kStart || b == kEscA6) ? kEscA6 : kEsc5B;
        out[n++] = (b == kStart || b == kEnd) ? 0x01 : 0x02;
        i = j + 1;
    }
    out[n++] = kEnd;
    return n;
}

u32 protocol_phy::finishReply(const u8* request, u8* reply, u32 dataLen, u32 replyCap) {
    if (dataLen == 0 || replyCap < Frame::kMinLen || dataLen > replyCap - Frame::kMinLen) return 0;
    // Reply goes back where the request came from.
    reply[0] = request[2];
    reply[1] = request[3];
    reply[2] = request[0];
    reply[3] = request[1];
    std::memcpy(reply + 4, request + 4, 6);
    const u32 body = Frame::kHeaderLen + dataLen;
    reply[body] = Utils::BCC(reply, body);
    return body + 1;
}

FrameDecoder::FrameDecoder(u32 maxFrame) : m_buf(maxFrame ? maxFrame : 1), m_max(maxFrame ? maxFrame : 1) {}

void FrameDecoder::reset() {
    m_state = Idle;
    m_len = 0;
}

void FrameDecoder::drop() {
    ++m_dropped;
    reset();
}

size_t FrameDecoder::skipToStart(const u8* data, size_t i, size_t n) {
    const void* p = std::memchr(data + i, protocol_phy::kStart, n - i);
    return p ? size_t(static_cast<const u8*>(p) - data) : n;
}

size_t FrameDecoder::takeRun(const u8* data, size_t i, size_t n) {
    const size_t j = protocol_phy::nextSpecial(data, i, n);
    const size_t run = j - i;
    if (run == 0) return j;
    if (run > m_max - m_len) {
        // Byte by byte the body would fill up and the byte after it drop
        // the frame; the rest of the run is then outside any frame.
        drop();
        return j;
    }
    std::memcpy(m_buf.data() + m_len, data + i, run);
    m_len += u32(run);
    m_state = Body;
    return j;
}

bool FrameDecoder::step(u8 byte) {
    using P = protocol_phy;
    if (byte == P::kStart) {
        // A start byte can never appear inside a stuffed body, so it always
        // opens a new frame; whatever was being assembled is lost.
        if (m_state == Body || m_state == Escape) ++m_dropped;
        m_state = Start;
        m_len = 0;
        return false;
    }
    switch (m_state) {
    case Idle:
        return false;
    case Escape: {
        u8 value;
        if (m_escape == P::kEscA6 && byte == 0x01) value = P::kStart;
        else if (m_escape == P::kEscA6 && byte == 0x02) value = P::kEscA6;
        else if (m_escape == P::kEsc5B && byte == 0x01) value = P::kEnd;
        else if (m_escape == P::kEsc5B && byte == 0x02) value = P::kEsc5B;
        else {
            drop();
            return false;
        }
        if (m_len >= m_max) {
            drop();
            return false;
        }
        m_buf[m_len++] = value;
        m_state = Body;
        return false;
    }
    case Start:
    case Body:
        if (byte == P::kEnd) {
            const u32 len = m_len;
            reset();
            if (len < Frame::kMinLen || Utils::BCC(m_buf.data(), len - 1) != m_buf[len - 1]) {
                ++m_dropped;
                return false;
            }
            m_len = len;  // the frame stays readable until the next byte
            return true;
        }
        if (byte == P::kEscA6 || byte == P::kEsc5B) {
            m_escape = byte;
            m_state = Escape;
            return false;
        }
        if (m_len >= m_max) {
            drop();
            return false;
        }
        m_buf[m_len++] = byte;
        m_state = Body;
        return false;
    }
    return false;
}

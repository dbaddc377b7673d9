#include "protocol/protocol_phy.h"

#include "core/utils.h"

#include <cstring>

u32 protocol_phy::data_re_transf_meaning(const u8* frame, u32 length, u8* out, u32 outCap) {
    if (!frame || !out || length == 0) return 0;
    // Check the worst case only when it could matter, so a big buffer never
    // pays for a count of the special bytes.
    if (outCap < encodedMax(length)) {
        u32 need = kStartCount + 1 + length;
        for (u32 i = 0; i < length; ++i) {
            const u8 b = frame[i];
            if (b == kStart || b == kEscA6 || b == kEnd || b == kEsc5B) ++need;
        }
        if (need > outCap) return 0;
    }
    u32 n = 0;
    for (u32 i = 0; i < kStartCount; ++i) out[n++] = kStart;
    for (u32 i = 0; i < length; ++i) {
        const u8 b = frame[i];
        switch (b) {
        case kStart: out[n++] = kEscA6; out[n++] = 0x01; break;
        case kEscA6: out[n++] = kEscA6; out[n++] = 0x02; break;
        case kEnd: out[n++] = kEsc5B; out[n++] = 0x01; break;
        case kEsc5B: out[n++] = kEsc5B; out[n++] = 0x02; break;
        default: out[n++] = b; break;
        }
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

#pragma once
// Framing of the PC command protocol on every link: three 0xA5 start bytes,
// the body with 0xA5, 0xA6, 0x5A and 0x5B stuffed, one 0x5A end byte. The
// body's last byte is the XOR of all bytes before it.
#include "core/global.h"

#include <cstddef>
#include <vector>

// Fixed positions of a decoded command frame.
namespace Frame {
constexpr u16 kController = 0xF000;  // this device
constexpr u16 kPc = 0xF010;          // the configuration software
constexpr u32 kHeaderLen = 10;       // destination, source, five echoed bytes, command
constexpr u32 kMinLen = 11;          // header plus check byte
constexpr u32 kTargetByte = 7;       // register commands: 0 controller, 1 FPGA 0, 2 FPGA 1

inline u16 destination(const u8* f) { return u16(f[0] | (f[1] << 8)); }
inline u16 source(const u8* f) { return u16(f[2] | (f[3] << 8)); }
// Frames that the PC sends to the LED receiving cards through this device.
inline bool isPassThrough(const u8* f) { return destination(f) < kController && source(f) == kPc; }
}  // namespace Frame

// A decoded frame as the handlers see it. The view never owns the bytes and
// its length is at least Frame::kMinLen.
struct Cmd_Frame {
    const u8* bytes = nullptr;
    u32 length = 0;  // whole frame, check byte included

    u16 destination() const { return Frame::destination(bytes); }
    u16 source() const { return Frame::source(bytes); }
    u8 header(u32 i) const { return bytes[i]; }  // echoed bytes 4 to 8
    u8 command() const { return bytes[9]; }
    const u8* data() const { return bytes + Frame::kHeaderLen; }
    u32 dataLength() const { return length - Frame::kMinLen; }
};

class protocol_phy {
public:
    static constexpr u8 kStart = 0xA5;
    static constexpr u8 kEnd = 0x5A;
    static constexpr u8 kEscA6 = 0xA6;  // escapes 0xA5 (01) and 0xA6 (02)
    static constexpr u8 kEsc5B = 0x5B;  // escapes 0x5A (01) and 0x5B (02)
    static constexpr u32 kStartCount = 3;

    // Room an encoded frame of len bytes can need at most.
    static constexpr u32 encodedMax(u32 len) { return 2 * len + kStartCount + 1; }

    // True for the bytes that are stuffed in a body (0xA5, 0xA6, 0x5A, 0x5B).
    static bool isSpecial(u8 b) { return (b | 1) == kEsc5B || b == kStart || b == kEscA6; }
    // Index of the first stuffed byte in data[from, n), or n when none.
    // Scans a word at a time: runs between stuffed bytes are copied whole.
    static size_t nextSpecial(const u8* data, size_t from, size_t n);

    // Encodes a frame for a PC link into out. Returns the encoded length, or
    // 0 when the frame is empty or the encoding would not fit in outCap.
    static u32 data_re_transf_meaning(const u8* frame, u32 length, u8* out, u32 outCap);

    // Builds a reply to request in reply: addresses swapped, bytes 4 to 9
    // echoed, dataLen bytes that the handler already wrote from byte 10
    // (status first), the check byte appended. Returns the reply length, 0
    // when it does not fit in replyCap.
    static u32 finishReply(const u8* request, u8* reply, u32 dataLen, u32 replyCap);
};

// Reassembles frames from a byte stream (serial, TCP) or from datagrams.
// Bytes outside a frame are skipped; any 0xA5 opens a new frame, dropping a
// partial one; a bad escape, an oversized body, a frame shorter than eleven
// bytes or a wrong check byte drops the frame.
class FrameDecoder {
public:
    explicit FrameDecoder(u32 maxFrame);

    // Feeds bytes and calls onFrame(const u8* frame, u32 length) for every
    // complete frame whose check byte is right. The pointer is valid only
    // during the call.
    template <class F>
    void feed(const u8* data, size_t n, F&& onFrame) {
        size_t i = 0;
        while (i < n) {
            // Outside a frame only a start byte matters; inside one, the run
            // up to the next stuffed byte is body as it stands.
            if (m_state == Idle) {
                i = skipToStart(data, i, n);
            } else if (m_state != Escape) {
                i = takeRun(data, i, n);
            }
            if (i < n && step(data[i++])) onFrame(m_buf.data(), m_len);
        }
    }

    void reset();
    u32 maxFrame() const { return m_max; }
    // Frames dropped since construction (bad escape, size, check byte).
    u32 dropped() const { return m_dropped; }

private:
    enum State { Idle, Start, Body, Escape };
    // True when byte completed a good frame.
    bool step(u8 byte);
    // Index of the next start byte from i (n when none).
    static size_t skipToStart(const u8* data, size_t i, size_t n);
    // Appends the bytes from i up to the next stuffed byte to the body;
    // returns that byte's index (n when none).
    size_t takeRun(const u8* data, size_t i, size_t n);
    void drop();

    std::vector<u8> m_buf;
    u32 m_max;
    u32 m_len = 0;
    State m_state = Idle;
    u8 m_escape = 0;
    u32 m_dropped = 0;
};

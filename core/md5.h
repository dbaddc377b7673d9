#pragma once
// MD5 digests (RFC 1321) for checking files received over the protocol.
// The digest can be taken at any point: it does not end the message, a later
// update() goes on with the same one.
#include "core/global.h"

#include <string>

class MD5 {
public:
    MD5();
    MD5(const void* data, u32 len);

    void reset();
    void update(const void* data, u32 len);
    void update(const u8* data, u32 len);

    // The 16-byte digest of everything fed so far.
    const u8* digest();
    // The digest as 32 lower-case hexadecimal characters.
    std::string toString();
    static std::string bytesToHexString(const u8* bytes, u32 len);

private:
    void final();
    void transform(const u8 block[64]);
    static void encode(const u32* input, u8* output, u32 length);
    static void decode(const u8* input, u32* output, u32 length);

    u32 _state[4];
    u32 _count[2];   // bit count, low word first
    u8 _buffer[64];
    u8 _digest[16];
    u8 _finished;

    static const u8 PADDING[64];
    static const char HEX[16];
};

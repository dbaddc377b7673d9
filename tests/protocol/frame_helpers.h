#pragma once
// Building and reading command frames in the protocol tests.
#include "core/utils.h"
#include "protocol/protocol_phy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <thread>
#include <vector>

using Bytes = std::vector<u8>;

// A PC frame to the controller: header, command, data, check byte.
inline Bytes makeFrame(u8 cmd, const Bytes& data, u8 target = 0, u16 dst = Frame::kController,
                       u16 src = Frame::kPc) {
    Bytes f = {u8(dst), u8(dst >> 8), u8(src), u8(src >> 8), 0x11, 0x22, 0x33, target, 0x55, cmd};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(Utils::BCC(f.data(), u32(f.size())));
    return f;
}

inline Bytes encode(const Bytes& frame) {
    Bytes out(protocol_phy::encodedMax(u32(frame.size())));
    out.resize(protocol_phy::data_re_transf_meaning(frame.data(), u32(frame.size()), out.data(), u32(out.size())));
    return out;
}

inline void put32(Bytes& b, u32 v) {
    for (int i = 0; i < 4; ++i) b.push_back(u8(v >> (8 * i)));
}
inline void put16(Bytes& b, u16 v) {
    b.push_back(u8(v));
    b.push_back(u8(v >> 8));
}

// Collects every frame a decoder produces.
struct Collector {
    std::vector<Bytes> frames;
    void feed(FrameDecoder& d, const Bytes& bytes) {
        d.feed(bytes.data(), bytes.size(), [this](const u8* f, u32 n) { frames.emplace_back(f, f + n); });
    }
};

// Status byte and data of a reply frame.
inline u8 replyStatus(const Bytes& reply) { return reply.size() > 10 ? reply[10] : 0xEE; }
inline Bytes replyData(const Bytes& reply) {
    return reply.size() > 12 ? Bytes(reply.begin() + 11, reply.end() - 1) : Bytes{};
}

// The loopback address at a port.
inline sockaddr_in loopback(u16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Polls a condition every 10 ms for up to ms milliseconds.
template <class F>
bool waitFor(F cond, int ms = 3000) {
    for (int i = 0; i < ms / 10; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

// A program of the build: beside the test program's build folder, or named
// by an environment variable.
inline QString binary(const char* env, const char* name) {
    if (const char* v = std::getenv(env)) return QString::fromLocal8Bit(v);
    // tests/test_protocol -> the build folder holds the program and tools.
    const QFileInfo self(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    return self.dir().absoluteFilePath(QStringLiteral("../%1").arg(QLatin1String(name)));
}

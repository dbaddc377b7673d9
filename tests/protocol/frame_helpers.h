#pragma once
// Building and reading command frames in the protocol tests.
#include "core/utils.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

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

// The PC's requests handed to a dispatcher of its own, as a link hands them
// over from the peer `from`; the replies as they would go back.
struct PcRequests {
    Bytes call(u8 cmd, const Bytes& data, u8 target = 0) {
        const Bytes req = makeFrame(cmd, data, target);
        Bytes reply(2048);
        reply.resize(deal.message_group_deal(req.data(), u32(req.size()), reply.data(), u32(reply.size()), from));
        return reply;
    }
    u8 regWrite(u16 reg, u8 mask, u8 value, u8 target = 0) {
        Bytes d;
        put16(d, reg);
        d.push_back(mask);
        d.push_back(value);
        return replyStatus(call(PcCmd::RegWrite, d, target));
    }
    Bytes regRead(u16 reg, u16 count, u8 target = 0, u8* status = nullptr) {
        Bytes d;
        put16(d, reg);
        put16(d, count);
        const Bytes r = call(PcCmd::RegRead, d, target);
        if (status) *status = replyStatus(r);
        return replyData(r);
    }
    // `declared`: the length field when it is not the bytes' own.
    u8 ramWrite(u32 addr, const Bytes& bytes, u32 declared = ~0u) {
        Bytes d;
        put32(d, addr);
        put32(d, declared == ~0u ? u32(bytes.size()) : declared);
        d.insert(d.end(), bytes.begin(), bytes.end());
        return replyStatus(call(PcCmd::RamWrite, d));
    }
    Bytes ramRead(u32 addr, u32 len, u8* status = nullptr) {
        Bytes d;
        put32(d, addr);
        put32(d, len);
        const Bytes r = call(PcCmd::RamRead, d);
        if (status) *status = replyStatus(r);
        return replyData(r);
    }

    message_deal deal;
    PcPeer from;
};

// The loopback address at a port.
inline sockaddr_in loopback(u16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A socket of the type bound to a free loopback port, which `at` is given;
// -1 when it cannot be had.
inline int boundToLoopback(int type, sockaddr_in& at) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    at = loopback(0);
    socklen_t len = sizeof at;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&at), len) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len) != 0)
        return -1;
    return fd;
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

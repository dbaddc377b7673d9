// The measuring side of scripts/bench-run, a PC on the loopback interface.
//
//   zrv_bench_client first-answer PORT PROGRAM [ARGS...]
//       starts PROGRAM, asks for one image word on UDP PORT every
//       millisecond, prints "pid <pid> first_answer_ms <ms>" at the first
//       answer and leaves PROGRAM running, its console output dropped.
//   zrv_bench_client load PORT OFFSET RATE SECONDS [FILE]
//       writes RATE words a second to image OFFSET for SECONDS, at an even
//       pace and without waiting for answers; prints the writes sent and
//       answered. With FILE (the persisted image), then waits until FILE
//       holds the last value and prints "file_ms <ms>" counted from the
//       last write's answer.
//   zrv_bench_client cards PORT RATE SECONDS
//       sends RATE frames a second for the receiving cards for SECONDS, as
//       the PC software does while it sets cards up: each writes 256 bytes
//       into the RAM of the first card on output port 1; prints the frames
//       sent and the answers that came back.
//   zrv_bench_client durable-write FILE
//       the reference of the file row: "durable_ms <ms>" for writing 4 KiB
//       beside FILE, fsync and rename over it (median of 20).
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "protocol/protocol_phy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<u8>;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// header: the nine bytes before the command; by default from the PC to the
// controller, else to a card.
Bytes encodeCommand(u8 cmd, const Bytes& data,
                    const Bytes& header = {0x00, 0xF0, 0x10, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00}) {
    Bytes f = header;
    f.push_back(cmd);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(Utils::BCC(f.data(), u32(f.size())));
    Bytes enc(protocol_phy::encodedMax(u32(f.size())));
    enc.resize(protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), enc.data(), u32(enc.size())));
    return enc;
}

void put32(Bytes& b, u32 v) {
    for (int i = 0; i < 4; ++i) b.push_back(u8(v >> (8 * i)));
}

int openUdp(u16 port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("zrv_bench_client: socket");
        std::exit(3);
    }
    return fd;
}

// Counts the frames that came back, without waiting.
int drainAnswers(int fd, FrameDecoder& d) {
    int frames = 0;
    u8 buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return frames;
        d.feed(buf, size_t(n), [&](const u8*, u32) { ++frames; });
    }
}

int firstAnswer(u16 port, char** argv) {
    Bytes req;
    put32(req, RamOffset::CONTRAST);
    put32(req, 2);
    const Bytes enc = encodeCommand(0x61, req);
    const int fd = openUdp(port);
    FrameDecoder d(4096);
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();  // outlives this client
        // Its console output must not hold the caller's pipe open.
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execv(argv[0], argv);
        std::_Exit(127);
    }
    while (msSince(t0) < 10000) {
        (void)!::send(fd, enc.data(), enc.size(), 0);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1) > 0 && drainAnswers(fd, d) > 0) {
            std::printf("pid %d first_answer_ms %.2f\n", int(pid), msSince(t0));
            return 0;
        }
    }
    std::printf("pid %d first_answer_ms none\n", int(pid));
    return 1;
}

bool fileHolds(const std::string& file, u32 offset, u16 value) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    u8 b[2] = {0, 0};
    // The persisted file starts with its two marker bytes.
    const off_t at = off_t(offset - RamOffset::PERSIST_BEGIN + RamFile::DATA_OFFSET);
    const bool ok = ::pread(fd, b, 2, at) == 2 && u16(b[0] | (b[1] << 8)) == value;
    ::close(fd);
    return ok;
}

// Sends frame(n) for n = 0, 1, ... at RATE a second, at an even pace and
// without waiting for answers, for SECONDS; then waits up to settle_ms for
// the last answers. Prints "sent N answered M".
struct Stream {
    long sent = 0, answered = 0;
};
template <class MakeFrame>
Stream stream(int fd, int rate, int seconds, int settle_ms, MakeFrame frame) {
    FrameDecoder d(4096);
    Stream s;
    const long total = long(rate) * seconds;
    const auto step = std::chrono::nanoseconds(1000000000L / rate);
    auto next = Clock::now();
    for (; s.sent < total; ++s.sent) {
        const Bytes enc = frame(s.sent);
        (void)!::send(fd, enc.data(), enc.size(), 0);
        s.answered += drainAnswers(fd, d);
        next += step;
        std::this_thread::sleep_until(next);
    }
    const auto t0 = Clock::now();
    while (s.answered < s.sent && msSince(t0) < settle_ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) s.answered += drainAnswers(fd, d);
    }
    std::printf("sent %ld answered %ld\n", s.sent, s.answered);
    return s;
}

int load(u16 port, u32 offset, int rate, int seconds, const char* file) {
    const int fd = openUdp(port);
    auto valueOf = [](long n) { return u16(n % 2 ? 20 + n % 60 : 80 - n % 60); };
    const Stream s = stream(fd, rate, seconds, 5000, [&](long n) {
        const u16 value = valueOf(n);
        Bytes req;
        put32(req, offset);
        put32(req, 2);
        req.push_back(u8(value));
        req.push_back(u8(value >> 8));
        return encodeCommand(0x60, req);
    });
    const auto lastAnswer = Clock::now();
    const u16 value = valueOf(s.sent - 1);
    if (file) {
        while (!fileHolds(file, offset, value) && msSince(lastAnswer) < 10000)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (fileHolds(file, offset, value))
            std::printf("file_ms %.2f\n", msSince(lastAnswer));
        else
            std::printf("file_ms none\n");
    }
    return 0;
}

int cards(u16 port, int rate, int seconds) {
    // Card 0 of the first port; source the PC; configuration class, single
    // port mode, port number 1.
    const Bytes header = {0x00, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00};
    stream(openUdp(port), rate, seconds, 2000, [&](long n) {
        Bytes req;
        put32(req, u32(n % 64) * 256);
        put32(req, 256);
        for (int i = 0; i < 256; ++i) req.push_back(u8(n + i));
        return encodeCommand(0x60, req, header);
    });
    return 0;
}

int durableWrite(const std::string& file) {
    const std::string tmp = file + ".tmp";
    std::vector<char> page(4096, 0x11);
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const auto t0 = Clock::now();
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return 3;
        (void)!::write(fd, page.data(), page.size());
        ::fsync(fd);
        ::close(fd);
        ::rename(tmp.c_str(), file.c_str());
        ms.push_back(msSince(t0));
    }
    std::sort(ms.begin(), ms.end());
    std::printf("durable_ms %.2f\n", ms[ms.size() / 2]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "first-answer" && argc > 3) return firstAnswer(u16(std::atoi(argv[2])), argv + 3);
    if (mode == "load" && argc > 5)
        return load(u16(std::atoi(argv[2])), u32(std::atoi(argv[3])), std::atoi(argv[4]), std::atoi(argv[5]),
                    argc > 6 ? argv[6] : nullptr);
    if (mode == "cards" && argc > 4) return cards(u16(std::atoi(argv[2])), std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "durable-write" && argc > 2) return durableWrite(argv[2]);
    std::fprintf(stderr, "usage: see the comment at the top of bench/run/bench_client.cpp\n");
    return 2;
}

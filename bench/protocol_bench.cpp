// Costs of the command protocol: the frame codec beside memcpy of the same
// bytes, and one parameter read over UDP on the loopback interface from
// request to reply.
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "platform/root.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"
#include "protocol/udpnetmanage.h"
#include "sim/sim_board.h"

#include "bench_ref.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<u8> frameOf(size_t dataLen, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<u8> f = {0x00, 0xF0, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x60};
    for (size_t i = 0; i < dataLen; ++i) f.push_back(u8(rng()));
    f.push_back(Utils::BCC(f.data(), u32(f.size())));
    return f;
}

// The reference of the codec: copying the same bytes.
double memcpyNs(size_t n) {
    std::vector<u8> a(n, 0x11), b(2 * n + 8);
    return benchref::referenceNs([&] {
        std::memcpy(b.data(), a.data(), n);
        benchmark::ClobberMemory();
    });
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<u8> a(size_t(state.range(0)), 0x11), b(a.size());
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.size()));
}
BENCHMARK(BM_Memcpy)->Arg(16)->Arg(1024)->Arg(16384);

void BM_Encode(benchmark::State& state) {
    const auto f = frameOf(size_t(state.range(0)), 1);
    std::vector<u8> out(protocol_phy::encodedMax(u32(f.size())));
    benchref::Ratio ratio(state, memcpyNs(f.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), out.data(), u32(out.size())));
    }
    ratio.done();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}
BENCHMARK(BM_Encode)->Arg(16)->Arg(1024)->Arg(16384);

void BM_Decode(benchmark::State& state) {
    const auto f = frameOf(size_t(state.range(0)), 2);
    std::vector<u8> enc(protocol_phy::encodedMax(u32(f.size())));
    enc.resize(protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), enc.data(), u32(enc.size())));
    FrameDecoder d(65536);
    u32 frames = 0;
    benchref::Ratio ratio(state, memcpyNs(enc.size()));
    for (auto _ : state) d.feed(enc.data(), enc.size(), [&](const u8*, u32) { ++frames; });
    ratio.done();
    if (frames != state.iterations()) state.SkipWithError("frame lost");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(enc.size()));
}
BENCHMARK(BM_Decode)->Arg(16)->Arg(1024)->Arg(16384);

// One RAM read of the brightness word over the UDP link, request to reply.
void BM_UdpParameterRead(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    Board::install(std::make_unique<SimBoard>());
    ZrvRamPara model;
    ZrvRamPara* saved = ZrvRamPara::p_zrvrampara_config;
    ZrvRamPara::p_zrvrampara_config = &model;
    model.live_image.setWord(RamOffset::BRIGHTNESS, 100);
    {
        udpnetManage udp(0, 0, true);
        if (udp.initialize() != 0) {
            state.SkipWithError("UDP link did not open");
        } else {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(udp.commandPort());
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            std::vector<u8> req = {0x00, 0xF0, 0x10, 0xF0, 0, 0, 0, 0, 0, PcCmd::RamRead};
            for (u32 v : {RamOffset::BRIGHTNESS, 2u})
                for (int i = 0; i < 4; ++i) req.push_back(u8(v >> (8 * i)));
            req.push_back(Utils::BCC(req.data(), u32(req.size())));
            std::vector<u8> enc(protocol_phy::encodedMax(u32(req.size())));
            enc.resize(protocol_phy::data_re_transf_meaning(req.data(), u32(req.size()), enc.data(), u32(enc.size())));
            FrameDecoder d(4096);
            u8 buf[2048];
            for (auto _ : state) {
                ::send(fd, enc.data(), enc.size(), 0);
                bool got = false;
                while (!got) {
                    pollfd p{fd, POLLIN, 0};
                    if (::poll(&p, 1, 1000) <= 0) break;
                    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                    d.feed(buf, size_t(n > 0 ? n : 0), [&](const u8* f, u32 len) { got = len == 14 && f[11] == 100; });
                }
                if (!got) {
                    state.SkipWithError("no reply");
                    break;
                }
            }
            ::close(fd);
        }
        udp.stop();
    }
    ZrvRamPara::p_zrvrampara_config = saved;
}
BENCHMARK(BM_UdpParameterRead)->UseRealTime();

}  // namespace

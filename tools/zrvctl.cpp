// zrvctl: a small client of the device's command protocol for maintainers
// and the end-to-end tests. It speaks over UDP, TCP or a serial line.
//
//   zrvctl [--udp HOST[:PORT] | --tcp HOST[:PORT] | --serial PATH]
//          [--timeout MS] COMMAND ARGS...
//
// Commands (numbers in decimal or 0x hexadecimal):
//   info                              device id, version, address, mask, gateway
//   ram-read ADDR LEN                 bytes as hexadecimal
//   ram-write ADDR HEXBYTES           e.g. ram-write 0x882 3c00
//   word-read OFFSET                  one image word, decimal
//   word-write OFFSET VALUE           one image word
//   reg-read TARGET REG COUNT         TARGET 0 controller, 1 FPGA 0, 2 FPGA 1
//   reg-write TARGET REG MASK VALUE
//   send-file TYPE PATH [NAME]        start, data in chunks, end
//
// The exit status is 0 when the device answered with status 0, 1 when it
// answered with another status (printed), 2 on a usage error and 3 when no
// answer came in time.
#include "core/md5.h"
#include "core/utils.h"
#include "protocol/protocol_phy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "zrvctl: %s\nsee the comment at the top of tools/zrvctl.cpp or docs/protocol.md\n", why);
    std::exit(2);
}

bool parseNumber(const std::string& s, u64* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno || *end) return false;
    *out = v;
    return true;
}

u64 number(const std::string& s, u64 max) {
    u64 v = 0;
    if (!parseNumber(s, &v) || v > max) usage(("bad number: " + s).c_str());
    return v;
}

Bytes hexBytes(const std::string& s) {
    if (s.size() % 2) usage("hexadecimal bytes need an even count of digits");
    Bytes out;
    for (size_t i = 0; i < s.size(); i += 2) {
        u64 v = 0;
        if (!parseNumber("0x" + s.substr(i, 2), &v)) usage("bad hexadecimal bytes");
        out.push_back(u8(v));
    }
    return out;
}

void put16(Bytes& b, u32 v) {
    b.push_back(u8(v));
    b.push_back(u8(v >> 8));
}
void put32(Bytes& b, u32 v) {
    for (int i = 0; i < 4; ++i) b.push_back(u8(v >> (8 * i)));
}

// One way to the device.
class Link {
public:
    virtual ~Link() = default;
    virtual bool send(const u8* data, size_t len) = 0;
    // Bytes received within timeoutMs; empty on time-out.
    virtual Bytes receive(int timeoutMs) = 0;
};

class FdLink : public Link {
public:
    explicit FdLink(int fd) : m_fd(fd) {}
    ~FdLink() override {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool send(const u8* data, size_t len) override {
        size_t done = 0;
        while (done < len) {
            const ssize_t n = ::write(m_fd, data + done, len - done);
            if (n <= 0) return false;
            done += size_t(n);
        }
        return true;
    }
    Bytes receive(int timeoutMs) override {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return {};
        Bytes buf(65536);
        const ssize_t n = ::read(m_fd, buf.data(), buf.size());
        if (n <= 0) return {};
        buf.resize(size_t(n));
        return buf;
    }

protected:
    int m_fd;
};

void splitHostPort(const std::string& address, u16 defPort, std::string* host, std::string* port) {
    const size_t colon = address.rfind(':');
    *host = colon == std::string::npos ? address : address.substr(0, colon);
    *port = colon == std::string::npos ? std::to_string(defPort) : address.substr(colon + 1);
    if (host->empty()) *host = "127.0.0.1";
}

std::unique_ptr<Link> openNet(const std::string& address, bool tcp) {
    std::string host, port;
    splitHostPort(address, tcp ? 5005 : 5008, &host, &port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = tcp ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0 || !res) usage("unknown host or port");
    const int fd = ::socket(res->ai_family, res->ai_socktype | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && ::connect(fd, res->ai_addr, res->ai_addrlen) == 0;
    freeaddrinfo(res);
    if (!ok) {
        std::perror("zrvctl: connect");
        if (fd >= 0) ::close(fd);
        std::exit(3);
    }
    return std::make_unique<FdLink>(fd);
}

std::unique_ptr<Link> openSerial(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::perror("zrvctl: open");
        std::exit(3);
    }
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd, TCSANOW, &t);
    }
    tcflush(fd, TCIOFLUSH);  // whatever waited on the line is not ours
    return std::make_unique<FdLink>(fd);
}

class Client {
public:
    Client(std::unique_ptr<Link> link, int timeoutMs) : m_link(std::move(link)), m_timeout(timeoutMs) {}

    // Sends one command; returns the reply frame (empty on time-out).
    Bytes call(u8 cmd, const Bytes& data, u8 target = 0) {
        Bytes f = {0x00, 0xF0, 0x10, 0xF0, 0x00, 0x00, 0x00, target, 0x00, cmd};
        f.insert(f.end(), data.begin(), data.end());
        f.push_back(Utils::BCC(f.data(), u32(f.size())));
        Bytes enc(protocol_phy::encodedMax(u32(f.size())));
        enc.resize(protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), enc.data(), u32(enc.size())));
        if (!m_link->send(enc.data(), enc.size())) return {};
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeout);
        Bytes reply;
        while (reply.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            const Bytes got = m_link->receive(int(left));
            m_decoder.feed(got.data(), got.size(), [&](const u8* fr, u32 n) {
                if (n >= 11 && Frame::destination(fr) == Frame::kPc && fr[9] == cmd) reply.assign(fr, fr + n);
            });
        }
        return reply;
    }

private:
    std::unique_ptr<Link> m_link;
    int m_timeout;
    FrameDecoder m_decoder{65536};
};

void printHex(const u8* p, size_t n) {
    for (size_t i = 0; i < n; ++i) std::printf("%02x", p[i]);
    std::printf("\n");
}

// Status 0 with the reply data, or the exit status.
int checked(const Bytes& reply, Bytes* data) {
    if (reply.size() < 12) {
        std::fprintf(stderr, "zrvctl: no answer\n");
        return 3;
    }
    if (reply[10] != 0) {
        std::fprintf(stderr, "zrvctl: status %u\n", reply[10]);
        return 1;
    }
    if (data) data->assign(reply.begin() + 11, reply.end() - 1);
    return 0;
}

int sendFile(Client& c, u8 type, const std::string& path, const std::string& name) {
    std::ifstream in(path, std::ios::binary);
    if (!in) usage("file cannot be read");
    const Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    MD5 md5(content.data(), u32(content.size()));
    Bytes start = {type};
    put32(start, u32(content.size()));
    start.insert(start.end(), md5.digest(), md5.digest() + 16);
    start.insert(start.end(), name.begin(), name.end());
    int rc = checked(c.call(0x80, start), nullptr);
    if (rc) return rc;
    constexpr size_t kChunk = 1024;
    for (size_t off = 0; off < content.size(); off += kChunk) {
        Bytes chunk;
        put32(chunk, u32(off));
        chunk.insert(chunk.end(), content.begin() + off, content.begin() + std::min(content.size(), off + kChunk));
        rc = checked(c.call(0x81, chunk), nullptr);
        if (rc) return rc;
    }
    return checked(c.call(0x82, {}), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::unique_ptr<Link> link;
    int timeoutMs = 2000;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (i + 1 >= args.size()) usage("option without value");
        const std::string& v = args[++i];
        if (args[i - 1] == "--udp") link = openNet(v, false);
        else if (args[i - 1] == "--tcp") link = openNet(v, true);
        else if (args[i - 1] == "--serial") link = openSerial(v);
        else if (args[i - 1] == "--timeout") timeoutMs = int(number(v, 600000));
        else usage("unknown option");
    }
    if (!link) link = openNet("127.0.0.1", false);
    if (i >= args.size()) usage("no command");
    const std::string cmd = args[i++];
    const std::vector<std::string> a(args.begin() + long(i), args.end());
    Client c(std::move(link), timeoutMs);
    Bytes data;
    int rc;

    if (cmd == "info" && a.empty()) {
        rc = checked(c.call(0x90, {}), &data);
        if (rc == 0 && data.size() >= 48) {
            std::printf("id %.*s\nversion %u.%u.%u.%u\n", 32, reinterpret_cast<const char*>(data.data()), data[32],
                        data[33], data[34], data[35]);
            std::printf("ip %u.%u.%u.%u\nmask %u.%u.%u.%u\ngateway %u.%u.%u.%u\n", data[36], data[37], data[38],
                        data[39], data[40], data[41], data[42], data[43], data[44], data[45], data[46], data[47]);
        }
        return rc;
    }
    if (cmd == "ram-read" && a.size() == 2) {
        Bytes req;
        put32(req, u32(number(a[0], 0xFFFFFFFF)));
        put32(req, u32(number(a[1], 1024)));
        rc = checked(c.call(0x61, req), &data);
        if (rc == 0) printHex(data.data(), data.size());
        return rc;
    }
    if (cmd == "ram-write" && a.size() == 2) {
        const Bytes bytes = hexBytes(a[1]);
        Bytes req;
        put32(req, u32(number(a[0], 0xFFFFFFFF)));
        put32(req, u32(bytes.size()));
        req.insert(req.end(), bytes.begin(), bytes.end());
        return checked(c.call(0x60, req), nullptr);
    }
    if (cmd == "word-read" && a.size() == 1) {
        Bytes req;
        put32(req, u32(number(a[0], 4094)));
        put32(req, 2);
        rc = checked(c.call(0x61, req), &data);
        if (rc == 0 && data.size() == 2) std::printf("%u\n", unsigned(data[0] | (data[1] << 8)));
        return rc;
    }
    if (cmd == "word-write" && a.size() == 2) {
        Bytes req;
        put32(req, u32(number(a[0], 4094)));
        put32(req, 2);
        put16(req, u32(number(a[1], 0xFFFF)));
        return checked(c.call(0x60, req), nullptr);
    }
    if (cmd == "reg-read" && a.size() == 3) {
        Bytes req;
        put16(req, u32(number(a[1], 0xFFFF)));
        put16(req, u32(number(a[2], 1024)));
        rc = checked(c.call(0xA1, req, u8(number(a[0], 255))), &data);
        if (rc == 0) printHex(data.data(), data.size());
        return rc;
    }
    if (cmd == "reg-write" && a.size() == 4) {
        Bytes req;
        put16(req, u32(number(a[1], 0xFFFF)));
        req.push_back(u8(number(a[2], 255)));
        req.push_back(u8(number(a[3], 255)));
        return checked(c.call(0xA0, req, u8(number(a[0], 255))), nullptr);
    }
    if (cmd == "send-file" && (a.size() == 2 || a.size() == 3)) {
        const std::string name = a.size() == 3 ? a[2] : a[1].substr(a[1].find_last_of('/') + 1);
        return sendFile(c, u8(number(a[0], 255)), a[1], name);
    }
    usage("unknown command or wrong arguments");
}

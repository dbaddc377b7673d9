#include "protocol/serial_modules.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"

#include <poll.h>

#include <algorithm>
#include <vector>

serial_modules::serial_modules(u8 linkId, std::string devicePath, bool rs485)
    : PcLink(linkId, kUartRecordSize), m_path(std::move(devicePath)), m_rs485(rs485) {}

serial_modules::~serial_modules() { stop(); }

u32 serial_modules::readSize() {
    const u64 want = u64(g_dataLen) * 1024 + 28;
    return u32(std::clamp<u64>(want, 64, kUartRecordSize));
}

int serial_modules::initialize(int baud) {
    if (running()) return 0;
    m_port = Board::get().openSerial(m_path, baud);
    if (!m_port || !m_port->isOpen()) {
        writeLogMsgFor(m_path, ERROR, "serial line " + m_path + " cannot be opened");
        m_port.reset();
        return 255;
    }
    if (m_rs485) m_port->setRts(false);  // listen
    startThread(m_rs485 ? "link rs485" : "link serial", [this] { receiveLoop(); });
    return 0;
}

void serial_modules::stop() {
    stopThread();
    m_port.reset();
}

void serial_modules::receiveLoop() {
    std::vector<u8> buf(readSize());
    while (running()) {
        servePassThrough();
        pollfd line{m_port->descriptor(), POLLIN, 0};
        if (waitEvents(&line, 1) <= 0) continue;
        const long n = m_port->readTimeout(buf.data(), buf.size(), 0);
        if (n > 0) {
            feed(buf.data(), size_t(n));
        } else if (n < 0) {
            // A line that fails keeps failing; do not spin on it.
            pause(100);
        }
    }
}

bool serial_modules::sendEncoded(const u8* data, u32 length) {
    if (!m_port) return false;
    if (m_rs485) m_port->setRts(true);
    u32 done = 0;
    bool ok = true;
    while (done < length) {
        const long n = m_port->write(data + done, length - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += u32(n);
    }
    // The transmitter may be released only after the last bit left the line.
    m_port->drain();
    if (m_rs485) m_port->setRts(false);
    return ok;
}

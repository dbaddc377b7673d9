#pragma once
// A PC link on a serial line: the RS-485 port (RTS drives the transmitter
// while a reply goes out) or the 4G module's line.
#include "platform/serial.h"
#include "protocol/pc_link.h"

#include <memory>
#include <string>

class serial_modules : public PcLink {
public:
    serial_modules(u8 linkId, std::string devicePath, bool rs485);
    ~serial_modules() override;

    // Opens the line at baud and starts the receive thread; 0 when open,
    // else 255.
    int initialize(int baud);
    void stop() override;
    const std::string& devicePath() const { return m_path; }

    // Bytes asked of each read: g_dataLen KiB plus 28, kept within the record.
    static u32 readSize();

private:
    void receiveLoop();
    bool sendEncoded(const u8* data, u32 length) override;

    std::string m_path;
    bool m_rs485;
    std::unique_ptr<SerialPort> m_port;
};

#pragma once
#include "core/global.h"

#include <QMutex>
#include <QString>

#include <functional>

class MtdDevice;

class Utils {
public:
    // Process-wide mutexes. Lock order where several are held: the c331
    // manager's mutex, then _led_para_init_mutex or _bri_set_mutex, then
    // _c331_bnk_mutex, then _spi_mutex.
    static QMutex _system_mutex;         // shell commands and short flag hand-overs
    static QMutex _spi_mutex;            // every SPI transfer
    static QMutex _c331_bnk_mutex;       // a c331 bank selection with its access
    static QMutex _file_deal_mutex;      // the data files under /data
    static QMutex _source_init_mutex;    // input start-up state
    static QMutex _source_hdminfo_mutex; // the per-input video information
    static QMutex _check_nosig_mutex;    // the c331 manager's per-port signal states
    static QMutex _test_signal_mutex;    // emission of the change signal
    static QMutex _led_para_init_mutex;  // LED-parameter hand-over to the FPGA thread
    static QMutex _bri_set_mutex;        // brightness hand-over to the FPGA thread
    static QMutex _fpga_multicast_mutex; // protocol writes into FPGA RAM
    static QMutex _usleep_mutex;         // serialised sleeps

    // XOR of all bytes; 0 for an empty buffer.
    static u8 BCC(const u8* data, u32 len);
    // One BCD byte as a number; -1 when a digit is above 9.
    static int fromBcd(u8 b);
    // CRC-32 over the standard reflected table, initial value 0, no final XOR.
    static u32 calcCRC32(const u8* data, u32 len);
    // Ticks of G_timeTicks since start (modular, so right across the wrap).
    static u32 getTimeSpace(u32 start);
    static u32 getTimeSpace(u32 start, u32 now) { return now - start; }

    // Runs a shell command under _system_mutex through the board's runner;
    // 0 when it succeeded, else 255. status receives the raw result.
    static int system_mutex(const QString& command, int* status = nullptr);
    static int usleep_mutex(u32 microseconds);
    static int msleep_mutex(u32 milliseconds);
    // Sleeps through the board's clock (virtual in tests).
    static void sleep_us(u32 microseconds);
    static void sleep_ms(u32 milliseconds);
    // Waits for a state of the hardware that no interrupt or descriptor
    // reports: ready() is read at once, then after firstUs, the pauses
    // doubling up to maxUs, until it holds or boundMs have passed on the
    // board's clock (read once more at the bound). A state that comes at
    // once costs no sleep; one that takes long is not read thousands of
    // times a second. True when it held.
    static bool pollUntil(u32 boundMs, const std::function<bool()>& ready, u32 firstUs = 1000, u32 maxUs = 4000);

    // MTD erase of the blocks covering [offset, offset + length), each read
    // back as erased (all 0xFF) before the next; 0 when done, 8 when a
    // request failed, 9 when the geometry cannot be read, 10 when a block
    // does not read back erased. Never closes the device.
    static u32 non_region_erase(MtdDevice& mtd, int offset, int length, int unlock);
    // Writes length bytes at offset in pieces of the write size, then reads
    // them back through the device; 0 when it holds them, 1 when a write
    // failed, 2 when it does not read them back. Every erase and write of an
    // MTD device goes through these two.
    static u32 non_region_write(MtdDevice& mtd, const u8* data, int length, int offset);

    // Settings into the shared globals (see ConfigEngine); returns 0.
    static int getIPAddress();
    // Applies the Ethernet address, mask and gateway with shell commands; 0
    // when eth0 is there and took the address, else 255.
    static int initIPAddress();
    // True for a dotted-quad IPv4 text such as "192.168.1.199".
    static bool isDottedQuad(const QString& text);
};

#include "video_io/ite6805_i2c_rdwr.h"

#include "video_io/drv_i2c0.h"
#include "video_io/ite6805_reg.h"

#include <algorithm>
#include <cstring>

using namespace it6805;

u8 ite6805_i2c_rdwr::rd(u8 dev, u8 reg) {
    u8 v = 0;
    Drv_I2C0::i2c_read(m_fd, dev, reg, &v, 1);
    return v;
}

int ite6805_i2c_rdwr::wr(u8 dev, u8 reg, const u8* data, int n) {
    if (n <= 0) return 0;
    return Drv_I2C0::i2c_write(m_fd, dev, reg, data, n) ? 0 : 1;
}

// Long reads go in pieces the bus access takes; a failed piece reads 0.
int ite6805_i2c_rdwr::brd(u8 dev, u8 reg, int n, u8* data) {
    int failed = 0;
    for (int done = 0; done < n;) {
        const int piece = std::min(n - done, int(Drv_I2C0::kMaxRead));
        if (!Drv_I2C0::i2c_read(m_fd, dev, u8(reg + done), data + done, piece)) {
            std::memset(data + done, 0, size_t(piece));
            failed = 1;
        }
        done += piece;
    }
    return failed;
}

u8 ite6805_i2c_rdwr::hdmirxrd(u8 reg, int) { return rd(ADDR_HDMIRX, reg); }
int ite6805_i2c_rdwr::hdmirxwr(u8 reg, u8 value, int) { return wr(ADDR_HDMIRX, reg, &value, 1); }
void ite6805_i2c_rdwr::hdmirxset(u8 reg, u8 mask, u8 value, int rx) {
    const u8 old = hdmirxrd(reg, rx);
    hdmirxwr(reg, u8((old & ~mask) | (value & mask)), rx);
}
int ite6805_i2c_rdwr::hdmirxbwr(u8 reg, int n, const u8* data, int) { return wr(ADDR_HDMIRX, reg, data, n); }
int ite6805_i2c_rdwr::hdmirxbrd(u8 reg, int n, u8* data, int) { return brd(ADDR_HDMIRX, reg, n, data); }

void ite6805_i2c_rdwr::hdimrx_write_init(const iTE6805_INI_REG* table, int rx) {
    for (; table->ucAddr != 0xFF; ++table) hdmirxset(table->ucAddr, table->andmask, table->ucValue, rx);
}

u8 ite6805_i2c_rdwr::cecrd_6805(u8 reg, int) { return rd(ADDR_CEC, reg); }
int ite6805_i2c_rdwr::cecwr_6805(u8 reg, u8 value, int) { return wr(ADDR_CEC, reg, &value, 1); }
void ite6805_i2c_rdwr::cecset_6805(u8 reg, u8 mask, u8 value, int rx) {
    const u8 old = cecrd_6805(reg, rx);
    cecwr_6805(reg, u8((old & ~mask) | (value & mask)), rx);
}
int ite6805_i2c_rdwr::cecbrd_it6805(u8 reg, int n, u8* data, int) { return brd(ADDR_CEC, reg, n, data); }
int ite6805_i2c_rdwr::cecbwr_it6805(u8 reg, int n, const u8* data, int) { return wr(ADDR_CEC, reg, data, n); }

int ite6805_i2c_rdwr::edid_ram_wr(u8 reg, int n, const u8* data, int) { return wr(ADDR_EDIDRAM, reg, data, n); }
int ite6805_i2c_rdwr::lvdsrxwr(u8 reg, u8 value, int) { return wr(ADDR_LVDSRX, reg, &value, 1); }

#pragma once
// Register access to one IT6805: the receiver at 0x90 (eight banks through
// register 0x0F) and its CEC block at 0xC8. The caller has selected the
// receiver's channel on the switch, so the receiver index every operation
// takes is not used for addressing. A read that is not acknowledged yields 0;
// a write that is not acknowledged returns 1 and is otherwise ignored, as the
// state machines do not check transfers.
#include "core/global.h"

// One row of an initialisation table: a masked write; reg 0xFF ends it.
struct iTE6805_INI_REG {
    u8 ucAddr;
    u8 andmask;
    u8 ucValue;
};

class ite6805_i2c_rdwr {
public:
    // fd names the bus (Drv_I2C0); it is read at every transfer, so the
    // manager may open the bus after the driver exists.
    explicit ite6805_i2c_rdwr(const int& fd) : m_fd(fd) {}

    u8 hdmirxrd(u8 reg, int rx);
    int hdmirxwr(u8 reg, u8 value, int rx);
    void hdmirxset(u8 reg, u8 mask, u8 value, int rx);
    int hdmirxbwr(u8 reg, int n, const u8* data, int rx);
    int hdmirxbrd(u8 reg, int n, u8* data, int rx);
    void hdimrx_write_init(const iTE6805_INI_REG* table, int rx);

    u8 cecrd_6805(u8 reg, int rx);
    int cecwr_6805(u8 reg, u8 value, int rx);
    void cecset_6805(u8 reg, u8 mask, u8 value, int rx);
    int cecbrd_it6805(u8 reg, int n, u8* data, int rx);
    int cecbwr_it6805(u8 reg, int n, const u8* data, int rx);

    int edid_ram_wr(u8 reg, int n, const u8* data, int rx);
    int lvdsrxwr(u8 reg, u8 value, int rx);

private:
    u8 rd(u8 dev, u8 reg);
    int wr(u8 dev, u8 reg, const u8* data, int n);
    int brd(u8 dev, u8 reg, int n, u8* data);

    const int& m_fd;
};

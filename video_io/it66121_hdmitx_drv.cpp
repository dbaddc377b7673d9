#include "video_io/it66121_hdmitx_drv.h"

#include "core/utils.h"
#include "video_io/sdi_it66121.h"

using namespace it66121reg;

u8 it66121_hdmitx_drv::HDMITX_ReadI2C_Byte(u8 reg) {
    u8 v = 0;
    m_bus.I2C2_IT66121_Read(kAddress, reg, 1, &v);
    return v;
}

int it66121_hdmitx_drv::HDMITX_ReadI2C_ByteN(u8 reg, u8* data, int count) {
    return m_bus.I2C2_IT66121_Read(kAddress, reg, count, data);
}

int it66121_hdmitx_drv::HDMITX_WriteI2C_Byte(u8 reg, u8 value) {
    return m_bus.I2C2_IT66121_Write(kAddress, reg, 1, &value);
}

int it66121_hdmitx_drv::HDMITX_SetI2C_Byte(u8 reg, u8 mask, u8 value) {
    if (mask != 0xFF) value = u8((HDMITX_ReadI2C_Byte(reg) & ~mask) | (value & mask));
    return HDMITX_WriteI2C_Byte(reg, value);
}

int it66121_hdmitx_drv::HDMITX_OrReg_Byte(u8 reg, u8 bits) {
    return HDMITX_WriteI2C_Byte(reg, u8(HDMITX_ReadI2C_Byte(reg) | bits));
}

int it66121_hdmitx_drv::HDMITX_AndReg_Byte(u8 reg, u8 bits) {
    return HDMITX_WriteI2C_Byte(reg, u8(HDMITX_ReadI2C_Byte(reg) & bits));
}

void it66121_hdmitx_drv::Switch_HDMITX_Bank(u8 bank) { HDMITX_SetI2C_Byte(BANK, 0x01, u8(bank & 1)); }

void it66121_hdmitx_drv::hdmitx_LoadRegSetting(const RegSetEntry* table, size_t rows) {
    for (size_t i = 0; i < rows; ++i) {
        const RegSetEntry& r = table[i];
        if (r.invAndMask == 0) {
            if (r.offset == 0) return;  // end
            Utils::sleep_ms(r.offset);
        } else {
            HDMITX_SetI2C_Byte(r.offset, r.invAndMask, r.OrMask);
        }
    }
}

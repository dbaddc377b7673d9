#pragma once
// I2C access of the SDI-path transmitter: the same transfers as Drv_I2C0 on
// the source manager's bus descriptor.
#include "core/global.h"

class vimrasource;

class sdi_it66121 {
public:
    explicit sdi_it66121(vimrasource& source) : m_source(source) {}

    // 1 when acknowledged, 0 otherwise. Reads take at most 100 bytes.
    int I2C2_IT66121_Write(u8 device, u8 reg, int count, const u8* data);
    int I2C2_IT66121_Read(u8 device, u8 reg, int count, u8* data);

private:
    vimrasource& m_source;
};

#include "video_io/it66121_sys.h"

#include "core/utils.h"
#include "platform/board.h"
#include "video_io/drv_i2c0.h"
#include "video_io/it66121_hdmitx_drv.h"
#include "video_io/it66121_hdmitx_sys.h"
#include "video_io/sdi_it66121.h"
#include "video_io/vimrasource.h"

using namespace it66121reg;

int sdi_it66121::I2C2_IT66121_Write(u8 device, u8 reg, int count, const u8* data) {
    return Drv_I2C0::i2c_write(m_source.fd, device, reg, data, count);
}

int sdi_it66121::I2C2_IT66121_Read(u8 device, u8 reg, int count, u8* data) {
    return Drv_I2C0::i2c_read(m_source.fd, device, reg, data, count);
}

it66121_sys::it66121_sys(vimrasource& source)
    : sdi(std::make_unique<sdi_it66121>(source)), m_source(source) {
    hdmitx_drv = std::make_unique<it66121_hdmitx_drv>(*sdi);
    hdmitx_sys = std::make_unique<it66121_hdmitx_sys>(*hdmitx_drv);
}

it66121_sys::~it66121_sys() = default;

void it66121_sys::sdi_it66121_init() {
    GpioLines& gpio = Board::get().gpio();
    gpio.setLine(GpioName::kSdiTransmitter, 1);
    gpio.setLine(GpioName::kGs2971Reset, 1);
}

int it66121_sys::IT66121_Test() {
    hdmitx_drv->Switch_HDMITX_Bank(0);
    u8 id[2] = {};
    if (!hdmitx_drv->HDMITX_ReadI2C_ByteN(VENDOR_ID0, id, 2)) return 0;
    return (id[1] << 8) + id[0] == 0x4954 ? 1 : 0;
}

void it66121_sys::InitHDMITX_Variable() {
    hdmitx_drv->hdmiTxDev = it66121_hdmitx_sys::InstanceData;
    hdmitx_sys->HPDStatus = 0;
    hdmitx_sys->HPDChangeStatus = 0;
}

void it66121_sys::InitHDMITX() {
    using namespace it66121tables;
    it66121_hdmitx_drv& d = *hdmitx_drv;
    d.hdmitx_LoadRegSetting(HDMITX_Init_Table);
    d.hdmitx_LoadRegSetting(HDMITX_DefaultVideo_Table);
    d.hdmitx_LoadRegSetting(HDMITX_SetHDMI_Table);
    d.hdmitx_LoadRegSetting(HDMITX_DefaultAVIInfo_Table);
    d.hdmitx_LoadRegSetting(HDMITX_DeaultAudioInfo_Table);
    d.hdmitx_LoadRegSetting(HDMITX_Aud_CHStatus_LPCM_20bit_48Khz);
    d.hdmitx_LoadRegSetting(HDMITX_AUD_SPDIF_2ch_24bit);
}

void it66121_sys::IT66121_init() {
    InitHDMITX_Variable();
    InitHDMITX();
    CHANGE_INPUT(7);
    GS2971_Reset();
}

void it66121_sys::CHANGE_INPUT(int code) {
    static const u8 vics[17] = {2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 31, 32, 33, 34};
    const int k = code % 18;
    hdmitx_sys->HDMITX_ChangeDisplayOption(k >= 1 && k <= 17 ? vics[k - 1] : 1, 0);
}

// From the GUI thread too: only the line and the sleep.
void it66121_sys::GS2971_Reset() {
    GpioLines& gpio = Board::get().gpio();
    gpio.setLine(GpioName::kGs2971Reset, 0);
    Utils::sleep_ms(50);
    gpio.setLine(GpioName::kGs2971Reset, 1);
}

void it66121_sys::HDMITX_DevLoopProc() { hdmitx_sys->HDMITX_DevLoopProc(); }

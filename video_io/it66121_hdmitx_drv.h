#pragma once
// Register-level operations of the IT66121 transmitter at 0x98: byte access,
// masked writes, the bank bit and the {register, mask, value} tables.
#include "core/global.h"

#include <cstddef>

class sdi_it66121;

// One table row. mask 0xFF: write value; mask 1..0xFE: read-modify-write;
// mask 0 with reg != 0: sleep reg milliseconds; {0, 0, 0}: end of table.
struct RegSetEntry {
    u8 offset;
    u8 invAndMask;
    u8 OrMask;
};

// The transmitter's device record.
struct HDMITXDEV {
    u8 I2C_DEV;
    u8 I2C_ADDR;
    u8 bInputVideoSignalType;
    u8 bOutputAudioMode;
    u8 bAudioChannelSwap;
    u8 bAudioChannelEnable;
    u8 bAudFs;
    u32 TMDSClock;
    u8 bAuthenticated;
    u8 bHDMIMode;
    u8 bIntPOL;
    u8 bHPD;
};

namespace it66121reg {
constexpr u8 kAddress = 0x98;
constexpr u8 VENDOR_ID0 = 0x00, VENDOR_ID1 = 0x01;  // read 0x54, 0x49
constexpr u8 SW_RST = 0x04;
constexpr u8 INT_STAT1 = 0x06, INT_STAT2 = 0x07;
constexpr u8 INT_MASK1 = 0x09, INT_MASK2 = 0x0A;
constexpr u8 INT_CLR0 = 0x0C, INT_CLR1 = 0x0D;
constexpr u8 SYS_STATUS = 0x0E;  // bit 6 HPD, bit 7 interrupt pending
constexpr u8 BANK = 0x0F;        // bit 0 register bank
// DDC master.
constexpr u8 DDC_MASTER = 0x10, DDC_HEADER = 0x11, DDC_OFFSET = 0x12, DDC_COUNT = 0x13, DDC_SEGMENT = 0x14;
constexpr u8 DDC_CMD = 0x15, DDC_STATUS = 0x16, DDC_FIFO = 0x17;
constexpr u8 DDC_CMD_EDID_READ = 0x03, DDC_CMD_FIFO_CLEAR = 0x09, DDC_CMD_ABORT = 0x0F;
constexpr u8 DDC_DONE = 0x80, DDC_ERRORS = 0x38;
constexpr int DDC_FIFO_SIZE = 32;
constexpr u32 kDdcWaitMs = 200;  // longest wait for a DDC command to end
constexpr u8 AFE_DRV = 0x61;
constexpr u8 INPUT_MODE = 0x70;
constexpr u8 HDMI_MODE = 0xC0;
constexpr u8 GCP = 0xC1;         // bit 0 AV mute
constexpr u8 PKT_GEN_CTRL = 0xC6;
constexpr u8 AVI_INFOFRM_CTRL = 0xCD;
constexpr u8 AUD_INFOFRM_CTRL = 0xCE;
constexpr u8 VSI_INFOFRM_CTRL = 0xD2;
constexpr u8 INT_STAT_PENDING = 0xEE;
// Bank 1: AVI InfoFrame bytes 1-5 at 0x58-0x5C, checksum 0x5D, bytes 6-13 at 0x5E-0x65.
constexpr u8 AVI_DB1 = 0x58, AVI_SUM = 0x5D, AVI_DB6 = 0x5E;
}  // namespace it66121reg

class it66121_hdmitx_drv {
public:
    explicit it66121_hdmitx_drv(sdi_it66121& bus) : m_bus(bus) {}

    HDMITXDEV hdmiTxDev{};
    u8 flags = 0;  // bit 1 HDMI mode, bit 3 last HPD state

    u8 HDMITX_ReadI2C_Byte(u8 reg);
    int HDMITX_ReadI2C_ByteN(u8 reg, u8* data, int count);
    int HDMITX_WriteI2C_Byte(u8 reg, u8 value);
    // mask 0xFF writes value without reading the register first.
    int HDMITX_SetI2C_Byte(u8 reg, u8 mask, u8 value);
    int HDMITX_OrReg_Byte(u8 reg, u8 bits);
    int HDMITX_AndReg_Byte(u8 reg, u8 bits);
    void Switch_HDMITX_Bank(u8 bank);
    // Applies rows in order up to the end row (or `rows` rows).
    void hdmitx_LoadRegSetting(const RegSetEntry* table, size_t rows);
    template <size_t N>
    void hdmitx_LoadRegSetting(const RegSetEntry (&table)[N]) {
        hdmitx_LoadRegSetting(table, N);
    }

private:
    sdi_it66121& m_bus;
};

// The tables, as given by the chip's documentation where known.
namespace it66121tables {
extern const RegSetEntry HDMITX_Init_Table[31];
extern const RegSetEntry HDMITX_DefaultVideo_Table[4];
extern const RegSetEntry HDMITX_SetHDMI_Table[4];
extern const RegSetEntry HDMITX_SetDVI_Table[1];
extern const RegSetEntry HDMITX_DefaultAVIInfo_Table[18];
extern const RegSetEntry HDMITX_DeaultAudioInfo_Table[11];
extern const RegSetEntry HDMITX_Aud_CHStatus_LPCM_20bit_48Khz[12];
extern const RegSetEntry HDMITX_AUD_SPDIF_2ch_24bit[9];
extern const RegSetEntry HDMITX_AUD_I2S_2ch_24bit[1];
extern const RegSetEntry HDMITX_DefaultAudio_Table[1];
extern const RegSetEntry HDMITX_PwrOn_Table[10];
extern const RegSetEntry HDMITX_PwrDown_Table[10];
}  // namespace it66121tables

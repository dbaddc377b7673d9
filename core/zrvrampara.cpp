#include "core/zrvrampara.h"

ZrvRamPara* ZrvRamPara::p_zrvrampara_config = nullptr;
u8 g_cut_source_state[30];
const std::array<u8, RamFile::FILE_SIZE> default_para_ramlist{};

WIN_RECORD PARA_RAM_IMAGE::win(int) const { return WIN_RECORD{}; }
void PARA_RAM_IMAGE::setWin(int, const WIN_RECORD&) {}
CROP_RECORD PARA_RAM_IMAGE::crop(int) const { return CROP_RECORD{}; }
void PARA_RAM_IMAGE::setCrop(int, const CROP_RECORD&) {}
SIGNAL_PARA PARA_RAM_IMAGE::signal(int) const { return SIGNAL_PARA{}; }
void PARA_RAM_IMAGE::setSignal(int, const SIGNAL_PARA&) {}

namespace ZrvFiles {
std::string customModePath(int slot) { return "/data/modes/custom_mode" + std::to_string(slot + 1); }
std::string modeOsdPath(int) { return {}; }
}  // namespace ZrvFiles

ZrvRamPara* ZrvRamPara::pInstance() {
    if (!p_zrvrampara_config) {
        p_zrvrampara_config = new ZrvRamPara();
        p_zrvrampara_config->load();
    }
    return p_zrvrampara_config;
}
ZrvRamPara::ZrvRamPara(QObject* parent) : QObject(parent) {
    std::memset(&live_image, 0, sizeof live_image);
    std::memset(&shadow_image, 0, sizeof shadow_image);
    std::memset(user_mode, 0xFF, sizeof user_mode);
    std::memset(&reg_block, 0, sizeof reg_block);
}
void ZrvRamPara::load() {}
int ZrvRamPara::test_signal(int code) { emit sig_update_para(code); return 1; }
int ZrvRamPara::ram_para_save() { return test_signal(1); }
int ZrvRamPara::ram_para_reset() { return 0; }
int ZrvRamPara::ram_para_persist(int) { return 0; }
int ZrvRamPara::ZrvRamParaDeal(const u8*, u16, u32) { return 1; }
int ZrvRamPara::ZrvModeUserRamParaDeal(const u8*, u16, u32) { return 1; }
int ZrvRamPara::ZrvGetImageSource(const u8*, u8, short*, char*, u8) { return 255; }
int ZrvRamPara::ZrvGetSourceNum(int, int) { return 0; }
void ZrvRamPara::ZrvCropSourceInit() {}
int ZrvRamPara::ZrvGetCropID(int, int) { return 0; }
int ZrvRamPara::ZrvAddCropID(int) { return 0; }
void ZrvRamPara::ZrvGetCropPara(int, int, CROP_PARA*, int* index) { if (index) *index = 40; }
void ZrvRamPara::ZrvSetCropPara(char, char, const CROP_PARA*) {}
void ZrvRamPara::ZrvAddNewCrop(int, const CROP_PARA*) {}
void ZrvRamPara::ZrvDeleteCrop(char, char) {}
void ZrvRamPara::ZrvSetImageSource(int, char, char) {}
void ZrvRamPara::ZrvSetEDIDPara(int, short, short, short) {}
int ZrvRamPara::ZrvSetSignalPara(int, u16, u16, u8) { return 255; }
int ZrvRamPara::ZrvLanguageChanged() { return 0; }
int ZrvRamPara::ZrvUserModeSaved(int) { return 0; }
int ZrvRamPara::ZrvGetCurrentModeIndex() { return 0; }
int ZrvRamPara::ZrvRecallUserMode(int) { return 0; }
int ZrvRamPara::ZrvRequestUserModeSave(int) { return 0; }
int ZrvRamPara::mode_file_write(int, int) { return 0; }
int ZrvRamPara::mode_file_deal(int, int) { return 0; }
bool ZrvRamPara::writeRamFile(const u8*) { return false; }

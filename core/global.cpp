#include "core/global.h"

#include "platform/board.h"

#include <QMutex>

u32 TimeTicks::load() const { return u32(Board::get().clock().nowMs() / 10); }
TimeTicks G_timeTicks;

std::atomic<u8> g_debugSwitch{254};
u32 g_port = 5005;
int g_int_tcp_port = 5005;
u32 g_BPS = 115200;
u32 g_dataLen = 32;
std::atomic<u8> g_udpnetmode{1};
std::atomic<u8> g_networkMode{1};
std::atomic<u8> g_passby_trans_port{255};
std::atomic<u8> ScreenState{1};
std::atomic<u8> g_force_bkcolor{1};
std::atomic<u32> g_auto_lock_time{30000};
std::atomic<u32> g_back_to_mainwindow_time{18000};
std::atomic<u8> g_Tarn_cloud{0};

QString g_str_ip, g_srt_mask, g_str_gateway, g_str_barcode;
QString g_str_wifi_ip = QStringLiteral("192.168.22.101");
QString g_check_edid, g_imagelayoutpassword, g_usb_grade_path, g_rcv_sync_led;
QString g_Tarn_cloudserverip, g_Tarn_clouduserid, g_Tarn_controllername;
int g_Tarn_cloudserverport = 0;
std::atomic<u8> g_check_source{255};
std::atomic<u32> g_zrv_max_pixel{0xF00000};

QMutex& settingsLock() {
    static QMutex m;
    return m;
}

QStringList factoryage_log;
int factoryage_log_num = 0;
char g_pid[32] = {};
std::atomic<u8> g_update_status{0};

std::atomic<int> g_page_focus{0};
std::atomic<u8> g_language{0};

std::atomic<u8> g_fpga_c331_start{0};
std::atomic<u8> g_set_led_para{0};
std::atomic<u8> g_set_led_setup{0};
std::atomic<u8> g_osd_update{0};
std::atomic<u8> g_app_reset_flag{0};
std::atomic<u32> G_reboot_tickTicks{0};
std::atomic<u8> pc_cmd_valid{0};
std::atomic<u32> pc_cmd_time{0};

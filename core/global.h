#pragma once
// Process-wide globals shared by more than one subsystem. Flags handed
// between threads are atomics.
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;

// 10 ms ticks of the platform's monotonic clock. Reading it never depends on
// the GUI timer running, so time-outs keep running while the GUI thread
// waits on a lock.
struct TimeTicks {
    u32 load() const;
    operator u32() const { return load(); }
};
extern TimeTicks G_timeTicks;

extern std::atomic<u8> g_debugSwitch;        // 254: console debug printing on
extern u32 g_port;                           // TCP command port
extern int g_int_tcp_port;
extern u32 g_BPS;                            // both serial lines
extern u32 g_dataLen;                        // serial receive size in KiB
extern std::atomic<u8> g_udpnetmode;
extern std::atomic<u8> g_networkMode;
extern std::atomic<u8> g_passby_trans_port;  // 1 RS-485, 2 TCP, 3 UDP, 4 the 4G line, 255 none
extern std::atomic<u8> ScreenState;          // 1 showing, 0 blacked out
extern std::atomic<u8> g_force_bkcolor;
extern std::atomic<u32> g_auto_lock_time;
extern std::atomic<u32> g_back_to_mainwindow_time;
extern std::atomic<u8> g_Tarn_cloud;

// Settings mirrors; written by the settings store, read by many threads:
// take settingsLock() around reads and writes of the strings.
extern QString g_str_ip, g_srt_mask, g_str_gateway, g_str_barcode, g_str_wifi_ip;
extern QString g_check_edid, g_imagelayoutpassword, g_usb_grade_path, g_rcv_sync_led;
extern QString g_Tarn_cloudserverip, g_Tarn_clouduserid, g_Tarn_controllername;
extern int g_Tarn_cloudserverport;
extern std::atomic<u8> g_check_source;
extern std::atomic<u32> g_zrv_max_pixel;
class QMutex;
QMutex& settingsLock();

extern QStringList factoryage_log;  // GUI thread only
extern int factoryage_log_num;
extern char g_pid[32];              // device id, 32 hex digits, no terminator
extern std::atomic<u8> g_update_status;

// Front panel.
extern std::atomic<int> g_page_focus;
extern std::atomic<u8> g_language;

// Hand-overs between the worker threads.
extern std::atomic<u8> g_fpga_c331_start;
extern std::atomic<u8> g_set_led_para;
extern std::atomic<u8> g_set_led_setup;
extern std::atomic<u8> g_osd_update;
extern std::atomic<u8> g_app_reset_flag;
extern std::atomic<u32> G_reboot_tickTicks;
extern std::atomic<u8> pc_cmd_valid;
extern std::atomic<u32> pc_cmd_time;
